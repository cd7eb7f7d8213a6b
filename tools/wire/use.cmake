# Makes sure kestrel_wire exists for a part of the tool built on its own (the benchmarks build
# the JTAG and flash libraries without the tool).
include(${CMAKE_CURRENT_LIST_DIR}/../common/use.cmake)
if(NOT TARGET kestrel_wire)
    add_subdirectory(${CMAKE_CURRENT_LIST_DIR} ${PROJECT_BINARY_DIR}/tools-wire)
endif()
