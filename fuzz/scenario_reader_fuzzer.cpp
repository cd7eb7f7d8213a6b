// Fuzzes the virtual cable's scenario reader: arbitrary text as a scenario file. Invariants: no
// crash, no undefined behaviour and no write past a buffer; a text the reader refuses gets a
// one-line message; a text it accepts can be applied to the model (small flashes only, to keep
// each input quick).
#include <cstddef>
#include <cstdint>
#include <string>

#include "scenario/scenario_file.h"

namespace {

constexpr uint32_t kLargestFlashApplied = 1u << 20;

bool SmallEnough(const vcable::scenario_file::ScenarioDesc& scenario) {
    for (const auto& device : scenario.devices) {
        if (device.targets.flash.size > kLargestFlashApplied) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    // A plug-in is code the reader loads and runs: the fuzzer names none (a found system library
    // would run its constructors here).
    if (text.find("plugin") != std::string::npos) return 0;
    vcable::scenario_file::ScenarioDesc scenario;
    std::string error;
    // Relative file names point into a folder that does not exist.
    if (!vcable::scenario_file::Parse(text, "fuzz.toml", "/nonexistent-fuzz-folder", scenario,
                                      error)) {
        // Refused with one line naming the place.
        if (error.empty() || error.find_first_of("\r\n") != std::string::npos) __builtin_trap();
    } else if (SmallEnough(scenario)) {
        vcable::scenario_file::Apply(scenario);
    }
    return 0;
}
