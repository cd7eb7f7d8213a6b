# Fails unless the README's C block (the host example) is exactly examples/consumer/host.c, the
# program the install check builds and runs, so that the README shows code that compiles.
# Usage: cmake -DREADME=<README.md> -DEXAMPLE=<host.c> -P readme_example.cmake
file(READ ${README} readme)
string(FIND "${readme}" "```c\n" start)
if(start EQUAL -1)
    message(FATAL_ERROR "${README} has no C block")
endif()
math(EXPR start "${start} + 5")
string(SUBSTRING "${readme}" ${start} -1 rest)
string(FIND "${rest}" "```" length)
string(SUBSTRING "${rest}" 0 ${length} block)
file(READ ${EXAMPLE} example)
if(NOT block STREQUAL example)
    file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/readme_block.c "${block}")
    message(FATAL_ERROR "The README's C block differs from ${EXAMPLE}; compare with "
                        "${CMAKE_CURRENT_BINARY_DIR}/readme_block.c")
endif()
