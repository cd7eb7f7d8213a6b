#include "targets/jtag/tap_registers.h"

#include "targets/bit_stream.h"

namespace vcable {
namespace {

// A value stream for a register of `length` bits: padded, zeros where none was given and above
// the length.
std::vector<uint8_t> Padded(std::vector<uint8_t> bits, int length) {
    bits.resize(bits::StreamBytes(length), 0);
    bits::Fill(bits.data(), length, static_cast<uint32_t>(bits.size() * 8 - length), false);
    return bits;
}

}  // namespace

std::vector<JtagInstruction> InstructionTable(const JtagDeviceSetup& device) {
    if (!device.instructions.empty()) return device.instructions;
    JtagInstruction idcode;
    idcode.opcode = device.idcodeInstruction;
    idcode.reg = JtagRegister::kIdcode;
    JtagInstruction user;
    user.opcode = device.userInstruction;
    user.reg = JtagRegister::kData;
    user.length = device.userLength;
    for (int k = 0; k < 8; ++k) user.resetValue.push_back(uint8_t(device.userResetValue >> 8 * k));
    return {idcode, user};
}

TapRegisters::TapRegisters(const JtagDeviceSetup& setup, const std::string& name,
                           TargetEvents* events)
    : idcode_(setup.idcode),
      usercode_(setup.usercode),
      resetOpcode_(static_cast<uint32_t>((uint64_t{1} << setup.irLength) - 1)),
      rows_(InstructionTable(setup)),
      status_(name, events),
      selected_{0, JtagRegister::kBypass, -1, -1} {
    bool idcodeFound = false;
    for (const JtagInstruction& row : rows_) {
        int data = -1;
        if (row.reg == JtagRegister::kData) {
            data = static_cast<int>(data_.size());
            DataRegister reg;
            reg.opcode = row.opcode;
            reg.length = row.length;
            reg.resetValue = Padded(row.resetValue, row.length);
            reg.fixedCapture = row.fixedCapture;
            reg.captureValue = Padded(row.captureValue, row.length);
            data_.push_back(reg);
        }
        if (row.reg == JtagRegister::kIdcode && !idcodeFound) {
            idcodeFound = true;
            resetOpcode_ = row.opcode;
        }
        table_.push_back({row.opcode, row.reg, data, static_cast<int>(table_.size())});
    }
    if (setup.memory.words > 0) {
        memory_ = std::make_unique<JtagMemory>(setup.memory, name, events);
    }
    if (!setup.plugin.empty()) {
        std::string error;
        plugin_ = TapPlugin::Load(setup.plugin, setup.pluginConfig, name, events, error);
        if (!plugin_ && events) events->Error(name + ": " + error);
    }
    ResetDataRegisters();
    Select(resetOpcode_);
}

TapRegisters::Entry TapRegisters::Lookup(uint32_t opcode) const {
    for (const Entry& entry : table_) {
        if (entry.opcode == opcode) return entry;
    }
    return {opcode, JtagRegister::kBypass, -1, -1};
}

DataRegister* TapRegisters::Data(uint32_t opcode) {
    const Entry entry = Lookup(opcode);
    return entry.data < 0 ? nullptr : &data_[entry.data];
}

void TapRegisters::Select(uint32_t opcode) {
    pluginLength_ = plugin_ ? plugin_->Select(opcode) : 0;
    selected_ = pluginLength_ > 0 ? Entry{opcode, JtagRegister::kBypass, -1, -1} : Lookup(opcode);
    const JtagInstruction* row = selected_.row < 0 ? nullptr : &rows_[selected_.row];
    bridge_.Select(selected_.reg == JtagRegister::kBridge ? row : nullptr);
    if (row && row->StartsOperation() && !row->busyOnUpdate) status_.Start(*row);
    if (!memory_) return;
    memory_->InstructionChanged();
    if (selected_.reg == JtagRegister::kErase) memory_->StartErase();
}

void TapRegisters::Capture(ShiftRegister& dr) {
    if (pluginLength_ > 0) {
        plugin_->Capture(pluginLength_, dr);
        return;
    }
    switch (selected_.reg) {
        case JtagRegister::kIdcode:
            dr.Load(32, idcode_);
            break;
        case JtagRegister::kUsercode:
            dr.Load(32, usercode_);
            break;
        case JtagRegister::kData: {
            const DataRegister& reg = data_[selected_.data];
            dr.Load(reg.length, reg.fixedCapture ? reg.captureValue.data() : reg.value.data());
            break;
        }
        case JtagRegister::kAddress:
            memory_->CaptureAddress(dr);
            break;
        case JtagRegister::kProgram:
            memory_->CaptureProgram(dr);
            break;
        case JtagRegister::kRead:
            memory_->CaptureWord(dr);
            break;
        case JtagRegister::kStatus:
            status_.Capture(rows_[selected_.row], dr);
            break;
        default:  // BYPASS, erase and the bridge: one bit that captures 0
            dr.Load(1, uint64_t{0});
            break;
    }
}

void TapRegisters::Shifted(uint32_t periods) {
    if (pluginLength_ > 0) plugin_->Shifted(periods);
}

void TapRegisters::Update(const ShiftRegister& dr) {
    if (pluginLength_ > 0) {
        plugin_->Update(dr);
        return;
    }
    if (selected_.row >= 0 && rows_[selected_.row].busyOnUpdate) {
        status_.Start(rows_[selected_.row]);
    }
    switch (selected_.reg) {
        case JtagRegister::kData:
            dr.Store(data_[selected_.data].value.data());
            break;
        case JtagRegister::kAddress:
            memory_->UpdateAddress(dr);
            break;
        case JtagRegister::kProgram:
            memory_->UpdateProgram(dr);
            break;
        case JtagRegister::kRead:
            memory_->UpdateRead();
            break;
        default:
            break;
    }
}

void TapRegisters::RunTestClocks(uint64_t periods) {
    if (memory_) memory_->RunTestClocks(periods);
    if (plugin_) plugin_->Idle(periods);
}

void TapRegisters::ResetDataRegisters() {
    for (DataRegister& reg : data_) reg.value = reg.resetValue;
    if (plugin_) plugin_->Reset();
}

}  // namespace vcable
