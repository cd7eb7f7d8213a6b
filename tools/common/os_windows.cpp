#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>

#include "common/os.h"

namespace kestrel::os {
namespace {

std::wstring ToWide(const std::string& text) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(n > 0 ? n - 1 : 0, L'\0');
    if (n > 1) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out.data(), n);
    return out;
}

std::string ToUtf8(const wchar_t* text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    return out;
}

std::string ModuleFile(HMODULE module) {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(module, path, MAX_PATH);
    return n == 0 || n >= MAX_PATH ? std::string() : ToUtf8(path);
}

}  // namespace

void* LoadLibraryFile(const std::string& path, std::string& error) {
    // Windows hands a later load by the plain module name (the KestrelLink library's load of
    // ftd2xx.dll) the module already loaded under that name.
    HMODULE library = LoadLibraryW(ToWide(path).c_str());
    if (!library) error = "Windows error " + std::to_string(GetLastError());
    return reinterpret_cast<void*>(library);
}

void* FindSymbol(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

std::string ExecutableFolder() {
    const std::string exe = ModuleFile(nullptr);
    const size_t separator = exe.find_last_of("\\/");
    return separator == std::string::npos ? "." : exe.substr(0, separator);
}

std::string ModulePath(const void* address) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            static_cast<LPCWSTR>(address), &module)) {
        return {};
    }
    return ModuleFile(module);
}

std::string SystemVendorLibrary() {
    // Searched as the KestrelLink library searches: the program's folder and the system
    // folders, never the current folder.
    HMODULE library = LoadLibraryExW(L"ftd2xx.dll", nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    if (!library) return {};
    std::string path = ModuleFile(library);
    FreeLibrary(library);
    return path;
}

bool IsFile(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(ToWide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool RenameOver(const std::string& from, const std::string& to) {
    if (MoveFileExW(ToWide(from).c_str(), ToWide(to).c_str(), MOVEFILE_REPLACE_EXISTING)) {
        return true;
    }
    errno = EACCES;
    return false;
}

bool TryLockFile(int fd) {
    const auto file = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    OVERLAPPED at{};
    return file != INVALID_HANDLE_VALUE &&
           LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at);
}

bool StdoutIsTerminal() { return _isatty(_fileno(stdout)) != 0; }

FILE* DivertStdout() {
    std::fflush(stdout);
    const int saved = _dup(_fileno(stdout));
    if (saved < 0 || _dup2(_fileno(stderr), _fileno(stdout)) < 0) return nullptr;
    return _fdopen(saved, "wb");
}

std::string MakeTemporaryFolder(const char* prefix) {
    wchar_t base[MAX_PATH];
    const DWORD n = GetTempPathW(MAX_PATH, base);
    if (n == 0 || n >= MAX_PATH) return {};
    const std::string folder = ToUtf8(base) + prefix;
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate =
            folder + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(attempt);
        if (CreateDirectoryW(ToWide(candidate).c_str(), nullptr)) return candidate;
        if (GetLastError() != ERROR_ALREADY_EXISTS) return {};
    }
    return {};
}

void RemoveFolder(const std::string& path) { RemoveDirectoryW(ToWide(path).c_str()); }

// Several cables at once is not offered on Windows yet: the children would need their command
// line quoted back together and their output handles inherited.
long StartSelf(const std::vector<std::string>&, const std::string&, const std::string&,
               const std::string&, std::string& error) {
    error = "running several cables at once is not supported on Windows";
    return -1;
}

int WaitChild(long) { return 1; }

void FreeLibraryString(kl_bstr text) { SysFreeString(text); }

}  // namespace kestrel::os
