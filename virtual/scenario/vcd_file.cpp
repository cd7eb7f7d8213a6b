#include "scenario/vcd_file.h"

#include <cstdint>
#include <cstdio>

#include "chip/devices.h"
#include "engine/mpsse_engine.h"

namespace vcable {
namespace {

constexpr int kLines = 16;
const char* const kLineNames[kLines] = {"TCK",    "TDI",    "TDO",    "TMS",    "GPIOL0", "GPIOL1",
                                        "GPIOL2", "GPIOL3", "GPIOH0", "GPIOH1", "GPIOH2", "GPIOH3",
                                        "GPIOH4", "GPIOH5", "GPIOH6", "GPIOH7"};

// The dump: the file, the levels it last wrote and the time of its last stamp. Two changes of one
// line at the same tick get a nanosecond between them, so a viewer shows both.
struct Dump {
    std::FILE* file = nullptr;
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
    if (changed == 0 || dump.file == nullptr) return;
    uint64_t ns = ticks * 1000 / 12 + dump.shiftNs;
    if (ns < dump.lastNs) ns = dump.lastNs;
    if (ns == dump.lastNs && (changed & dump.changedAtLast) != 0) {
        ++ns;
        ++dump.shiftNs;
    }
    if (ns != dump.lastNs) {
        std::fprintf(dump.file, "#%llu\n", static_cast<unsigned long long>(ns));
        dump.lastNs = ns;
        dump.changedAtLast = 0;
    }
    for (int line = 0; line < kLines; ++line) {
        if (changed & (1u << line))
            std::fprintf(dump.file, "%d%c\n", (levels >> line) & 1, Code(line));
    }
    dump.changedAtLast |= changed;
    dump.levels = levels;
}

void WriteHeader() {
    std::fprintf(dump.file,
                 "$version virtual cable $end\n"
                 "$comment channel A of cable 0; times from the MPSSE base clock $end\n"
                 "$timescale 1ns $end\n$scope module cable0 $end\n");
    for (int line = 0; line < kLines; ++line) {
        std::fprintf(dump.file, "$var wire 1 %c %s $end\n", Code(line), kLineNames[line]);
    }
    std::fprintf(dump.file, "$upscope $end\n$enddefinitions $end\n#0\n$dumpvars\n");
    for (int line = 0; line < kLines; ++line) {
        std::fprintf(dump.file, "%d%c\n", (dump.levels >> line) & 1, Code(line));
    }
    std::fprintf(dump.file, "$end\n");
}

}  // namespace

bool StartVcdFile(const char* path) {
    dump.engine = dynamic_cast<MpsseEngine*>(CableMpssePort(0));
    if (dump.engine == nullptr) {
        std::fprintf(stderr, "virtual cable: VCABLE_VCD: cable 0 has no MPSSE engine to record\n");
        return false;
    }
    dump.file = std::fopen(path, "w");
    if (dump.file == nullptr) {
        std::fprintf(stderr, "virtual cable: VCABLE_VCD: cannot write %s\n", path);
        return false;
    }
    dump.levels = dump.engine->Pins().Levels();
    WriteHeader();
    dump.engine->SetPinHook(&OnPins, nullptr);
    return true;
}

void FinishVcdFile() {
    if (dump.file == nullptr) return;
    dump.engine->SetPinHook(nullptr, nullptr);
    // A last stamp shows the final levels for a moment in a viewer.
    std::fprintf(dump.file, "#%llu\n", static_cast<unsigned long long>(dump.lastNs + 1));
    std::fclose(dump.file);
    dump.file = nullptr;
}

}  // namespace vcable
