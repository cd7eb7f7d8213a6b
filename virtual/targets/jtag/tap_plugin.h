// A device's data registers in a target plug-in (vcable_plugin.h): the shared object loaded, its
// device created, and the calls the TAP makes into it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "targets/jtag/shift_register.h"
#include "targets/pin_target.h"
#include "vcable_plugin.h"

namespace vcable {

class TapPlugin {
  public:
    // The plug-in at `path` with a device created from `config`; null, with the reason in
    // `error`, when it cannot be loaded or declines.
    static std::unique_ptr<TapPlugin> Load(const std::string& path, const std::string& config,
                                           const std::string& name, TargetEvents* events,
                                           std::string& error);
    ~TapPlugin();
    TapPlugin(const TapPlugin&) = delete;
    TapPlugin& operator=(const TapPlugin&) = delete;

    // The register length the opcode selects in the plug-in (0: none, the table decides).
    int Select(uint32_t opcode);
    void Capture(int length, ShiftRegister& dr);
    void Shifted(uint32_t periods);
    void Update(const ShiftRegister& dr);
    void Idle(uint64_t periods);
    void Reset();
    // What Capture-IR loads: the plug-in's word (from version 2), else the scenario's.
    uint32_t InstructionCapture(uint32_t scenarioCapture);

  private:
    TapPlugin(void* library, const vc_tap_plugin* table, std::string name, TargetEvents* events);
    static uint64_t HostNow(void* context);
    static void HostNote(void* context, const char* text);

    void* library_;
    const vc_tap_plugin* table_;
    std::string name_;
    TargetEvents* events_;
    vc_plugin_host host_{};
    void* device_ = nullptr;
    uint32_t (*instructionCapture_)(void* device, uint32_t scenarioCapture) = nullptr;
};

}  // namespace vcable
