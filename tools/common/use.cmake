# Makes sure kestrel_common exists for a part of the tool built on its own (the benchmarks build
# the JTAG and flash libraries without the tool).
if(NOT TARGET kestrel_common)
    add_subdirectory(${CMAKE_CURRENT_LIST_DIR} ${PROJECT_BINARY_DIR}/tools-common)
endif()
