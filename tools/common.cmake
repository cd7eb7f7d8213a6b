# The helpers every command shares (common.cpp) and the tool's platform seam (os.h, one file per
# platform) as one static library, for the tool's libraries (jtag/, flash/) and whatever links
# them; included by each, defined once.
if(NOT TARGET kestrel_common)
    if(WIN32)
        set(kestrel_os_source ${CMAKE_CURRENT_LIST_DIR}/os_windows.cpp)
    else()
        set(kestrel_os_source ${CMAKE_CURRENT_LIST_DIR}/os_linux.cpp)
    endif()
    add_library(kestrel_common STATIC ${CMAKE_CURRENT_LIST_DIR}/common.cpp ${kestrel_os_source})
    target_include_directories(kestrel_common PUBLIC ${CMAKE_CURRENT_LIST_DIR}
                               ${PROJECT_SOURCE_DIR}/include)
    target_link_libraries(kestrel_common PUBLIC ${CMAKE_DL_LIBS})
    if(WIN32)
        target_link_libraries(kestrel_common PUBLIC oleaut32)
    endif()
endif()
