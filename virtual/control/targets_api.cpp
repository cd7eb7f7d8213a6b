// The C control API over a cable's engine and the targets on its pins: thin wrappers that find
// the engine or a target by its type, check the arguments and call one method.
#include <algorithm>
#include <cstring>

#include "chip/devices.h"
#include "engine/mpsse_engine.h"
#include "entry_points/model_lock.h"
#include "targets/flash/spi_flash.h"
#include "targets/gpio/gpio_inputs.h"
#include "targets/jtag/jtag_chain.h"
#include "vcable_targets.h"

namespace {

using vcable::GpioInputs;
using vcable::JtagChain;
using vcable::JtagMemory;
using vcable::ModelLock;
using vcable::MpsseEngine;
using vcable::SpiFlash;
using vcable::TapController;

MpsseEngine* Engine(int cable) { return dynamic_cast<MpsseEngine*>(vcable::CableMpssePort(cable)); }

// A cable's engine and one of its targets; code is VC_OK when both were found.
template <class T>
struct Found {
    MpsseEngine* engine = nullptr;
    T* target = nullptr;
    int code = VC_E_NO_CABLE;
};

template <class T>
Found<T> Find(int cable) {
    MpsseEngine* engine = Engine(cable);
    if (!engine) return {};
    T* target = engine->Find<T>();
    return {engine, target, target ? VC_OK : VC_E_NO_TARGET};
}

// Device `device` of the cable's chain (VC_E_ARGUMENT when the chain has no such device).
Found<TapController> FindTap(int cable, int device) {
    auto [engine, chain, code] = Find<JtagChain>(cable);
    if (code != VC_OK) return {engine, nullptr, code};
    if (device < 0 || device >= chain->DeviceCount()) return {engine, nullptr, VC_E_ARGUMENT};
    return {engine, &chain->Device(device), VC_OK};
}

// The memory of device `device` of the cable's chain (VC_E_NO_TARGET when it has none).
struct FoundMemory {
    JtagMemory* memory = nullptr;
    int code = VC_E_NO_CABLE;
};

FoundMemory FindMemory(int cable, int device) {
    auto [engine, tap, code] = FindTap(cable, device);
    if (code != VC_OK) return {nullptr, code};
    JtagMemory* memory = tap->Registers().Memory();
    return {memory, memory ? VC_OK : VC_E_NO_TARGET};
}

bool InRange(size_t size, uint32_t offset, uint32_t count) {
    return static_cast<uint64_t>(offset) + count <= size;
}

bool ValidDrive(int line, int level) {
    return line >= 0 && line < vcable::pin::kLineCount && level >= -1 && level <= 1;
}

}  // namespace

extern "C" {

int vc_targets_restore_default(int cable) {
    const ModelLock lock;
    MpsseEngine* engine = Engine(cable);
    if (!engine) return VC_E_NO_CABLE;
    engine->Reconfigure(vcable::TargetSetup{});
    return VC_OK;
}

int vc_jtag_set_chain(int cable, int count, const vc_jtag_device* devices) {
    const ModelLock lock;
    auto [engine, present, code] = Find<JtagChain>(cable);
    if (!engine) return code;
    if (count < 0 || (count > 0 && !devices)) return VC_E_ARGUMENT;
    vcable::JtagSetup chain;
    chain.devices.clear();
    if (present) chain.resetLine = present->ResetLine();
    for (int i = 0; i < count; ++i) {
        const vc_jtag_device& d = devices[i];
        const bool irOk = d.ir_length >= 2 && d.ir_length <= 32;
        const uint64_t irLimit = 1ull << d.ir_length;
        if (!irOk || d.idcode_instruction >= irLimit || d.user_instruction >= irLimit ||
            d.user_length < 1 || d.user_length > 64) {
            return VC_E_ARGUMENT;
        }
        vcable::JtagDeviceSetup setup;
        setup.irLength = d.ir_length;
        setup.idcode = d.idcode;
        setup.idcodeInstruction = d.idcode_instruction;
        setup.userInstruction = d.user_instruction;
        setup.userLength = d.user_length;
        setup.userResetValue = 0;
        chain.devices.push_back(setup);
    }
    engine->Replace<JtagChain>(chain);
    return VC_OK;
}

int vc_jtag_device_count(int cable) {
    const ModelLock lock;
    auto [engine, chain, code] = Find<JtagChain>(cable);
    return chain ? chain->DeviceCount() : code;
}

int vc_jtag_reset_line(int cable, int* line) {
    const ModelLock lock;
    auto [engine, chain, code] = Find<JtagChain>(cable);
    if (!chain) return code;
    if (!line) return VC_E_ARGUMENT;
    *line = chain->ResetLine();
    return VC_OK;
}

int vc_jtag_tap_state(int cable, int device) {
    const ModelLock lock;
    auto [engine, tap, code] = FindTap(cable, device);
    return tap ? static_cast<int>(tap->State()) : code;
}

const char* vc_jtag_tap_state_name(int state) {
    const ModelLock lock;
    if (state < 0 || state >= vcable::kTapStateCount) return "";
    return vcable::TapStateName(static_cast<vcable::TapState>(state));
}

int vc_jtag_instruction(int cable, int device, uint32_t* instruction) {
    const ModelLock lock;
    auto [engine, tap, code] = FindTap(cable, device);
    if (code != VC_OK) return code;
    if (!instruction) return VC_E_ARGUMENT;
    *instruction = tap->Instruction();
    return VC_OK;
}

int vc_jtag_user_register(int cable, int device, uint64_t* value) {
    const ModelLock lock;
    auto [engine, tap, code] = FindTap(cable, device);
    if (code != VC_OK) return code;
    if (!tap->Registers().FirstData()) return VC_E_NO_TARGET;
    if (!value) return VC_E_ARGUMENT;
    *value = tap->UserRegister();
    return VC_OK;
}

int vc_jtag_set_user_register(int cable, int device, uint64_t value) {
    const ModelLock lock;
    auto [engine, tap, code] = FindTap(cable, device);
    if (code != VC_OK) return code;
    if (!tap->Registers().FirstData()) return VC_E_NO_TARGET;
    tap->SetUserRegister(value);
    return VC_OK;
}

int vc_jtag_data_register(int cable, int device, uint32_t opcode, uint8_t* data, uint32_t size,
                          uint32_t* bits) {
    const ModelLock lock;
    auto [engine, tap, code] = FindTap(cable, device);
    if (code != VC_OK) return code;
    const vcable::DataRegister* reg = tap->Registers().Data(opcode);
    if (!reg || !data || size < static_cast<uint32_t>(reg->length + 7) / 8) return VC_E_ARGUMENT;
    std::copy_n(reg->value.begin(), (reg->length + 7) / 8, data);
    if (bits) *bits = static_cast<uint32_t>(reg->length);
    return VC_OK;
}

int vc_jtag_memory_info(int cable, int device, vc_jtag_memory* info) {
    const ModelLock lock;
    auto [memory, code] = FindMemory(cable, device);
    if (code != VC_OK) return code;
    if (!info) return VC_E_ARGUMENT;
    *info = {memory->Words(), static_cast<uint32_t>(memory->WordBits()),
             static_cast<uint32_t>(memory->AddressBits()), memory->Address(),
             memory->PendingTcks()};
    return VC_OK;
}

int vc_jtag_memory_read(int cable, int device, uint32_t offset, uint8_t* data, uint32_t count) {
    const ModelLock lock;
    auto [memory, code] = FindMemory(cable, device);
    if (code != VC_OK) return code;
    if ((count && !data) || !InRange(memory->Image().size(), offset, count)) return VC_E_ARGUMENT;
    std::copy_n(memory->Image().begin() + offset, count, data);
    return VC_OK;
}

int vc_jtag_memory_write(int cable, int device, uint32_t offset, const uint8_t* data,
                         uint32_t count) {
    const ModelLock lock;
    auto [memory, code] = FindMemory(cable, device);
    if (code != VC_OK) return code;
    if ((count && !data) || !InRange(memory->Image().size(), offset, count)) return VC_E_ARGUMENT;
    memory->Write(offset, data, count);
    return VC_OK;
}

int vc_flash_size(int cable, uint32_t* size) {
    const ModelLock lock;
    auto [engine, flash, code] = Find<SpiFlash>(cable);
    if (code != VC_OK) return code;
    if (!size) return VC_E_ARGUMENT;
    *size = static_cast<uint32_t>(flash->Memory().size());
    return VC_OK;
}

int vc_flash_write(int cable, uint32_t address, const uint8_t* data, uint32_t count) {
    const ModelLock lock;
    auto [engine, flash, code] = Find<SpiFlash>(cable);
    if (code != VC_OK) return code;
    if ((count && !data) || !InRange(flash->Memory().size(), address, count)) return VC_E_ARGUMENT;
    std::copy_n(data, count, flash->Memory().begin() + address);
    return VC_OK;
}

int vc_flash_read(int cable, uint32_t address, uint8_t* data, uint32_t count) {
    const ModelLock lock;
    auto [engine, flash, code] = Find<SpiFlash>(cable);
    if (code != VC_OK) return code;
    if ((count && !data) || !InRange(flash->Memory().size(), address, count)) return VC_E_ARGUMENT;
    std::copy_n(flash->Memory().begin() + address, count, data);
    return VC_OK;
}

int vc_flash_status(int cable, uint8_t* status) {
    const ModelLock lock;
    auto [engine, flash, code] = Find<SpiFlash>(cable);
    if (code != VC_OK) return code;
    if (!status) return VC_E_ARGUMENT;
    *status = flash->Status();
    return VC_OK;
}

int vc_flash_transaction_count(int cable, uint64_t* count) {
    const ModelLock lock;
    auto [engine, flash, code] = Find<SpiFlash>(cable);
    if (code != VC_OK) return code;
    if (!count) return VC_E_ARGUMENT;
    *count = flash->TransactionCount();
    return VC_OK;
}

int vc_flash_transaction_get(int cable, uint32_t index, vc_flash_transaction* out) {
    const ModelLock lock;
    auto [engine, flash, code] = Find<SpiFlash>(cable);
    if (code != VC_OK) return code;
    if (!out || index >= flash->Transactions().size()) return VC_E_ARGUMENT;
    const vcable::FlashTransaction& t = flash->Transactions()[index];
    *out = {t.command, t.address, t.bytes, t.extraBits};
    return VC_OK;
}

int vc_flash_clear_transactions(int cable) {
    const ModelLock lock;
    auto [engine, flash, code] = Find<SpiFlash>(cable);
    if (code != VC_OK) return code;
    flash->ClearTransactions();
    return VC_OK;
}

int vc_gpio_set_input(int cable, int line, int level) {
    const ModelLock lock;
    auto [engine, gpio, code] = Find<GpioInputs>(cable);
    if (code != VC_OK) return code;
    if (!ValidDrive(line, level)) return VC_E_ARGUMENT;
    gpio->Set(line, level);
    engine->PinsChanged();
    return VC_OK;
}

int vc_gpio_schedule(int cable, int line, int level, uint32_t after_polls) {
    const ModelLock lock;
    auto [engine, gpio, code] = Find<GpioInputs>(cable);
    if (code != VC_OK) return code;
    if (!ValidDrive(line, level)) return VC_E_ARGUMENT;
    gpio->Schedule(line, level, after_polls);
    return VC_OK;
}

int vc_pins_get(int cable, uint16_t* levels, uint16_t* directions) {
    const ModelLock lock;
    MpsseEngine* engine = Engine(cable);
    if (!engine) return VC_E_NO_CABLE;
    if (levels) *levels = engine->Pins().Levels();
    if (directions) *directions = engine->Pins().Directions();
    return VC_OK;
}

int vc_mpsse_waiting(int cable) {
    const ModelLock lock;
    MpsseEngine* engine = Engine(cable);
    if (!engine) return VC_E_NO_CABLE;
    return engine->Waiting() ? 1 : 0;
}

uint32_t vc_mpsse_error_count(int cable) {
    const ModelLock lock;
    MpsseEngine* engine = Engine(cable);
    return engine ? engine->ErrorCount() : 0;
}

int vc_mpsse_last_error(int cable, char* text, size_t size) {
    const ModelLock lock;
    MpsseEngine* engine = Engine(cable);
    if (!engine) return VC_E_NO_CABLE;
    if (!text || size == 0) return VC_E_ARGUMENT;
    const std::string& last = engine->LastError();
    const size_t n = std::min(last.size(), size - 1);
    std::memcpy(text, last.data(), n);
    text[n] = '\0';
    return VC_OK;
}

uint32_t vc_mpsse_bad_command_count(int cable) {
    const ModelLock lock;
    MpsseEngine* engine = Engine(cable);
    return engine ? engine->BadCommandCount() : 0;
}

void vc_mpsse_clear_errors(int cable) {
    const ModelLock lock;
    if (MpsseEngine* engine = Engine(cable)) engine->ClearErrors();
}

uint64_t vc_mpsse_tck_cycles(int cable) {
    const ModelLock lock;
    MpsseEngine* engine = Engine(cable);
    return engine ? engine->ClockedCycles() : 0;
}

uint64_t vc_mpsse_base_clock_ticks(int cable) {
    const ModelLock lock;
    MpsseEngine* engine = Engine(cable);
    return engine ? engine->ClockedBaseTicks() : 0;
}

int vc_mpsse_divisor(int cable) {
    const ModelLock lock;
    MpsseEngine* engine = Engine(cable);
    if (!engine) return VC_E_NO_CABLE;
    return engine->Divisor();
}

int vc_mpsse_loopback(int cable) {
    const ModelLock lock;
    MpsseEngine* engine = Engine(cable);
    if (!engine) return VC_E_NO_CABLE;
    return engine->Loopback() ? 1 : 0;
}

int vc_mpsse_set_fast_paths(int cable, int enable) {
    const ModelLock lock;
    MpsseEngine* engine = Engine(cable);
    if (!engine) return VC_E_NO_CABLE;
    engine->SetFastPaths(enable != 0);
    return VC_OK;
}

int vc_mpsse_set_trace(int cable, vc_trace_fn fn, void* user) {
    const ModelLock lock;
    MpsseEngine* engine = Engine(cable);
    if (!engine) return VC_E_NO_CABLE;
    engine->SetTrace(fn, fn ? user : nullptr);
    return VC_OK;
}

int vc_mpsse_set_pin_hook(int cable, vc_pin_fn fn, void* user) {
    const ModelLock lock;
    MpsseEngine* engine = Engine(cable);
    if (!engine) return VC_E_NO_CABLE;
    engine->SetPinHook(fn, fn ? user : nullptr);
    return VC_OK;
}

}  // extern "C"
