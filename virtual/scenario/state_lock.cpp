#include "scenario/state_lock.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <pthread.h>
#include <sys/file.h>
#include <unistd.h>
#endif

#include "scenario/open_flags.h"

namespace vcable::state_lock {
namespace {

// The open lock file while the lock is held, else -1. Written by Acquire and Release (under the
// model lock) and by the fork handler in the new process.
struct Held {
    int fd = -1;
};
Held held;

// Without waiting; false when another process holds the lock. The tool locks the same way
// (flock on Linux, the first byte on Windows), so the two exclude each other.
bool TryLock(int fd) {
#ifdef _WIN32
    const auto file = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    OVERLAPPED at{};
    return file != INVALID_HANDLE_VALUE &&
           LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at);
#else
    return flock(fd, LOCK_EX | LOCK_NB) == 0;
#endif
}

#ifndef _WIN32
// A process forked from the program shares the lock; it lets go of its share, so that a copy
// that outlives the program does not keep others waiting (it writes no state file: program_files).
extern "C" void LetGoInChild() {
    if (held.fd >= 0) close(held.fd);
    held.fd = -1;
}
#endif

}  // namespace

bool Acquire(const std::string& target, double waitSeconds, std::string& why) {
    Release();
    const std::string lockPath = target + ".lock";
    const int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_BINARY | O_CLOEXEC, 0666);
    if (fd < 0) {
        why = "cannot lock " + target + " (" + lockPath + "): " + std::strerror(errno);
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(waitSeconds));
    for (bool said = false; !TryLock(fd); said = true) {
        if (std::chrono::steady_clock::now() >= deadline) {
            close(fd);
            why = target + " is in use by another program (waited " +
                  std::to_string(static_cast<int>(waitSeconds)) + " s for its lock)";
            return false;
        }
        if (!said) {
            std::fprintf(stderr, "virtual cable: waiting for another program that uses %s\n",
                         target.c_str());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
#ifndef _WIN32
    static const bool handlerInstalled = pthread_atfork(nullptr, nullptr, &LetGoInChild) == 0;
    (void)handlerInstalled;
#endif
    held.fd = fd;
    return true;
}

void Release() {
    if (held.fd >= 0) close(held.fd);  // closing lets go of the lock
    held.fd = -1;
}

}  // namespace vcable::state_lock
