#include "common/vcd.h"

#include <cerrno>
#include <cstring>

namespace kestrel {
namespace {

constexpr int kLineCount = 16;
// Signal names by line number (ADBUS0 to ADBUS7, ACBUS0 to ACBUS7).
const char* const kSignalNames[kLineCount] = {
    "TCK",    "TDI",    "TDO",    "TMS",    "GPIOL0", "GPIOL1", "GPIOL2_CS", "GPIOL3",
    "GPIOH0", "GPIOH1", "GPIOH2", "GPIOH3", "GPIOH4", "GPIOH5", "GPIOH6",    "GPIOH7"};

// One base-clock tick of the 12 MHz clock is 1000/12 ns.
constexpr uint64_t kNanosecondsPerTwelveTicks = 1000;
constexpr uint64_t kTicksPerTwelve = 12;

char Identifier(int line) { return static_cast<char>('!' + line); }

}  // namespace

VcdRecorder::~VcdRecorder() {
    if (file_) std::fclose(file_);
}

bool VcdRecorder::Open(const std::string& path, std::string& error) {
    file_ = std::fopen(path.c_str(), "w");
    if (!file_) error = "cannot write the waveform file " + path + ": " + std::strerror(errno);
    return file_ != nullptr;
}

bool VcdRecorder::Attach(const VirtualCable& virtualCable, int cable, std::string& error) {
    api_ = &virtualCable.api();
    cable_ = cable;
    if (!api_->vc_mpsse_set_pin_hook) {
        error = "this build of the virtual cable has no pin hook; --vcd is not available";
        return false;
    }
    if (api_->vc_pins_get(cable, &levels_, nullptr) != 0) {
        error = "the scenario has no cable " + std::to_string(cable) + " to record";
        return false;
    }
    std::fprintf(file_,
                 "$version kestrel (virtual cable) $end\n"
                 "$comment lines of channel A of cable %d; times from the MPSSE base clock $end\n"
                 "$timescale 1ns $end\n"
                 "$scope module cable%d $end\n",
                 cable, cable);
    for (int line = 0; line < kLineCount; ++line) {
        std::fprintf(file_, "$var wire 1 %c %s $end\n", Identifier(line), kSignalNames[line]);
    }
    std::fprintf(file_, "$upscope $end\n$enddefinitions $end\n#0\n$dumpvars\n");
    for (int line = 0; line < kLineCount; ++line) {
        std::fprintf(file_, "%d%c\n", (levels_ >> line) & 1, Identifier(line));
    }
    std::fprintf(file_, "$end\n");
    api_->vc_mpsse_set_pin_hook(cable, &VcdRecorder::OnPins, this);
    return true;
}

void VcdRecorder::OnPins(void* user, uint64_t time, uint16_t levels) {
    static_cast<VcdRecorder*>(user)->Change(time, levels);
}

void VcdRecorder::Change(uint64_t ticks, uint16_t levels) {
    const uint16_t changed = static_cast<uint16_t>(levels ^ levels_);
    if (!changed) return;
    uint64_t time = ticks * kNanosecondsPerTwelveTicks / kTicksPerTwelve + shift_;
    if (time < lastTime_) time = lastTime_;
    if (time == lastTime_ && (changed & changedAtLast_)) {
        ++time;
        ++shift_;
    }
    if (time != lastTime_) {
        std::fprintf(file_, "#%llu\n", static_cast<unsigned long long>(time));
        lastTime_ = time;
        changedAtLast_ = 0;
    }
    for (int line = 0; line < kLineCount; ++line) {
        if (changed & (1u << line)) {
            std::fprintf(file_, "%d%c\n", (levels >> line) & 1, Identifier(line));
        }
    }
    changedAtLast_ |= changed;
    levels_ = levels;
}

void VcdRecorder::Finish() {
    if (!file_) return;
    if (api_ && api_->vc_mpsse_set_pin_hook) api_->vc_mpsse_set_pin_hook(cable_, nullptr, nullptr);
    // A last time stamp shows the final levels for a moment in a viewer.
    std::fprintf(file_, "#%llu\n", static_cast<unsigned long long>(lastTime_ + 1));
    std::fclose(file_);
    file_ = nullptr;
}

}  // namespace kestrel
