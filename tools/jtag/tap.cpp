#include "jtag/tap.h"

#include <array>
#include <cctype>
#include <deque>

namespace kestrel::jtag {
namespace {

struct TapRow {
    Tap onTms0;
    Tap onTms1;
    const char* svfName;
};

// Indexed by Tap.
constexpr std::array<TapRow, kTapStateCount> kTapTable = {{
    {Tap::kIdle, Tap::kReset, "RESET"},
    {Tap::kIdle, Tap::kDrSelect, "IDLE"},
    {Tap::kDrCapture, Tap::kIrSelect, "DRSELECT"},
    {Tap::kDrShift, Tap::kDrExit1, "DRCAPTURE"},
    {Tap::kDrShift, Tap::kDrExit1, "DRSHIFT"},
    {Tap::kDrPause, Tap::kDrUpdate, "DREXIT1"},
    {Tap::kDrPause, Tap::kDrExit2, "DRPAUSE"},
    {Tap::kDrShift, Tap::kDrUpdate, "DREXIT2"},
    {Tap::kIdle, Tap::kDrSelect, "DRUPDATE"},
    {Tap::kIrCapture, Tap::kReset, "IRSELECT"},
    {Tap::kIrShift, Tap::kIrExit1, "IRCAPTURE"},
    {Tap::kIrShift, Tap::kIrExit1, "IRSHIFT"},
    {Tap::kIrPause, Tap::kIrUpdate, "IREXIT1"},
    {Tap::kIrPause, Tap::kIrExit2, "IRPAUSE"},
    {Tap::kIrShift, Tap::kIrUpdate, "IREXIT2"},
    {Tap::kIdle, Tap::kDrSelect, "IRUPDATE"},
}};

constexpr int kResetOnes = 5;

const TapRow& Row(Tap state) { return kTapTable[static_cast<int>(state)]; }

}  // namespace

Tap NextTap(Tap state, bool tms) { return tms ? Row(state).onTms1 : Row(state).onTms0; }

bool IsStable(Tap state) {
    return state == Tap::kReset || state == Tap::kIdle || state == Tap::kDrPause ||
           state == Tap::kIrPause;
}

const char* SvfName(Tap state) { return Row(state).svfName; }

bool TapFromSvfName(std::string_view name, Tap& state) {
    for (int i = 0; i < kTapStateCount; ++i) {
        const std::string_view candidate = kTapTable[i].svfName;
        if (candidate.size() != name.size()) continue;
        bool same = true;
        for (size_t c = 0; c < name.size() && same; ++c) {
            same = std::toupper(static_cast<unsigned char>(name[c])) == candidate[c];
        }
        if (same) {
            state = static_cast<Tap>(i);
            return true;
        }
    }
    return false;
}

std::vector<bool> TmsPath(Tap from, Tap to) {
    if (to == Tap::kReset) return std::vector<bool>(kResetOnes, true);
    // Breadth-first over the 16 states; each state remembers the step that first reached it.
    struct Step {
        bool reached = false;
        Tap previous = Tap::kReset;
        bool tms = false;
    };
    std::array<Step, kTapStateCount> steps{};
    steps[static_cast<int>(from)].reached = true;
    std::deque<Tap> queue{from};
    while (!queue.empty() && !steps[static_cast<int>(to)].reached) {
        const Tap state = queue.front();
        queue.pop_front();
        for (bool tms : {false, true}) {
            const Tap next = NextTap(state, tms);
            Step& step = steps[static_cast<int>(next)];
            if (step.reached) continue;
            step = {true, state, tms};
            queue.push_back(next);
        }
    }
    std::vector<bool> path;
    for (Tap state = to; state != from; state = steps[static_cast<int>(state)].previous) {
        path.insert(path.begin(), steps[static_cast<int>(state)].tms);
    }
    return path;
}

}  // namespace kestrel::jtag
