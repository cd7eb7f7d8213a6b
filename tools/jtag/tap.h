// The IEEE 1149.1 TAP controller as a table of next states, and the TMS sequences that move a
// chain of them from one state to another.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace kestrel::jtag {

// In the order XSVF numbers them.
enum class Tap : uint8_t {
    kReset,
    kIdle,
    kDrSelect,
    kDrCapture,
    kDrShift,
    kDrExit1,
    kDrPause,
    kDrExit2,
    kDrUpdate,
    kIrSelect,
    kIrCapture,
    kIrShift,
    kIrExit1,
    kIrPause,
    kIrExit2,
    kIrUpdate,
};
constexpr int kTapStateCount = 16;

Tap NextTap(Tap state, bool tms);
// Test-Logic-Reset, Run-Test/Idle, Pause-DR and Pause-IR: the states a chain may rest in.
bool IsStable(Tap state);
// The SVF name ("IDLE", "DRPAUSE", ...).
const char* SvfName(Tap state);
// The state an SVF name stands for (any letter case); false for other words.
bool TapFromSvfName(std::string_view name, Tap& state);

// TMS bits that move a chain from `from` to `to`, first bit first: the shortest path, or five
// ones for Test-Logic-Reset, which reach it from any state (also one the host does not know).
std::vector<bool> TmsPath(Tap from, Tap to);

}  // namespace kestrel::jtag
