# Test support of the Windows cross build; included by tests/CMakeLists.txt.

# GoogleTest compiled for Windows from the sources Debian ships in the googletest package.
set(KESTREL_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
if(NOT EXISTS ${KESTREL_GOOGLETEST_SOURCE}/CMakeLists.txt)
    message(FATAL_ERROR "No GoogleTest sources in ${KESTREL_GOOGLETEST_SOURCE} (apt-get install googletest)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${KESTREL_GOOGLETEST_SOURCE} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(gtest_target gtest gtest_main gmock gmock_main)
    # Third-party code: our warning flags are not its contract.
    target_compile_options(${gtest_target} PRIVATE -w)
endforeach()

# Test programs and their DLLs share one folder, the folder Windows searches first.
set(KESTREL_WINDOWS_TEST_DIR ${PROJECT_BINARY_DIR}/bin)
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${KESTREL_WINDOWS_TEST_DIR})

if(TARGET ftd2xx_virtual)
    add_custom_command(OUTPUT ${KESTREL_WINDOWS_TEST_DIR}/ftd2xx.dll
        COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:ftd2xx_virtual> ${KESTREL_WINDOWS_TEST_DIR}/ftd2xx.dll
        DEPENDS ftd2xx_virtual
        COMMENT "Copying the virtual cable's ftd2xx.dll beside the test programs")
    add_custom_target(virtual_cable_beside_tests DEPENDS ${KESTREL_WINDOWS_TEST_DIR}/ftd2xx.dll)
endif()

# A program that loads ftd2xx.dll (directly, or through KestrelLink's LoadD2XXDLL) finds the
# virtual cable in its own folder.
function(kestrel_place_virtual_cable_beside target)
    if(TARGET virtual_cable_beside_tests)
        add_dependencies(${target} virtual_cable_beside_tests)
    endif()
endfunction()
