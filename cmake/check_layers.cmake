# Fails when a file of src/ includes a header of a folder above its own in KESTREL_LAYERS, or of a
# folder that is not a layer, or when src/ holds a folder that the order does not place.
# Usage: cmake -DSOURCE_DIR=<the src folder> -P cmake/check_layers.cmake
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/layers.cmake)
get_filename_component(SOURCE_DIR "${SOURCE_DIR}" ABSOLUTE)

set(errors "")
file(GLOB entries LIST_DIRECTORIES true RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/*)
foreach(entry IN LISTS entries)
    if(IS_DIRECTORY ${SOURCE_DIR}/${entry} AND NOT entry IN_LIST KESTREL_LAYERS)
        string(APPEND errors "  src/${entry}/ is not in the layer order (cmake/layers.cmake)\n")
    endif()
endforeach()

foreach(layer IN LISTS KESTREL_LAYERS)
    list(FIND KESTREL_LAYERS ${layer} level)
    file(GLOB_RECURSE files RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/${layer}/*.h
         ${SOURCE_DIR}/${layer}/*.cpp)
    foreach(file IN LISTS files)
        file(STRINGS ${SOURCE_DIR}/${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"/]+/")
        foreach(line IN LISTS includes)
            string(REGEX REPLACE "^[^\"]*\"([^\"/]+)/.*$" "\\1" included "${line}")
            list(FIND KESTREL_LAYERS ${included} included_level)
            if(included_level EQUAL -1)
                string(APPEND errors "  src/${file} includes ${included}/, which is not a layer\n")
            elseif(included_level GREATER level)
                string(APPEND errors "  src/${file} includes ${included}/, a layer above ${layer}/\n")
            endif()
        endforeach()
    endforeach()
endforeach()

if(errors)
    list(JOIN KESTREL_LAYERS " < " order)
    message(FATAL_ERROR "Includes that run against the layer order (${order}):\n${errors}")
endif()
