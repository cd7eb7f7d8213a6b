# Fails when a file of a layered tree includes a header of a folder above its own in the tree's
# layer order, or of a folder that is not a layer, or when the tree holds a folder that the order
# does not place.
# Usage: cmake -DSOURCE_DIR=<the tree> [-DLAYERS=<order's name in layers.cmake>]
#              -P cmake/check_layers.cmake
# LAYERS defaults to KESTREL_LAYERS, the library's order (src/). When layers.cmake sets
# <LAYERS>_OS_SEAM, a pattern of file paths, only those files may include the operating system's
# headers (unistd.h, fcntl.h, io.h, direct.h, windows.h, sys/...).
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/layers.cmake)
get_filename_component(SOURCE_DIR "${SOURCE_DIR}" ABSOLUTE)
get_filename_component(tree "${SOURCE_DIR}" NAME)
if(NOT LAYERS)
    set(LAYERS KESTREL_LAYERS)
endif()
if(NOT DEFINED ${LAYERS})
    message(FATAL_ERROR "cmake/layers.cmake sets no layer order named ${LAYERS}")
endif()
set(order ${${LAYERS}})

set(errors "")
file(GLOB entries LIST_DIRECTORIES true RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/*)
foreach(entry IN LISTS entries)
    if(IS_DIRECTORY ${SOURCE_DIR}/${entry} AND NOT entry IN_LIST order)
        string(APPEND errors
               "  ${tree}/${entry}/ is not in the layer order ${LAYERS} (cmake/layers.cmake)\n")
    endif()
endforeach()

foreach(layer IN LISTS order)
    list(FIND order ${layer} level)
    file(GLOB_RECURSE files RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/${layer}/*.h
         ${SOURCE_DIR}/${layer}/*.cpp)
    foreach(file IN LISTS files)
        file(STRINGS ${SOURCE_DIR}/${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"/]+/")
        foreach(line IN LISTS includes)
            string(REGEX REPLACE "^[^\"]*\"([^\"/]+)/.*$" "\\1" included "${line}")
            list(FIND order ${included} included_level)
            if(included_level EQUAL -1)
                string(APPEND errors "  ${tree}/${file} includes ${included}/, which is not a layer\n")
            elseif(included_level GREATER level)
                string(APPEND errors
                       "  ${tree}/${file} includes ${included}/, a layer above ${layer}/\n")
            endif()
        endforeach()
    endforeach()
endforeach()

if(DEFINED ${LAYERS}_OS_SEAM)
    file(GLOB_RECURSE files RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/*.h ${SOURCE_DIR}/*.cpp)
    set(os_header "^[ \t]*#[ \t]*include[ \t]*<(unistd|fcntl|io|direct|windows)\\.h>|<sys/")
    foreach(file IN LISTS files)
        if(NOT file MATCHES "${${LAYERS}_OS_SEAM}")
            file(STRINGS ${SOURCE_DIR}/${file} includes REGEX "${os_header}")
            foreach(line IN LISTS includes)
                string(APPEND errors "  ${tree}/${file}: ${line}: only ${${LAYERS}_OS_SEAM} "
                                     "include the operating system's headers\n")
            endforeach()
        endif()
    endforeach()
endif()

if(errors)
    list(JOIN order " < " joined)
    message(FATAL_ERROR "Includes that run against the layer order (${joined}):\n${errors}")
endif()
