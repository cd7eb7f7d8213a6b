#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <map>

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

namespace {

// What a file that is not regular is, for messages.
const char* KindOf(unsigned mode) {
    switch (mode & _S_IFMT) {
        case _S_IFREG:
            return "a regular file";
        case _S_IFDIR:
            return "a directory";
        case _S_IFCHR:
            return "a character device";
        case _S_IFIFO:
            return "a FIFO";
        default:
            return "not a regular file";
    }
}

bool FactsOf(const struct _stat64& info, FileFacts& facts) {
    facts = {(info.st_mode & _S_IFMT) == _S_IFREG, static_cast<uint64_t>(info.st_size),
             KindOf(info.st_mode)};
    return true;
}

}  // namespace

int OpenFile(const std::string& path, FileMode mode) {
    constexpr int kAnyone = _S_IREAD | _S_IWRITE;
    switch (mode) {
        case FileMode::kRead:
            return _open(path.c_str(), _O_RDONLY | _O_BINARY);
        case FileMode::kCreateNew:
            return _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, kAnyone);
        case FileMode::kReadWriteCreate:
            return _open(path.c_str(), _O_RDWR | _O_CREAT | _O_BINARY, kAnyone);
        case FileMode::kAppendCreate:
            return _open(path.c_str(), _O_WRONLY | _O_APPEND | _O_CREAT, kAnyone);
    }
    errno = EINVAL;
    return -1;
}

long ReadBytes(int fd, void* buffer, size_t size) {
    return _read(fd, buffer, static_cast<unsigned>(size));
}

void WriteBytes(int fd, const void* bytes, size_t size) {
    (void)_write(fd, bytes, static_cast<unsigned>(size));
}

void CloseFile(int fd) { _close(fd); }

FILE* StreamOnFile(int fd, const char* mode) { return _fdopen(fd, mode); }

int StreamFile(FILE* stream) { return _fileno(stream); }

bool FileFactsOf(int fd, FileFacts& facts) {
    struct _stat64 info {};
    return _fstat64(fd, &info) == 0 && FactsOf(info, facts);
}

bool PathFactsOf(const std::string& path, FileFacts& facts) {
    struct _stat64 info {};
    return _stat64(path.c_str(), &info) == 0 && FactsOf(info, facts);
}

void RemoveFile(const char* path) { _unlink(path); }

void RemoveEmptyFolder(const char* path) { _rmdir(path); }

bool StdoutIsTerminal() { return _isatty(_fileno(stdout)) != 0; }

FILE* DivertStdout() {
    std::fflush(stdout);
    const int saved = _dup(_fileno(stdout));
    if (saved < 0 || _dup2(_fileno(stderr), _fileno(stdout)) < 0) return nullptr;
    // Not inherited: a child (a cable's process) holding it would keep a reader of this
    // process's output waiting after this process ended.
    SetHandleInformation(reinterpret_cast<HANDLE>(_get_osfhandle(saved)), HANDLE_FLAG_INHERIT, 0);
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

namespace {

// The processes StartSelf started, by id, until ChildEnded collects them.
std::map<long, HANDLE>& Children() {
    static std::map<long, HANDLE> children;
    return children;
}

// The C runtime made this process's argv from its UTF-16 command line in the ANSI code page;
// the same code page back gives a child exactly the words this process got.
std::wstring FromAnsi(const std::string& text) {
    const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(n > 0 ? n - 1 : 0, L'\0');
    if (n > 1) MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, out.data(), n);
    return out;
}

std::wstring SelfPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) return path.substr(0, n);
        path.resize(path.size() * 2);  // truncated: a long path
    }
}

// One word of a command line, quoted so that the C runtime's split (and CommandLineToArgvW's)
// gives it back unchanged: within quotes a run of backslashes is literal unless a quote follows
// it, where each pair stands for one backslash and an odd one makes the quote a character.
std::wstring QuoteArgument(const std::wstring& word) {
    if (!word.empty() && word.find_first_of(L" \t\n\v\"") == std::wstring::npos) return word;
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (const wchar_t c : word) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        quoted += c;
        backslashes = 0;
    }
    quoted.append(2 * backslashes, L'\\');  // they come before the closing quote
    return quoted + L"\"";
}

// The program's name is read up to the next quote, without escapes; a path holds no quotes.
std::wstring CommandLine(const std::wstring& self, const std::vector<std::string>& arguments) {
    std::wstring line = L"\"" + self + L"\"";
    for (const std::string& argument : arguments) line += L" " + QuoteArgument(FromAnsi(argument));
    return line;
}

// This process's environment with `variable` ("NAME=value") added, in place of any variable of
// that name (on Windows names that differ only in case are one name).
std::vector<wchar_t> EnvironmentWith(const std::wstring& variable) {
    const std::wstring name = variable.substr(0, variable.find(L'=') + 1);
    std::vector<wchar_t> block;
    wchar_t* strings = GetEnvironmentStringsW();
    for (const wchar_t* at = strings; at && *at; at += std::wcslen(at) + 1) {
        if (!name.empty() && _wcsnicmp(at, name.c_str(), name.size()) == 0) continue;
        block.insert(block.end(), at, at + std::wcslen(at) + 1);
    }
    if (strings) FreeEnvironmentStringsW(strings);
    if (!variable.empty())
        block.insert(block.end(), variable.c_str(), variable.c_str() + variable.size() + 1);
    if (block.empty()) block.push_back(L'\0');  // an empty block is two NULs
    block.push_back(L'\0');
    return block;
}

// Handles the child inherits: a new file for an output, an existing one (or NUL) for its input.
HANDLE InheritableFile(const std::string& path, bool output) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileW(ToWide(path).c_str(), output ? GENERIC_WRITE : GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                       output ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string WindowsError(DWORD code) { return "Windows error " + std::to_string(code); }

}  // namespace

// The child shares this console, so that ^C reaches it as it reaches this process.
long StartSelf(const std::vector<std::string>& arguments, const std::string& variable,
               const ChildStreams& streams, std::string& error) {
    const std::wstring self = SelfPath();
    if (self.empty()) {
        error = "cannot find this program's file: " + WindowsError(GetLastError());
        return -1;
    }
    std::wstring line = CommandLine(self, arguments);
    std::vector<wchar_t> environment = EnvironmentWith(ToWide(variable));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = InheritableFile(streams.input.empty() ? "NUL" : streams.input, false);
    startup.hStdOutput = InheritableFile(streams.output, true);
    startup.hStdError = InheritableFile(streams.errors, true);
    PROCESS_INFORMATION process{};
    bool started = false;
    if (startup.hStdInput == INVALID_HANDLE_VALUE || startup.hStdOutput == INVALID_HANDLE_VALUE ||
        startup.hStdError == INVALID_HANDLE_VALUE) {
        error = "cannot open the standard streams' files: " + WindowsError(GetLastError());
    } else if (!CreateProcessW(self.c_str(), line.data(), nullptr, nullptr, TRUE,
                               CREATE_UNICODE_ENVIRONMENT, environment.data(), nullptr, &startup,
                               &process)) {
        error = WindowsError(GetLastError());
    } else {
        started = true;
    }
    // The child holds its own copies now; this process keeps none of them open.
    for (const HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
    if (!started) return -1;
    CloseHandle(process.hThread);
    const long id = static_cast<long>(process.dwProcessId);
    Children()[id] = process.hProcess;
    return id;
}

bool ChildEnded(long id, int milliseconds, int& code) {
    const auto found = Children().find(id);
    if (found == Children().end()) {
        code = 1;
        return true;
    }
    const HANDLE process = found->second;
    const DWORD waited = WaitForSingleObject(process, static_cast<DWORD>(milliseconds));
    if (waited == WAIT_TIMEOUT) return false;
    DWORD status = 1;
    if (waited != WAIT_OBJECT_0 || !GetExitCodeProcess(process, &status)) status = 1;
    Children().erase(found);
    CloseHandle(process);
    // Ended by ^C before it could say so itself: as a child a signal ended on Linux. Any other
    // code beyond 255 is an exception's status, which has no exit code of its own.
    if (status == static_cast<DWORD>(STATUS_CONTROL_C_EXIT)) {
        code = 128 + SIGINT;
    } else {
        code = status > 255 ? 255 : static_cast<int>(status);
    }
    return true;
}

void SignalChild(long, int) {}

void KillChild(long id) {
    constexpr UINT kKilled = 128 + 9;  // as SIGKILL would show on Linux
    const auto found = Children().find(id);
    if (found != Children().end()) TerminateProcess(found->second, kKilled);
}

namespace {

std::atomic<int> caughtStopSignal{0};

// The C runtime restores the default handling before it calls a handler: caught again here.
extern "C" void CountStopSignal(int signal) {
    std::signal(signal, CountStopSignal);
    caughtStopSignal.store(signal);
}

// Waits for the parent to end, then stops this process as SIGTERM does.
DWORD WINAPI WatchParent(void* parent) {
    WaitForSingleObject(static_cast<HANDLE>(parent), INFINITE);
    std::raise(SIGTERM);
    return 0;
}

}  // namespace

void CatchStopSignals() {
    for (const StopSignal& stop : kStopSignals) {
        if (std::signal(stop.number, CountStopSignal) == SIG_IGN) std::signal(stop.number, SIG_IGN);
    }
}

int CaughtStopSignal() { return caughtStopSignal.load(); }

long ProcessId() { return static_cast<long>(GetCurrentProcessId()); }

void StopWithParent(long parent) {
    const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(parent));
    if (process == nullptr) {  // it has ended already
        std::raise(SIGTERM);
        return;
    }
    const HANDLE watcher = CreateThread(nullptr, 0, WatchParent, process, 0, nullptr);
    if (watcher != nullptr) CloseHandle(watcher);
}

void BinaryStandardInput() { _setmode(_fileno(stdin), _O_BINARY); }

void StopBySignal(int signal) { std::_Exit(128 + signal); }

void WriteStandardError(const char* text, size_t size) {
    (void)_write(2, text, static_cast<unsigned>(size));
}

void FreeLibraryString(kl_bstr text) { SysFreeString(text); }

}  // namespace kestrel::os
