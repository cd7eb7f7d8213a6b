// The progress log "Log.txt": one short line per provisioning step, appended and never read.
// Each entry opens and closes the file, so the log is complete on disk whatever the host does
// next. The bytes are written here rather than by the C library's text mode so that the file is
// identical on every platform: one byte per character and CR LF for every line feed.
#include "log/log.h"

#include <cstdio>

#include "kestrellink.h"
#include "platform/text.h"

namespace kl::log {
namespace {

// Written by directoryB (directory) and by every append (path); nothing else touches them.
struct LogState {
    WChar directory[kLogPathUnits] = {};
    WChar path[kLogPathUnits] = {};
};
LogState state;

constexpr char kCarriageReturn = '\r';
constexpr char kLineFeed = '\n';
constexpr uint32_t kHighestByteCharacter = 0xFF;

}  // namespace

const WChar* PathInLogDirectory(const WChar* fileName) {
    state.path[0] = 0;
    text::CopyBounded(state.path, kLogPathUnits, state.directory);
    if (!text::AppendBounded(state.path, kLogPathUnits, KL_W("/")) ||
        !text::AppendBounded(state.path, kLogPathUnits, fileName)) {
        state.path[0] = 0;
        return nullptr;
    }
    return state.path;
}

void AppendTextToFile(const WChar* text, const WChar* path) {
    FILE* file = platform::OpenFileWide(path, "ab");
    if (!file) return;
    // Converted in small pieces so that no entry needs an allocation.
    char chunk[256];
    size_t used = 0;
    for (size_t i = 0, n = text::Length(text); i < n; ++i) {
        if (used + 2 > sizeof(chunk)) {
            fwrite(chunk, 1, used, file);
            used = 0;
        }
        auto unit = static_cast<uint32_t>(text[i]);
        if (unit == static_cast<uint32_t>(kLineFeed)) chunk[used++] = kCarriageReturn;
        chunk[used++] = unit > kHighestByteCharacter ? '?' : static_cast<char>(unit);
    }
    fwrite(chunk, 1, used, file);
    fclose(file);
}

void AppendLog(const WChar* text) {
    const WChar* path = PathInLogDirectory(KL_W("Log.txt"));
    if (path) AppendTextToFile(text, path);
}

void AppendLogLine(const WChar* value) {
    AppendLog(value);
    AppendLog(KL_W("\n"));
}

void SetLogDirectory(const WChar* directory) {
    text::CopyBounded(state.directory, kLogPathUnits, directory);
}

const WChar* LogDirectory() { return state.directory; }

void ResetLogForTests() { state = LogState{}; }

}  // namespace kl::log

namespace kl::exports {

// Sets the directory of "Log.txt"; longer directories are cut to 321 characters. Always 0.
int directoryB(const kl_wchar* directory) {
    log::SetLogDirectory(directory);
    return 0;
}

}  // namespace kl::exports
