// The platform seam on Linux.
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/platform.h"
#include "platform/text.h"

namespace kl::platform {
namespace {

SleepHook sleepHook = nullptr;  // set by tests only

using HostMessageBox = void (*)(const WChar*);

constexpr size_t kMaxMessageBytes = 4096;

}  // namespace

void* LoadLibraryByName(const char* name) { return dlopen(name, RTLD_NOW); }

void* FindSymbol(void* module, const char* name) { return module ? dlsym(module, name) : nullptr; }

bool ReleaseLibrary(void* module) { return module && dlclose(module) == 0; }

void SleepMs(uint32_t ms) {
    if (sleepHook) {
        sleepHook(ms);
        return;
    }
    timespec request{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&request, &request) != 0) {
    }
}

void SetSleepHook(SleepHook hook) { sleepHook = hook; }

uint64_t MonotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u +
           static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

int64_t CalendarSeconds() { return static_cast<int64_t>(time(nullptr)); }

void ShowMessage(const WChar* text) {
    // The host's hook, when the process provides one, stands in for the user dismissing the box.
    if (auto hook =
            reinterpret_cast<HostMessageBox>(dlsym(RTLD_DEFAULT, "KestrelLinkMessageBox"))) {
        hook(text ? text : u"");
        return;
    }
    std::string line(kMaxMessageBytes, '\0');
    text::ToUtf8(text, line.data(), line.size());
    line.resize(strlen(line.c_str()));
    line += '\n';
    ssize_t ignored = write(STDERR_FILENO, line.data(), line.size());
    (void)ignored;
    if (isatty(STDIN_FILENO) && isatty(STDERR_FILENO)) {
        int c;
        while ((c = getchar()) != EOF && c != '\n') {
        }
    }
}

WChar* AllocOleString(const WChar* text) {
    size_t n = text::Length(text);
    auto* copy = static_cast<WChar*>(malloc((n + 1) * sizeof(WChar)));
    if (copy) text::CopyBounded(copy, n + 1, text);
    return copy;
}

FILE* OpenFileNarrow(const char* name, const char* mode) {
    return name ? fopen(name, mode) : nullptr;
}

FILE* OpenFileWide(const WChar* name, const char* mode) {
    if (!name) return nullptr;
    char path[PATH_MAX];  // no allocation: the file senders run on the transfer path
    return text::ToUtf8(name, path, sizeof(path)) ? fopen(path, mode) : nullptr;
}

int RemoveFileWide(const WChar* name) {
    if (!name) return -1;
    char path[PATH_MAX];
    return text::ToUtf8(name, path, sizeof(path)) ? unlink(path) : -1;
}

}  // namespace kl::platform
