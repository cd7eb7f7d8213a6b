#include "scenario/vcd_file.h"

#include <cstdint>
#include <string>

#include "chip/devices.h"
#include "engine/mpsse_engine.h"
#include "scenario/output_file.h"

namespace vcable {
namespace {

constexpr int kLines = 16;
const char* const kLineNames[kLines] = {"TCK",    "TDI",    "TDO",    "TMS",    "GPIOL0", "GPIOL1",
                                        "GPIOL2", "GPIOL3", "GPIOH0", "GPIOH1", "GPIOH2", "GPIOH3",
                                        "GPIOH4", "GPIOH5", "GPIOH6", "GPIOH7"};

// The dump: the file, the levels it last wrote and the time of its last stamp. Two changes of one
// line at the same tick get a nanosecond between them, so a viewer shows both.
struct Dump {
    output_file::OutputFile file;
    MpsseEngine* engine = nullptr;
    uint16_t levels = 0;
    uint64_t lastNs = 0;
    uint64_t shiftNs = 0;
    uint16_t changedAtLast = 0;
};
Dump dump;

char Code(int line) { return static_cast<char>('!' + line); }

void OnPins(void*, uint64_t ticks, uint16_t levels) {
    const uint16_t changed = static_cast<uint16_t>(levels ^ dump.levels);
    if (changed == 0 || !dump.file.isOpen()) return;
    uint64_t ns = ticks * 1000 / 12 + dump.shiftNs;
    if (ns < dump.lastNs) ns = dump.lastNs;
    if (ns == dump.lastNs && (changed & dump.changedAtLast) != 0) {
        ++ns;
        ++dump.shiftNs;
    }
    if (ns != dump.lastNs) {
        dump.file.Printf("#%llu\n", static_cast<unsigned long long>(ns));
        dump.lastNs = ns;
        dump.changedAtLast = 0;
    }
    for (int line = 0; line < kLines; ++line) {
        if (changed & (1u << line)) dump.file.Printf("%d%c\n", (levels >> line) & 1, Code(line));
    }
    dump.changedAtLast |= changed;
    dump.levels = levels;
}

void WriteHeader() {
    dump.file.Printf(
        "$version virtual cable $end\n"
        "$comment channel A of cable 0; times from the MPSSE base clock $end\n"
        "$timescale 1ns $end\n$scope module cable0 $end\n");
    for (int line = 0; line < kLines; ++line) {
        dump.file.Printf("$var wire 1 %c %s $end\n", Code(line), kLineNames[line]);
    }
    dump.file.Printf("$upscope $end\n$enddefinitions $end\n#0\n$dumpvars\n");
    for (int line = 0; line < kLines; ++line) {
        dump.file.Printf("%d%c\n", (dump.levels >> line) & 1, Code(line));
    }
    dump.file.Printf("$end\n");
}

}  // namespace

bool StartVcdFile(const std::string& path, std::string& why) {
    dump.engine = dynamic_cast<MpsseEngine*>(CableMpssePort(0));
    if (dump.engine == nullptr) {
        why = "cable 0 has no MPSSE engine to record";
        return false;
    }
    if (!dump.file.Open(path, why)) return false;
    dump.levels = dump.engine->Pins().Levels();
    WriteHeader();
    dump.engine->SetPinHook(&OnPins, nullptr);
    return true;
}

bool FinishVcdFile(std::string& why) {
    if (!dump.file.isOpen()) return true;
    dump.engine->SetPinHook(nullptr, nullptr);
    // A last stamp shows the final levels for a moment in a viewer.
    dump.file.Printf("#%llu\n", static_cast<unsigned long long>(dump.lastNs + 1));
    return dump.file.Commit(why);
}

}  // namespace vcable
