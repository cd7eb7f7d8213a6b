// The setup of a JTAG chain: its TAP controllers, their instruction tables and memories, and the
// line that resets their data registers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vcable {

// The longest data register or memory word a device may have.
constexpr int kMaxRegisterBits = 65536;

// What an instruction selects between TDI and TDO.
enum class JtagRegister : uint8_t {
    kBypass,    // one bit, captures 0
    kIdcode,    // 32 bits, captures the IDCODE
    kUsercode,  // 32 bits, captures the USERCODE
    kData,      // a register of its own: keeps what Update-DR gives it
    kAddress,   // the memory's address register
    kProgram,   // the memory's data register: Update-DR programs the word at the address
    kRead,      // the memory's data register: Capture-DR reads the word at the address
    kErase,     // one bit, captures 0; loading the instruction erases the memory
    kStatus,    // captureValue with the busy bit and the device's flags laid over it
    kBridge,    // one bit; Shift-DR passes TDI, TCK and TDO through to the SPI flash
};

// When a bridge instruction's chip select rises again.
enum class BridgeSelect : uint8_t {
    kDrScan,   // at Update-DR: a command may rest in Pause-DR and go on in the same scan
    kShiftDr,  // on leaving Shift-DR: each pass through Shift-DR is one command
};

// The device's flags (up to 32, named in the scenario): operations set and clear them, a status
// register shows them.
constexpr int kMaxJtagFlags = 32;

// One row of a device's instruction table. Values are bit streams in clock order (bit k of the
// register in bit k % 8 of byte k / 8), padded as targets/bit_stream.h says.
struct JtagInstruction {
    uint32_t opcode = 0;
    JtagRegister reg = JtagRegister::kBypass;
    int length = 1;                   // kData: 1 to kMaxRegisterBits
    std::vector<uint8_t> resetValue;  // kData: at start and on the reset line (empty: zeros)
    bool fixedCapture = false;        // kData: Capture-DR loads captureValue, not the held value
    std::vector<uint8_t> captureValue;

    // An operation: loading the instruction (or, with busyOnUpdate, every Update-DR of its
    // register) keeps the device busy for busyNs on the model clock; when that time is over the
    // flags of setsFlags are set and those of clearsFlags cleared (bit n: flag n).
    uint64_t busyNs = 0;
    bool busyOnUpdate = false;
    uint32_t setsFlags = 0;
    uint32_t clearsFlags = 0;
    bool StartsOperation() const { return busyNs > 0 || setsFlags != 0 || clearsFlags != 0; }

    // kStatus: captureValue lies under the bits below. The bit that shows busy (-1: none) and its
    // level while busy; flagBits[n] the bit that shows flag n (-1: not shown).
    int busyBit = -1;
    bool busyLevel = true;
    std::vector<int> flagBits = {};

    // kBridge: chip select waits for a 1 at TDI in Shift-DR (the 1 itself is not passed on),
    // so padding zeros from devices before the bridge never reach the flash.
    bool startBit = false;
    BridgeSelect bridgeSelect = BridgeSelect::kDrScan;
};

// A memory array behind an address register. Program writes the data register's word at the
// address, read-back captures the word there, erase sets every bit to the erased value. Each word
// takes (wordBits + 7) / 8 bytes of the memory's image, bit 0 in bit 0 of its first byte.
struct JtagMemorySetup {
    uint32_t words = 0;  // 0: no memory
    int wordBits = 32;
    int addressBits = 16;
    bool erasedOnes = true;      // erased bits read 1 (else 0)
    bool autoIncrement = true;   // program and read-back move the address on at Update-DR
    uint32_t programTcks = 0;    // Run-Test/Idle clocks a program needs before it takes effect
    uint32_t eraseTcks = 0;      // the same for an erase
    std::vector<uint8_t> image;  // initial contents from word 0 (the rest erased)
};

// One TAP controller of the chain. Without an instruction table it has IDCODE and one user data
// register, selected by the two instructions below; every other instruction is BYPASS.
struct JtagDeviceSetup {
    int irLength = 6;              // 2 to 32
    uint32_t idcode = 0x12345677;  // bit 0 must be 1
    uint32_t idcodeInstruction = 0x09;
    uint32_t userInstruction = 0x02;  // selects the user data register
    int userLength = 32;              // 1 to 64 bits
    uint64_t userResetValue = 0;      // loaded at start and by the reset line
    uint32_t irCapture = 0x1;         // what Capture-IR loads: its low two bits are 01
    uint32_t usercode = 0xFFFFFFFF;
    // When given, the instruction table replaces the two instructions above: opcodes it does not
    // list select BYPASS, and Test-Logic-Reset selects IDCODE, or BYPASS when it lists none.
    std::vector<JtagInstruction> instructions;
    JtagMemorySetup memory;
    std::vector<std::string> flags;  // the flags' names, flag n at index n
    // A shared object implementing the device's data registers (vcable_plugin.h), given the
    // config text when it creates the device; instructions it declines fall to the table above.
    std::string plugin;
    std::string pluginConfig;
};

// The device's instruction table: the given one, or IDCODE and the user register.
std::vector<JtagInstruction> InstructionTable(const JtagDeviceSetup& device);

// The default chain: two devices with distinct IDCODEs and instruction lengths.
inline std::vector<JtagDeviceSetup> DefaultJtagDevices() {
    JtagDeviceSetup first;  // nearest TDI
    JtagDeviceSetup second;
    second.irLength = 8;
    second.idcode = 0x87654321;
    second.idcodeInstruction = 0x1E;
    second.userInstruction = 0xC2;
    return {first, second};
}

struct JtagSetup {
    // Device 0 is nearest TDI: bits enter device 0 first and leave the chain through the last
    // device, so a scan out of the chain shows the last device first. Empty: no chain.
    std::vector<JtagDeviceSetup> devices = DefaultJtagDevices();
    // ADBUS line whose low level resets the devices' data registers (GPIOL1, the cable's reset
    // line); kNoResetLine when the chain has none wired.
    static constexpr int kNoResetLine = -1;
    int resetLine = 5;
};

}  // namespace vcable
