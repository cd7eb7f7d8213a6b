# Everything that depends on the export table is generated from src/shell/exports.tsv, so the
# Linux version script, the Windows .def file, the public header and the tests cannot drift apart.

# Reads the table into parallel lists in the caller's scope: <prefix>_ORDINALS, _NAMES, _LINUX,
# _WINDOWS, _RESULTS and _ARGUMENTS (argument lists have their commas replaced by "|", as CMake
# lists cannot hold semicolons; none appear in the table).
function(kestrel_read_export_table table prefix)
    file(RELATIVE_PATH relative ${PROJECT_SOURCE_DIR} ${table})
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
# 5 to 60; decorated names point at the export boundary's symbol KlDecorated_<name>).
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

# A .def file for import libraries: every export under the name the DLL exports it by (decorated
# names as they are), with its ordinal.
function(kestrel_generate_import_def table def_out)
    kestrel_read_export_table(${table} EXP)
    set(def "LIBRARY KestrelLink.dll\nEXPORTS\n")
    foreach(ordinal windows_symbol IN ZIP_LISTS EXP_ORDINALS EXP_WINDOWS)
        string(APPEND def "    ${windows_symbol} @${ordinal}\n")
    endforeach()
    kestrel_write_if_changed(${def_out} "${def}")
endfunction()

# A translation unit that compiles only when the public header declares exactly the table's
# functions with exactly the table's types: one static_assert per row on the function's type, and
# a failing static_assert for any function the header declares that the table lacks.
function(kestrel_generate_header_check table header cpp_out)
    kestrel_read_export_table(${table} EXP)
    set(cpp "// Generated from ${EXP_SOURCE} by cmake/exports.cmake; do not edit.\n")
    string(APPEND cpp "#include <type_traits>\n\n#include \"kestrellink.h\"\n\n")
    string(APPEND cpp "#define KL_SAME_TYPE(function, type) \\\n")
    string(APPEND cpp "    static_assert(std::is_same_v<decltype(&function), type>, \\\n")
    string(APPEND cpp "                  #function \": kestrellink.h and exports.tsv disagree on its type\")\n\n")
    foreach(name result arguments IN ZIP_LISTS EXP_NAMES EXP_RESULTS EXP_ARGUMENTS)
        string(REPLACE "|" "," arguments "${arguments}")
        string(APPEND cpp "KL_SAME_TYPE(${name}, ${result} (*)(${arguments}));\n")
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

# The export boundary: the one translation unit that defines the exported functions. Each is a
# one-line forwarder to its implementation, the C++ function kl::exports::<name> with the same
# signature, defined in the subsystem that owns the export; a reader who greps an export's name
# lands on that code. Plain exports are extern "C". The decorated ones are C++ functions defined
# through the public header's declarations: they carry their Itanium names on Linux, and on
# Windows the header names their symbol KlDecorated_<name>, which the .def file exports under the
# MSVC name. An implementation whose signature differs from the table's leaves its forwarder's
# call undefined, and the library does not link. Each forwarder holds the process-wide export lock
# for the whole call.
function(kestrel_generate_export_boundary table cpp_out)
    kestrel_read_export_table(${table} EXP)
    set(declarations "")
    set(plain "")
    set(decorated "")
    foreach(name windows_symbol result arguments IN ZIP_LISTS
            EXP_NAMES EXP_WINDOWS EXP_RESULTS EXP_ARGUMENTS)
        string(REPLACE "|" "," parameters "${arguments}")
        set(forwarded "")
        if(NOT parameters STREQUAL "void")
            string(REPLACE "|" ";" parameter_list "${arguments}")
            foreach(parameter IN LISTS parameter_list)
                string(REGEX MATCH "[A-Za-z0-9_]+$" parameter_name "${parameter}")
                list(APPEND forwarded "${parameter_name}")
            endforeach()
            list(JOIN forwarded ", " forwarded)
        endif()
        string(APPEND declarations "${result} ${name}(${parameters});\n")
        set(definition "${result} ${name}(${parameters}) {\n    const ExportLock lock(ExportMutex());\n    return kl::exports::${name}(${forwarded});\n}\n")
        if(windows_symbol STREQUAL name)
            string(APPEND plain "${definition}")
        else()
            string(APPEND decorated "${definition}")
        endif()
    endforeach()
    set(cpp "// Generated from ${EXP_SOURCE} by cmake/exports.cmake; do not edit.\n//\n")
    string(APPEND cpp "// Every call from a host enters the library here and nowhere else, so what must hold for\n")
    string(APPEND cpp "// every export belongs in these forwarders (their template is in cmake/exports.cmake).\n")
    string(APPEND cpp "#include <mutex>\n\n#include \"kestrellink.h\"\n\n")
    string(APPEND cpp "namespace kl::exports {\n${declarations}}  // namespace kl::exports\n\n")
    string(APPEND cpp "namespace {\n\n")
    string(APPEND cpp "// Every export runs whole under this one lock, so calls from several host threads never\n")
    string(APPEND cpp "// interleave on the library's state or the cable; a blocking call holds the others back\n")
    string(APPEND cpp "// while it waits. Recursive: the message-box hook may call an export on the same thread.\n")
    string(APPEND cpp "// Constructed on first use, so loading the module still runs no code of the library's.\n")
    string(APPEND cpp "std::recursive_mutex& ExportMutex() {\n    static std::recursive_mutex mutex;\n    return mutex;\n}\n")
    string(APPEND cpp "using ExportLock = std::lock_guard<std::recursive_mutex>;\n\n}  // namespace\n\n")
    string(APPEND cpp "extern \"C\" {\n${plain}}  // extern \"C\"\n\n")
    string(APPEND cpp "// Exported under decorated names only (see kestrellink.h).\n${decorated}")
    kestrel_write_if_changed(${cpp_out} "${cpp}")
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

# Windows test support: kl_wchar is wchar_t there, while the tests spell their UTF-16 text as
# u"..." literals (char16_t, which is kl_wchar on Linux). For every export with a wide-string
# parameter this header adds an overload taking char16_t strings that forwards to the export.
# Its parameters convert only from char16_t pointers, so a call with null pointers alone still
# picks the export itself.
function(kestrel_generate_utf16_overloads table header_out)
    kestrel_read_export_table(${table} EXP)
    set(h "// Generated from ${EXP_SOURCE} by cmake/exports.cmake; do not edit.\n#pragma once\n\n")
    string(APPEND h "#include \"kestrellink.h\"\n\n#ifdef _WIN32\nnamespace kl_test {\n")
    string(APPEND h "struct Utf16In {\n    Utf16In(const char16_t* text) : text(text) {}\n")
    string(APPEND h "    operator const kl_wchar*() const { return reinterpret_cast<const kl_wchar*>(text); }\n")
    string(APPEND h "    const char16_t* text;\n};\n")
    string(APPEND h "struct Utf16InOut {\n    Utf16InOut(char16_t* text) : text(text) {}\n")
    string(APPEND h "    operator kl_wchar*() const { return reinterpret_cast<kl_wchar*>(text); }\n")
    string(APPEND h "    char16_t* text;\n};\n}  // namespace kl_test\n\n")
    foreach(name result arguments IN ZIP_LISTS EXP_NAMES EXP_RESULTS EXP_ARGUMENTS)
        if(NOT arguments MATCHES "kl_wchar")
            continue()
        endif()
        string(REPLACE "|" ";" parameters "${arguments}")
        set(declared "")
        set(forwarded "")
        foreach(parameter IN LISTS parameters)
            string(STRIP "${parameter}" parameter)
            string(REGEX MATCH "[A-Za-z0-9_]+$" parameter_name "${parameter}")
            if(parameter MATCHES "^const kl_wchar\\*")
                list(APPEND declared "kl_test::Utf16In ${parameter_name}")
                list(APPEND forwarded "static_cast<const kl_wchar*>(${parameter_name})")
            elseif(parameter MATCHES "^kl_wchar\\*")
                list(APPEND declared "kl_test::Utf16InOut ${parameter_name}")
                list(APPEND forwarded "static_cast<kl_wchar*>(${parameter_name})")
            else()
                list(APPEND declared "${parameter}")
                list(APPEND forwarded "${parameter_name}")
            endif()
        endforeach()
        list(JOIN declared ", " declared)
        list(JOIN forwarded ", " forwarded)
        string(APPEND h "inline ${result} ${name}(${declared}) {\n    return ${name}(${forwarded});\n}\n")
    endforeach()
    string(APPEND h "#endif\n")
    kestrel_write_if_changed(${header_out} "${h}")
endfunction()
