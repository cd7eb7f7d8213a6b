// Loading and unloading the library without calling an export must do nothing visible: no file in
// the working directory, no message, and no vendor library in the process afterwards.
// Usage: module_load_test <path of libkestrellink.so or KestrelLink.dll>
#include <cstdio>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <windows.h>
using HostChar = wchar_t;
#define KL_HOST_EXPORT __declspec(dllexport)
#else
#include <dirent.h>
#include <dlfcn.h>
#include <unistd.h>

#include <fstream>
using HostChar = char16_t;
#define KL_HOST_EXPORT __attribute__((visibility("default")))
#endif

namespace {

[[maybe_unused]] constexpr int kSkip = 77;  // ctest's SKIP_RETURN_CODE (Windows only)
int failures = 0;
int messagesShown = 0;

void Check(bool ok, const char* what) {
    std::printf("%s: %s\n", ok ? "ok" : "FAIL", what);
    if (!ok) ++failures;
}

#ifdef _WIN32

std::wstring Widen(const char* text) {
    std::wstring wide(MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), static_cast<int>(wide.size()));
    wide.resize(wide.size() - 1);
    return wide;
}

bool VendorLibraryLoaded() { return GetModuleHandleW(L"ftd2xx.dll") != nullptr; }

std::wstring MakeEmptyDirectory() {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    std::wstring dir = std::wstring(base) + L"kl-load-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

bool DirectoryIsEmpty(const std::wstring& dir) {
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return true;
    bool empty = true;
    do {
        if (wcscmp(entry.cFileName, L".") != 0 && wcscmp(entry.cFileName, L"..") != 0) {
            std::wprintf(L"  left behind: %ls\n", entry.cFileName);
            empty = false;
        }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return empty;
}

int LoadAndUnload(const char* path) {
    std::wstring library = Widen(path);
    if (GetFileAttributesW(library.c_str()) == INVALID_FILE_ATTRIBUTES) {
        std::printf("SKIP: %s was not built (it links once every export is implemented)\n", path);
        return kSkip;
    }
    std::wstring dir = MakeEmptyDirectory();
    SetCurrentDirectoryW(dir.c_str());
    HMODULE module = LoadLibraryW(library.c_str());
    Check(module != nullptr, "LoadLibraryW loads the library");
    Check(!VendorLibraryLoaded(), "loading it does not load ftd2xx.dll");
    Check(module && FreeLibrary(module), "FreeLibrary releases it");
    Check(!VendorLibraryLoaded(), "ftd2xx.dll is not loaded after unloading");
    Check(DirectoryIsEmpty(dir), "the working directory is still empty");
    SetCurrentDirectoryW(L"C:\\");
    RemoveDirectoryW(dir.c_str());
    return 0;
}

#else

bool VendorLibraryLoaded() {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        if (line.find("libftd2xx") != std::string::npos) return true;
    }
    return false;
}

bool DirectoryIsEmpty(const std::string& dir) {
    DIR* stream = opendir(dir.c_str());
    if (!stream) return false;
    bool empty = true;
    while (dirent* entry = readdir(stream)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            std::printf("  left behind: %s\n", entry->d_name);
            empty = false;
        }
    }
    closedir(stream);
    return empty;
}

int LoadAndUnload(const char* path) {
    char dir[] = "/tmp/kl-load-XXXXXX";
    if (!mkdtemp(dir) || chdir(dir) != 0) {
        std::perror("temporary directory");
        return 1;
    }
    void* module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!module) std::printf("  %s\n", dlerror());
    Check(module != nullptr, "dlopen loads the library");
    Check(!VendorLibraryLoaded(), "loading it does not load libftd2xx.so");
    Check(module && dlclose(module) == 0, "dlclose releases it");
    Check(!VendorLibraryLoaded(), "libftd2xx.so is not loaded after unloading");
    Check(DirectoryIsEmpty(dir), "the working directory is still empty");
    if (chdir("/") != 0 || rmdir(dir) != 0) std::perror(dir);
    return 0;
}

#endif

}  // namespace

// The library shows every message through this hook when the host has one: any call is a message.
extern "C" KL_HOST_EXPORT void KestrelLinkMessageBox(const HostChar*) { ++messagesShown; }

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <library path>\n", argv[0]);
        return 2;
    }
    if (int status = LoadAndUnload(argv[1])) return status;
    Check(messagesShown == 0, "no message was shown");
    return failures == 0 ? 0 : 1;
}
