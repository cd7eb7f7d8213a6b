// The virtual cable as the tool uses it: its vendor library loaded by full path before the
// KestrelLink library loads the vendor library by plain name (which then finds the loaded copy),
// and its control API looked up on that library.
#pragma once

#include <string>
#include <vector>

#include "vcable.h"
#include "vcable_clock.h"
#include "vcable_scenario.h"
#include "vcable_targets.h"

namespace kestrel {

// clang-format off
// Control functions the tool needs from every build of the virtual cable.
#define KESTREL_VC_REQUIRED(X) \
    X(vc_reset) \
    X(vc_device_count) \
    X(vc_log_count) \
    X(vc_log_get) \
    X(vc_model_error_count) \
    X(vc_model_error) \
    X(vc_channel_settings) \
    X(vc_eeprom_view) \
    X(vc_eeprom_user_area) \
    X(vc_jtag_device_count) \
    X(vc_flash_size) \
    X(vc_flash_read) \
    X(vc_pins_get) \
    X(vc_mpsse_set_trace) \
    X(vc_mpsse_error_count) \
    X(vc_mpsse_tck_cycles) \
    X(vc_mpsse_base_clock_ticks)

// Control functions that newer builds add; null when the loaded build lacks them.
#define KESTREL_VC_OPTIONAL(X) \
    X(vc_set_reply_delivery) \
    X(vc_load_scenario_file) \
    X(vc_load_scenario_text) \
    X(vc_scenario_files_supported) \
    X(vc_mpsse_set_pin_hook) \
    X(vc_state_save) \
    X(vc_state_load) \
    X(vc_jtag_memory_info) \
    X(vc_jtag_memory_read) \
    X(vc_clock_reset) \
    X(vc_clock_read) \
    X(vc_clock_wait) \
    X(vc_jtag_reset_line)
// clang-format on

// The environment variables with which the virtual cable reads and writes files of its own, for
// any program that loads it, beside what the tool asks of it (docs/virtual-cable.md): the
// scenario it reads, and the files it writes (the state is read too).
inline constexpr const char* kVirtualCableScenarioVariable = "VCABLE_SCENARIO";
inline constexpr const char* kVirtualCableFileVariables[] = {
    "VCABLE_STATE",        "VCABLE_TRACE",        "VCABLE_VCD",
    "VCABLE_CLOCK_REPORT", "VCABLE_MODEL_ERRORS", "VCABLE_CALL_LOG"};

struct VirtualApi {
#define KESTREL_VC_POINTER(name) decltype(&::name) name = nullptr;
    KESTREL_VC_REQUIRED(KESTREL_VC_POINTER)
    KESTREL_VC_OPTIONAL(KESTREL_VC_POINTER)
#undef KESTREL_VC_POINTER
    // UART peer queries (vcable_uart.h), looked up by name when present.
    uint64_t (*vc_uart_received_count)(int, int) = nullptr;
    uint32_t (*vc_uart_received_read)(int, int, uint32_t, uint8_t*, uint32_t) = nullptr;
};

class VirtualCable {
  public:
    // Finds and loads the virtual cable's vendor library; returns false with a reason.
    bool Load(std::string& error);
    // Loads a scenario file (empty path: keeps the embedded default). Returns false with the
    // loader's message.
    bool LoadScenario(const std::string& path, std::string& error);

    // The state file (--state): loaded when it exists, saved when the command ends.
    bool LoadState(const std::string& path, std::string& error);
    bool SaveState(const std::string& path, std::string& error);

    // What the cables remember (flash contents, EEPROM, the JTAG devices' memories), to tell later
    // whether a run changed it.
    struct Memory {
        std::vector<std::vector<uint8_t>> flash;
        std::vector<VcEepromView> eeprom;
        std::vector<std::vector<uint8_t>> userArea;
        std::vector<std::vector<uint8_t>> jtag;  // per cable: every chain memory, device 0 first
    };
    Memory Remember() const;
    // "the flash of cable 0 and the EEPROM of cable 1", or empty when nothing changed.
    std::string ChangesSince(const Memory& before) const;

    const VirtualApi& api() const { return api_; }
    const std::string& path() const { return path_; }

  private:
    void* handle_ = nullptr;
    std::string path_;
    VirtualApi api_;
};

// Waits `seconds`: on the virtual cable's model clock when `cable` is given and has vc_clock_wait
// (what runs on that clock goes on meanwhile, and the host does not sleep), else on the host.
void Pause(const VirtualCable* cable, double seconds);

// Where the virtual cable's library is: $KESTREL_VIRTUAL_LIB, else the first that exists of its
// installed location relative to the tool, the build tree's virtual-cable folder, and the tool's
// own folder; else the installed location.
std::string FindVirtualLibrary();

}  // namespace kestrel
