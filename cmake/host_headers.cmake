# kestrel_find_header_library(<variable> <header>)
#
# Sets <variable> to an include folder that holds <header> (e.g. CLI/CLI.hpp) of a header-only
# library, or to <variable>-NOTFOUND. A native build searches as usual. A cross build (mingw)
# cannot put the build machine's /usr/include on its include path as a whole, as that folder's C
# library headers would shadow the target's own; it gets a folder of the build that links to
# just the library's top folder (CLI/, toml++/) in the build machine's include folder.
function(kestrel_find_header_library variable header)
    string(REGEX REPLACE "/.*$" "" top "${header}")
    if(NOT CMAKE_CROSSCOMPILING)
        find_path(KESTREL_HEADERS_${top} ${header})
        set(${variable} ${KESTREL_HEADERS_${top}} PARENT_SCOPE)
        return()
    endif()
    find_path(KESTREL_HOST_HEADERS_${top} ${header} PATHS /usr/include /usr/local/include
              NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
    if(NOT KESTREL_HOST_HEADERS_${top})
        set(${variable} ${variable}-NOTFOUND PARENT_SCOPE)
        return()
    endif()
    set(folder ${PROJECT_BINARY_DIR}/host-headers)
    if(NOT EXISTS ${folder}/${top})
        file(MAKE_DIRECTORY ${folder})
        file(CREATE_LINK ${KESTREL_HOST_HEADERS_${top}}/${top} ${folder}/${top} SYMBOLIC)
    endif()
    set(${variable} ${folder} PARENT_SCOPE)
endfunction()
