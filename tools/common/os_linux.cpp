#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/os.h"

namespace kestrel::os {

void* LoadLibraryFile(const std::string& path, std::string& error) {
    // Global, so that the KestrelLink library's dlopen by SONAME resolves to this copy.
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
    if (!library) {
        const char* reason = dlerror();
        error = reason ? reason : "?";
    }
    return library;
}

void* FindSymbol(void* library, const char* name) { return dlsym(library, name); }

std::string ExecutableFolder() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    const std::string exe(path, static_cast<size_t>(n));
    const size_t slash = exe.rfind('/');
    return slash == std::string::npos ? "." : exe.substr(0, slash);
}

std::string ModulePath(const void* address) {
    Dl_info info{};
    if (dladdr(address, &info) == 0 || !info.dli_fname) return {};
    char resolved[PATH_MAX];
    return realpath(info.dli_fname, resolved) ? resolved : info.dli_fname;
}

std::string SystemVendorLibrary() {
    // Loaded as the KestrelLink library would load it, asked where it came from, and released.
    void* library = dlopen(kVendorLibraryName, RTLD_LAZY | RTLD_LOCAL);
    if (!library) return {};
    std::string path;
    link_map* map = nullptr;
    if (dlinfo(library, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name) path = map->l_name;
    dlclose(library);
    return path;
}

bool IsFile(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool RenameOver(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool TryLockFile(int fd) { return flock(fd, LOCK_EX | LOCK_NB) == 0; }

namespace {

// What a file that is not regular is, for messages.
const char* KindOf(mode_t mode) {
    if (S_ISREG(mode)) return "a regular file";
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a regular file";
}

bool FactsOf(const struct stat& info, FileFacts& facts) {
    facts = {S_ISREG(info.st_mode), static_cast<uint64_t>(info.st_size), KindOf(info.st_mode)};
    return true;
}

}  // namespace

int OpenFile(const std::string& path, FileMode mode) {
    switch (mode) {
        case FileMode::kRead:
            return open(path.c_str(), O_RDONLY | O_NONBLOCK);
        case FileMode::kCreateNew:
            return open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
        case FileMode::kReadWriteCreate:
            return open(path.c_str(), O_RDWR | O_CREAT, 0666);
        case FileMode::kAppendCreate:
            return open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0666);
    }
    errno = EINVAL;
    return -1;
}

long ReadBytes(int fd, void* buffer, size_t size) {
    for (;;) {
        const ssize_t n = read(fd, buffer, size);
        if (n >= 0 || errno != EINTR) return static_cast<long>(n);
    }
}

void WriteBytes(int fd, const void* bytes, size_t size) { (void)write(fd, bytes, size); }

void CloseFile(int fd) { close(fd); }

FILE* StreamOnFile(int fd, const char* mode) { return fdopen(fd, mode); }

int StreamFile(FILE* stream) { return fileno(stream); }

bool FileFactsOf(int fd, FileFacts& facts) {
    struct stat info {};
    return fstat(fd, &info) == 0 && FactsOf(info, facts);
}

bool PathFactsOf(const std::string& path, FileFacts& facts) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && FactsOf(info, facts);
}

void RemoveFile(const char* path) { unlink(path); }

void RemoveEmptyFolder(const char* path) { rmdir(path); }

bool StdoutIsTerminal() { return isatty(1) != 0; }

FILE* DivertStdout() {
    std::fflush(stdout);
    // Not inherited: a child (a cable's process) holding it would keep a reader of this
    // process's output waiting after this process ended.
    const int saved = fcntl(1, F_DUPFD_CLOEXEC, 0);
    if (saved < 0 || dup2(2, 1) < 0) return nullptr;
    return fdopen(saved, "w");
}

std::string MakeTemporaryFolder(const char* prefix) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/" + prefix + "XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    return mkdtemp(buffer.data()) ? std::string(buffer.data()) : std::string();
}

void RemoveFolder(const std::string& path) { rmdir(path.c_str()); }

void FreeLibraryString(kl_bstr text) { std::free(text); }

namespace {

// The environment with `variable` ("NAME=value", or empty) in place of any variable of its name.
std::vector<char*> EnvironmentWith(const std::string& variable) {
    const std::string name = variable.substr(0, variable.find('=') + 1);
    std::vector<char*> environment;
    for (char** at = environ; *at; ++at) {
        if (name.empty() || std::strncmp(*at, name.c_str(), name.size()) != 0)
            environment.push_back(*at);
    }
    if (!variable.empty()) environment.push_back(const_cast<char*>(variable.c_str()));
    environment.push_back(nullptr);
    return environment;
}

std::atomic<int> caughtStopSignal{0};

extern "C" void CountStopSignal(int signal) { caughtStopSignal.store(signal); }

}  // namespace

long StartSelf(const std::vector<std::string>& arguments, const std::string& variable,
               const ChildStreams& streams, std::string& error) {
    const std::string self = "/proc/self/exe";
    std::vector<char*> argv{const_cast<char*>(self.c_str())};
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> environment = EnvironmentWith(variable);
    const std::string input = streams.input.empty() ? "/dev/null" : streams.input;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, streams.output.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, streams.errors.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    // The signals this process catches start with their default handling in the child; those it
    // ignores (nohup) stay ignored. The child has a process group of its own, so that a
    // terminal's ^C reaches the run alone, which passes it on once: a second SIGINT would stop
    // a flash write at once, with a sector half written and its protection left off.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t pid = -1;
    const int result =
        posix_spawn(&pid, self.c_str(), &actions, &attributes, argv.data(), environment.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0) {
        error = std::strerror(result);
        return -1;
    }
    return pid;
}

bool ChildEnded(long id, int milliseconds, int& code) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    int status = 0;
    for (;;) {
        const pid_t ended = waitpid(static_cast<pid_t>(id), &status, WNOHANG);
        if (ended < 0 && errno == EINTR) continue;
        if (ended < 0) {  // not a child of this process any more: nothing to wait for
            code = 1;
            return true;
        }
        if (ended > 0) break;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        usleep(10000);  // a signal ends the pause early
    }
    code = WIFEXITED(status)     ? WEXITSTATUS(status)
           : WIFSIGNALED(status) ? 128 + WTERMSIG(status)
                                 : 1;
    return true;
}

void SignalChild(long id, int signal) { kill(static_cast<pid_t>(id), signal); }

void KillChild(long id) { kill(static_cast<pid_t>(id), SIGKILL); }

void CatchStopSignals() {
    // Without SA_RESTART: a wait under way returns, so that the signal is seen at once. A signal
    // the process was started ignoring (nohup, a background job) stays ignored.
    struct sigaction action {};
    action.sa_handler = CountStopSignal;
    sigemptyset(&action.sa_mask);
    for (const StopSignal& stop : kStopSignals) {
        struct sigaction before {};
        if (sigaction(stop.number, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
        sigaction(stop.number, &action, nullptr);
    }
}

int CaughtStopSignal() { return caughtStopSignal.load(); }

long ProcessId() { return getpid(); }

void StopWithParent(long parent) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    // The parent may have ended before the request was made.
    if (getppid() != static_cast<pid_t>(parent)) raise(SIGTERM);
}

void BinaryStandardInput() {}

// The signal is blocked while its handler runs: raised again with its default action, it ends the
// process as the handler returns.
void StopBySignal(int signal) {
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void WriteStandardError(const char* text, size_t size) { (void)write(2, text, size); }

}  // namespace kestrel::os
