# The helpers every command shares (common.cpp) as one static library, for the tool's libraries
# (jtag/, flash/) and whatever links them; included by each, defined once.
if(NOT TARGET kestrel_common)
    add_library(kestrel_common STATIC ${CMAKE_CURRENT_LIST_DIR}/common.cpp)
    target_include_directories(kestrel_common PUBLIC ${CMAKE_CURRENT_LIST_DIR}
                               ${CMAKE_SOURCE_DIR}/include)
endif()
