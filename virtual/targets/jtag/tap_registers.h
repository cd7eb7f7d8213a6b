// A TAP controller's data registers behind its instruction table: which register an opcode
// selects, what each one captures, and what Update-DR does with the value shifted into it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "targets/jtag/device_status.h"
#include "targets/jtag/jtag_memory.h"
#include "targets/jtag/jtag_setup.h"
#include "targets/jtag/shift_register.h"
#include "targets/jtag/spi_bridge.h"
#include "targets/jtag/tap_plugin.h"
#include "targets/pin_target.h"

namespace vcable {

// A register of the device's own (JtagRegister::kData), with its value as a padded bit stream.
struct DataRegister {
    uint32_t opcode = 0;
    int length = 1;
    std::vector<uint8_t> resetValue;
    bool fixedCapture = false;
    std::vector<uint8_t> captureValue;
    std::vector<uint8_t> value;
};

class TapRegisters {
  public:
    // Notes (a program lost, an address past the memory) go to `events` when given, each
    // starting with `name`.
    TapRegisters(const JtagDeviceSetup& setup, const std::string& name, TargetEvents* events);

    // The instruction Test-Logic-Reset loads: IDCODE's opcode, else all ones (BYPASS).
    uint32_t ResetOpcode() const { return resetOpcode_; }

    // A new instruction (Update-IR, Test-Logic-Reset): its register is selected (the plug-in's,
    // when it takes the opcode), a memory operation still pending is lost, an erase instruction
    // starts erasing and an operation that starts on loading starts.
    void Select(uint32_t opcode);
    void Capture(ShiftRegister& dr);
    void Shifted(uint32_t periods);
    void Update(const ShiftRegister& dr);
    void RunTestClocks(uint64_t periods);
    void ResetDataRegisters();
    // What Capture-IR loads: the scenario's `irCapture`, or the plug-in's word for it.
    uint32_t InstructionCapture(uint32_t irCapture) {
        return plugin_ ? plugin_->InstructionCapture(irCapture) : irCapture;
    }

    // The bridge instruction's way to the flash, when the device has one selected.
    SpiBridge& Bridge() { return bridge_; }
    const SpiBridge& Bridge() const { return bridge_; }

    // The control API's view.
    DataRegister* Data(uint32_t opcode);
    DataRegister* FirstData() { return data_.empty() ? nullptr : &data_.front(); }
    const DataRegister* FirstData() const { return data_.empty() ? nullptr : &data_.front(); }
    JtagMemory* Memory() { return memory_.get(); }
    const JtagMemory* Memory() const { return memory_.get(); }

  private:
    struct Entry {
        uint32_t opcode;
        JtagRegister reg;
        int data;  // kData: index into data_
        int row;   // index into rows_ (-1: an opcode the table does not list)
    };

    Entry Lookup(uint32_t opcode) const;

    uint32_t idcode_;
    uint32_t usercode_;
    uint32_t resetOpcode_;
    std::vector<Entry> table_;
    std::vector<JtagInstruction> rows_;
    std::vector<DataRegister> data_;
    std::unique_ptr<JtagMemory> memory_;
    DeviceStatus status_;
    SpiBridge bridge_;
    std::unique_ptr<TapPlugin> plugin_;
    int pluginLength_ = 0;  // the plug-in's register is selected when above 0
    Entry selected_;
};

}  // namespace vcable
