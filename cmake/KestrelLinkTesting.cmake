# kestrellink_use_virtual_cable(<test>... [SCENARIO <file>])
#
# Runs the given tests against the virtual cable instead of the vendor's D2XX library: the
# library loads its vendor library by plain name, and the tests' environment puts the virtual
# cable's folder (and the library's) first on the loader's path. SCENARIO names a scenario file
# the virtual cable loads instead of its embedded default.
#
# On Windows the library looks for ftd2xx.dll only in the program's own folder and the system
# folders: copy the virtual cable's ftd2xx.dll beside the test program instead (docs/windows.md).
function(kestrellink_use_virtual_cable)
    cmake_parse_arguments(PARSE_ARGV 0 arg "" "SCENARIO" "")
    set(folders "$<TARGET_FILE_DIR:KestrelLink::virtual_cable>"
                "$<TARGET_FILE_DIR:KestrelLink::kestrellink>")
    if(WIN32)
        set(variable PATH)
    else()
        set(variable LD_LIBRARY_PATH)
    endif()
    if(CMAKE_VERSION VERSION_LESS 3.22)
        message(FATAL_ERROR "kestrellink_use_virtual_cable needs CMake 3.22 or newer")
    endif()
    # Each change prepends, so the virtual cable's folder ends up first.
    set(changes "")
    foreach(folder IN LISTS folders)
        list(PREPEND changes "${variable}=path_list_prepend:${folder}")
    endforeach()
    if(arg_SCENARIO)
        list(APPEND changes "VCABLE_SCENARIO=set:${arg_SCENARIO}")
    endif()
    set_property(TEST ${arg_UNPARSED_ARGUMENTS} APPEND PROPERTY ENVIRONMENT_MODIFICATION ${changes})
endfunction()
