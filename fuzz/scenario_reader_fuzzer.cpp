// Fuzzes the virtual cable's scenario reader: any text given to vc_load_scenario_text either
// loads, or fails with a one-line message and leaves the scenario in force as it was. Seeds: the
// example scenarios (examples/scenarios/*.toml).
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "vcable.h"
#include "vcable_scenario.h"
#include "vcable_targets.h"

namespace {

// What each input starts from: one cable whose 8 KiB flash tells it from anything else.
constexpr const char* kStart = R"(
[[device]]
description = "START"
[device.flash]
size = 8192
)";

void Fail(const char* what, const char* error) {
    fprintf(stderr, "invariant broken: %s (message: %s)\n", what, error);
    __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char error[256] = "";
    if (vc_set_reset_scenario(kStart, error, sizeof error) != 0) {
        fprintf(stderr, "start scenario: %s\n", error);
        __builtin_trap();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vc_reset();
    const std::string text(reinterpret_cast<const char*>(data), size);
    char error[512];
    std::memset(error, 'x', sizeof error);
    if (vc_load_scenario_text(text.c_str(), error, sizeof error) == 0) return 0;
    if (std::memchr(error, '\0', sizeof error) == nullptr) Fail("unterminated message", "");
    if (error[0] == '\0' || std::strchr(error, '\n') != nullptr) Fail("not one line", error);
    uint32_t flashSize = 0;
    if (vc_device_count() != 1 || vc_flash_size(0, &flashSize) != VC_OK || flashSize != 8192) {
        Fail("a failed load changed the scenario", error);
    }
    return 0;
}
