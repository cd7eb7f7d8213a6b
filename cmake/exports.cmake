# Everything that depends on the export table is generated from src/shell/exports.tsv, so the
# Linux version script, the Windows .def file, the public header and the tests cannot drift apart.

# Reads the table into parallel lists in the caller's scope: <prefix>_ORDINALS, _NAMES, _LINUX,
# _WINDOWS, _RESULTS and _ARGUMENTS (argument lists have their commas replaced by "|", as CMake
# lists cannot hold semicolons; none appear in the table).
function(kestrel_read_export_table table prefix)
    file(RELATIVE_PATH relative ${CMAKE_SOURCE_DIR} ${table})
    set(${prefix}_SOURCE ${relative} PARENT_SCOPE)
    file(STRINGS ${table} rows REGEX "^[0-9]")
    foreach(column ORDINALS NAMES LINUX WINDOWS RESULTS ARGUMENTS)
        set(${column} "")
    endforeach()
    foreach(row IN LISTS rows)
        string(REPLACE "," "|" row "${row}")
        string(REPLACE "\t" ";" fields "${row}")
        list(LENGTH fields count)
        if(NOT count EQUAL 6)
            message(FATAL_ERROR "${table}: row '${row}' does not have six tab-separated columns")
        endif()
        list(GET fields 0 ordinal)
        list(GET fields 1 name)
        list(GET fields 2 linux_symbol)
        list(GET fields 3 windows_symbol)
        list(GET fields 4 result)
        list(GET fields 5 arguments)
        list(APPEND ORDINALS ${ordinal})
        list(APPEND NAMES ${name})
        list(APPEND LINUX ${linux_symbol})
        list(APPEND WINDOWS ${windows_symbol})
        list(APPEND RESULTS "${result}")
        list(APPEND ARGUMENTS "${arguments}")
    endforeach()
    foreach(column ORDINALS NAMES LINUX WINDOWS RESULTS ARGUMENTS)
        set(${prefix}_${column} "${${column}}" PARENT_SCOPE)
    endforeach()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${table})
endfunction()

# Writes content to path only when it changed, so an unchanged table rebuilds nothing.
function(kestrel_write_if_changed path content)
    file(WRITE ${path}.tmp "${content}")
    configure_file(${path}.tmp ${path} COPYONLY)
endfunction()

# The Linux version script (only the 56 symbols are global) and the Windows .def file (ordinals
# 5 to 60; decorated names point at the implementation's C symbol KlDecorated_<name>).
function(kestrel_generate_export_files table map_out def_out)
    kestrel_read_export_table(${table} EXP)
    set(map "{\n  global:\n")
    set(def "LIBRARY KestrelLink.dll\nEXPORTS\n")
    foreach(ordinal name linux_symbol windows_symbol IN ZIP_LISTS
            EXP_ORDINALS EXP_NAMES EXP_LINUX EXP_WINDOWS)
        string(APPEND map "    ${linux_symbol};\n")
        if(windows_symbol STREQUAL name)
            string(APPEND def "    ${name} @${ordinal}\n")
        else()
            string(APPEND def "    ${windows_symbol}=KlDecorated_${name} @${ordinal}\n")
        endif()
    endforeach()
    string(APPEND map "  local: *;\n};\n")
    kestrel_write_if_changed(${map_out} "${map}")
    kestrel_write_if_changed(${def_out} "${def}")
endfunction()

# A translation unit that compiles only when the public header declares exactly the table's
# functions with exactly the table's types: one static_assert per row on the function's type
# (and, on Windows, on the KlDecorated_ implementation of each decorated export), and a failing
# static_assert for any function the header declares that the table lacks.
function(kestrel_generate_header_check table header cpp_out)
    kestrel_read_export_table(${table} EXP)
    set(cpp "// Generated from ${EXP_SOURCE} by cmake/exports.cmake; do not edit.\n")
    string(APPEND cpp "#include <type_traits>\n\n#include \"kestrellink.h\"\n#include \"shell/export.h\"\n\n")
    string(APPEND cpp "#define KL_SAME_TYPE(function, type) \\\n")
    string(APPEND cpp "    static_assert(std::is_same_v<decltype(&function), type>, \\\n")
    string(APPEND cpp "                  #function \": kestrellink.h and exports.tsv disagree on its type\")\n\n")
    foreach(name linux_symbol windows_symbol result arguments IN ZIP_LISTS
            EXP_NAMES EXP_LINUX EXP_WINDOWS EXP_RESULTS EXP_ARGUMENTS)
        string(REPLACE "|" "," arguments "${arguments}")
        set(type "${result} (*)(${arguments})")
        string(APPEND cpp "KL_SAME_TYPE(${name}, ${type});\n")
        if(NOT windows_symbol STREQUAL name)
            string(APPEND cpp "#ifdef _WIN32\nKL_SAME_TYPE(KlDecorated_${name}, ${type});\n#endif\n")
        endif()
    endforeach()

    file(READ ${header} header_text)
    string(REGEX MATCHALL "\nKL_API [^;(\n]*[ *]([A-Za-z_][A-Za-z0-9_]*)\\(" declarations "${header_text}")
    foreach(declaration IN LISTS declarations)
        string(REGEX REPLACE ".*[ *]([A-Za-z_][A-Za-z0-9_]*)\\($" "\\1" declared "${declaration}")
        if(NOT declared IN_LIST EXP_NAMES)
            string(APPEND cpp "static_assert(false, \"${declared} is declared in kestrellink.h but is not in exports.tsv\");\n")
        endif()
    endforeach()
    kestrel_write_if_changed(${cpp_out} "${cpp}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${header})
endfunction()

# A C++ include file with one row per export, for test programs that look exports up at run time:
# KL_EXPORT_ROW(ordinal, "name", "linux-symbol", "windows-symbol").
function(kestrel_generate_export_rows table inc_out)
    kestrel_read_export_table(${table} EXP)
    set(inc "// Generated from ${EXP_SOURCE} by cmake/exports.cmake; do not edit.\n")
    foreach(ordinal name linux_symbol windows_symbol IN ZIP_LISTS
            EXP_ORDINALS EXP_NAMES EXP_LINUX EXP_WINDOWS)
        string(APPEND inc "KL_EXPORT_ROW(${ordinal}, \"${name}\", \"${linux_symbol}\", \"${windows_symbol}\")\n")
    endforeach()
    kestrel_write_if_changed(${inc_out} "${inc}")
endfunction()
