// A host's view of KestrelLink.dll: every export resolves by its exported name and by its ordinal
// to the same address, the six decorated exports do not resolve by their plain names, unused
// ordinals resolve to nothing, and calls through looked-up addresses reach the library.
// Usage: dll_lookup_test <path of KestrelLink.dll>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr int kSkip = 77;  // ctest's SKIP_RETURN_CODE
int failures = 0;

void Check(bool ok, const char* what, const char* detail = "") {
    if (!ok) {
        std::printf("FAIL: %s %s\n", what, detail);
        ++failures;
    }
}

struct ExportRow {
    int ordinal;
    const char* name;
    const char* windowsName;
};

constexpr ExportRow kExports[] = {
#define KL_EXPORT_ROW(ordinal, name, linuxSymbol, windowsSymbol) {ordinal, name, windowsSymbol},
#include "export_rows.inc"
#undef KL_EXPORT_ROW
};

// A looked-up address as a function of the export's own type.
template <typename Function>
Function As(FARPROC address) {
    Function function;
    static_assert(sizeof(function) == sizeof(address));
    std::memcpy(&function, &address, sizeof(function));
    return function;
}

FARPROC ByOrdinal(HMODULE module, int ordinal) {
    return GetProcAddress(module, MAKEINTRESOURCEA(ordinal));
}

void CheckEveryRow(HMODULE module) {
    for (const ExportRow& row : kExports) {
        FARPROC byName = GetProcAddress(module, row.windowsName);
        Check(byName != nullptr, "does not resolve by its exported name:", row.windowsName);
        Check(ByOrdinal(module, row.ordinal) == byName, "ordinal lands elsewhere than", row.name);
        bool decorated = std::string(row.name) != row.windowsName;
        if (decorated) {
            Check(GetProcAddress(module, row.name) == nullptr,
                  "resolves by its plain name:", row.name);
        }
    }
    int lastOrdinal = 0;
    for (const ExportRow& row : kExports) lastOrdinal = std::max(lastOrdinal, row.ordinal);
    for (int unused : {1, 2, 3, 4, lastOrdinal + 1}) {
        Check(ByOrdinal(module, unused) == nullptr, "an unused ordinal resolves",
              std::to_string(unused).c_str());
    }
}

// The ordinals a host may hard-code, spelled out rather than taken from the table.
void CheckKnownOrdinals(HMODULE module) {
    Check(ByOrdinal(module, 5) == GetProcAddress(module, "ProgramDevice"), "ordinal 5",
          "is not ProgramDevice");
    Check(ByOrdinal(module, 24) == GetProcAddress(module, "?Reload_Driver_B8@@YAKGG@Z"),
          "ordinal 24", "is not Reload_Driver_B8");
    Check(ByOrdinal(module, 60) == GetProcAddress(module, "test_APA"), "ordinal 60",
          "is not test_APA");
}

// With no vendor library loaded, the reload's vendor call is missing and it reports failure (4);
// unloading a vendor library that was never loaded reports 0. Both cross the boundary with the
// header's types, one by ordinal and one by name.
void CheckCalls(HMODULE module) {
    using ReloadDriver = unsigned long (*)(unsigned short, unsigned short);
    using Unload = int (*)();
    auto reload = As<ReloadDriver>(ByOrdinal(module, 24));
    auto unload = As<Unload>(GetProcAddress(module, "UnLoadD2XXDLL"));
    Check(reload && reload(0x0403, 0x6010) == 4, "Reload_Driver_B8 by ordinal", "did not return 4");
    Check(unload && unload() == 0, "UnLoadD2XXDLL by name", "did not return 0");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <path of KestrelLink.dll>\n", argv[0]);
        return 2;
    }
    if (GetFileAttributesA(argv[1]) == INVALID_FILE_ATTRIBUTES) {
        std::printf("SKIP: %s was not built (it links once every export is implemented)\n",
                    argv[1]);
        return kSkip;
    }
    wchar_t path[MAX_PATH];
    MultiByteToWideChar(CP_UTF8, 0, argv[1], -1, path, MAX_PATH);
    HMODULE module = LoadLibraryW(path);
    if (!module) {
        std::printf("FAIL: LoadLibraryW(%s) failed with error %lu\n", argv[1], GetLastError());
        return 1;
    }
    CheckEveryRow(module);
    CheckKnownOrdinals(module);
    CheckCalls(module);
    FreeLibrary(module);
    std::printf("%s: %d failures\n", failures ? "FAIL" : "ok", failures);
    return failures == 0 ? 0 : 1;
}
