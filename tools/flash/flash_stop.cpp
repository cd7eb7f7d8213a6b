#include "flash/flash_stop.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstring>

#include "common/os.h"

namespace kestrel {
namespace {

using Handler = void (*)(int);

constexpr int kSignals[] = {SIGINT, SIGTERM};
constexpr int kSignalCount = 2;

// Written by StopAtSafePoint while no handler of ours is installed; read by the handler.
Handler previous[kSignalCount] = {SIG_DFL, SIG_DFL};
bool installed[kSignalCount] = {false, false};
volatile std::sig_atomic_t asked = 0;  // the signal, or kCallerStop
constexpr int kCallerStop = -1;
bool active = false;  // a StopAtSafePoint lives: KeepGoing heeds `asked`
char note[2048];
std::atomic<size_t> noteLength{0};  // 0 while the bytes change

int SlotOf(int signal) { return signal == SIGINT ? 0 : 1; }

extern "C" void StopOnSignal(int signal) {
    if (asked == 0) {
        std::signal(signal, StopOnSignal);  // some platforms reset the handler before calling it
        asked = signal;
        if (const size_t length = noteLength.load()) os::WriteStandardError(note, length);
        return;
    }
    const Handler before = previous[SlotOf(signal)];
    std::signal(signal, before);
    if (before == SIG_DFL) {
        os::StopBySignal(signal);
    } else {
        before(signal);
    }
}

}  // namespace

StopAtSafePoint::StopAtSafePoint(bool handleSignals) {
    asked = 0;
    active = true;
    if (!handleSignals) return;
    SetStopNote(
        "kestrel: stopping at the next safe point, with no sector left half written; a second "
        "signal stops at once\n");
    for (int slot = 0; slot < kSignalCount; ++slot) {
        const Handler before = std::signal(kSignals[slot], StopOnSignal);
        previous[slot] = before;
        installed[slot] = before != SIG_IGN && before != SIG_ERR;
        // A signal the process ignores stays ignored.
        if (before == SIG_IGN) std::signal(kSignals[slot], SIG_IGN);
    }
}

StopAtSafePoint::~StopAtSafePoint() {
    active = false;
    for (int slot = 0; slot < kSignalCount; ++slot) {
        if (installed[slot]) std::signal(kSignals[slot], previous[slot]);
        installed[slot] = false;
    }
}

int StopSignal() { return asked > 0 ? asked : 0; }
bool StopAsked() { return asked != 0; }

void AskToStop() {
    if (asked == 0) asked = kCallerStop;
}

bool KeepGoing(CallResult& result) {
    if (!active || asked == 0) return true;
    if (asked == kCallerStop)
        return Reject("stopped at the caller's request at a safe point", result);
    return Reject(
        std::string("stopped by ") + (asked == SIGINT ? "SIGINT" : "SIGTERM") + " at a safe point",
        result);
}

void SetStopNote(const std::string& line) {
    noteLength = 0;
    const size_t length = std::min(line.size(), sizeof note);
    std::memcpy(note, line.data(), length);
    noteLength = length;
}

}  // namespace kestrel
