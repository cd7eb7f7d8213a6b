// Devices whose registers follow their state: a status register that reads busy and then ready
// on the model clock, flags that operations set, and a bridge instruction that reaches the SPI
// flash through the TAP. Driven with the command sequences a host sends.
#include <gtest/gtest.h>

#include "mpsse_test_util.h"
#include "targets/bit_stream.h"

namespace {

using vcable::JtagInstruction;
using vcable::JtagRegister;
using vtest::Append;
using vtest::Bytes;
using vtest::Send;

constexpr uint32_t kErase = 0x2;      // busy for 100 us once loaded, then "erased"
constexpr uint32_t kStatus = 0x3;     // 8 bits: busy in bit 0 (high), erased in 1, done in 2
constexpr uint32_t kConfigure = 0x4;  // 8-bit data register; each Update-DR sets "done"
constexpr uint32_t kBridge = 0x5;

JtagInstruction Row(uint32_t opcode, JtagRegister reg, int length = 1) {
    JtagInstruction row;
    row.opcode = opcode;
    row.reg = reg;
    row.length = length;
    return row;
}

vcable::TargetSetup Wiring(bool startBit,
                           vcable::BridgeSelect until = vcable::BridgeSelect::kDrScan) {
    vcable::JtagDeviceSetup device;
    device.irLength = 4;
    device.flags = {"erased", "done"};
    JtagInstruction erase = Row(kErase, JtagRegister::kBypass);
    erase.busyNs = 100000;
    erase.setsFlags = 1;
    JtagInstruction status = Row(kStatus, JtagRegister::kStatus, 8);
    status.captureValue = {0x80, 0, 0};  // bit 7 always set
    status.busyBit = 0;
    status.flagBits = {1, 2};
    JtagInstruction configure = Row(kConfigure, JtagRegister::kData, 8);
    configure.busyOnUpdate = true;
    configure.setsFlags = 2;
    JtagInstruction bridge = Row(kBridge, JtagRegister::kBridge);
    bridge.startBit = startBit;
    bridge.bridgeSelect = until;
    device.instructions = {Row(0x1, JtagRegister::kIdcode), erase, status, configure, bridge};
    vcable::TargetSetup setup;
    setup.jtag.devices = {device};
    return setup;
}

Bytes LoadInstruction(uint32_t opcode) {
    Bytes stream = vtest::IdleToShiftIr();
    Append(stream, vtest::ShiftOut(opcode, 4));
    Append(stream, vtest::Exit1ToIdle());
    return stream;
}

// `periods` TCK periods in Run-Test/Idle (TDI low, nothing read).
Bytes Idle(uint32_t periods) {
    Bytes stream;
    for (; periods >= 8; periods -= 8) Append(stream, {0x19, 0x00, 0x00, 0x00});
    if (periods > 0) Append(stream, {0x1B, static_cast<uint8_t>(periods - 1), 0x00});
    return stream;
}

Bytes ScanDr(uint64_t value, int bits) {
    Bytes stream = vtest::IdleToShiftDr();
    Append(stream, vtest::ShiftOut(value, bits));
    Append(stream, vtest::Exit1ToIdle());
    return stream;
}

struct StatusRow {
    const char* name;
    Bytes before;      // sent in the same write as the status read, after the open
    uint8_t expected;  // the status register's capture
};

// The model clock runs with the TCK periods (1 us each at the open's divisor), so each row sends
// its steps and the status read in one write.
TEST(DeviceStatus, ReadsTheStateOnTheModelClock) {
    auto then = [](std::initializer_list<Bytes> parts) {
        Bytes all;
        for (const Bytes& part : parts) Append(all, part);
        return all;
    };
    const StatusRow rows[] = {
        {"at start", {}, 0x80},
        {"right after the erase", then({LoadInstruction(kErase)}), 0x81},
        {"50 us into the erase", then({LoadInstruction(kErase), Idle(50)}), 0x81},
        {"after 120 us", then({LoadInstruction(kErase), Idle(120)}), 0x82},
        {"erased again, 20 us in",
         then({LoadInstruction(kErase), Idle(120), LoadInstruction(kErase), Idle(20)}), 0x83},
        {"configured", then({LoadInstruction(kConfigure), ScanDr(0x5A, 8)}), 0x84},
        {"loading configure alone", then({LoadInstruction(kConfigure)}), 0x80},
    };
    for (const StatusRow& row : rows) {
        vcable::MpsseEngine engine(Wiring(false));
        Send(engine, vtest::kOpenSequence);
        Bytes stream = vtest::ResetToIdle();
        Append(stream, row.before);
        Append(stream, LoadInstruction(kStatus));
        Append(stream, ScanDr(0, 8));
        // The status read's eight replies come last (the instruction scans read too).
        const Bytes reply = Send(engine, stream);
        const Bytes status(reply.end() - 8, reply.end());
        EXPECT_EQ(row.expected, vtest::ShiftIn(status, 8)) << row.name;
    }
}

// SPI bytes go MSB first, a DR scan LSB first: each byte is reversed on the way.
uint64_t SpiBits(const Bytes& bytes) {
    uint64_t value = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        value |= uint64_t{vcable::bits::Reverse(bytes[i])} << (8 * i);
    }
    return value;
}

struct BridgeRow {
    const char* name;
    bool startBit;
    int lead;  // zeros before the command (and, with a start bit, a 1 after them)
};

TEST(SpiBridge, ReadsTheJedecIdThroughTheTap) {
    const BridgeRow rows[] = {{"chip select on Shift-DR", false, 0},
                              {"start bit after padding", true, 3},
                              {"start bit first", true, 0}};
    for (const BridgeRow& row : rows) {
        vcable::MpsseEngine engine(Wiring(row.startBit));
        Send(engine, vtest::kOpenSequence);
        Send(engine, vtest::ResetToIdle());
        Send(engine, LoadInstruction(kBridge));
        const int skip = row.lead + (row.startBit ? 1 : 0);
        const uint64_t out =
            (SpiBits({0x9F, 0, 0, 0}) << skip) | (row.startBit ? 1u << row.lead : 0);
        const int bits = 32 + skip;
        const uint64_t in = vtest::ShiftIn(Send(engine, ScanDr(out, bits)), bits) >> (skip + 8);
        EXPECT_EQ(SpiBits({0xA7, 0x40, 0x14}), in & 0xFFFFFF) << row.name;
        ASSERT_EQ(1u, vtest::Flash(engine).TransactionCount()) << row.name;
        EXPECT_EQ(0x9F, vtest::Flash(engine).Transactions()[0].command) << row.name;
        EXPECT_EQ(4u, vtest::Flash(engine).Transactions()[0].bytes) << row.name;
    }
}

// Files that end each SPI command in Pause-DR start the next one from there, through Exit2-DR and
// never through Update-DR: only chip select framed by Shift-DR makes each scan a command.
TEST(SpiBridge, ScansThatPauseBetweenCommands) {
    using vcable::BridgeSelect;
    const struct {
        const char* name;
        BridgeSelect until;
        bool pause;
        uint32_t transactions;
        uint32_t firstBytes;  // of the first transaction
    } rows[] = {
        {"Shift-DR, paused", BridgeSelect::kShiftDr, true, 2, 1},
        {"Shift-DR, through Update-DR", BridgeSelect::kShiftDr, false, 2, 1},
        {"Update-DR, paused: one command", BridgeSelect::kDrScan, true, 1, 5},
        {"Update-DR, through Update-DR", BridgeSelect::kDrScan, false, 2, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        vcable::MpsseEngine engine(Wiring(false, row.until));
        Send(engine, vtest::kOpenSequence);
        Send(engine, vtest::ResetToIdle());
        Send(engine, LoadInstruction(kBridge));
        Bytes stream = vtest::IdleToShiftDr();
        Append(stream, vtest::ShiftOut(SpiBits({0x06}), 8));  // WREN, ending in Exit1-DR
        // On through Pause-DR and Exit2-DR, or through Update-DR and Capture-DR.
        Append(stream, row.pause ? vtest::Tms(0b010, 3) : vtest::Tms(0b0011, 4));
        Append(stream, vtest::ShiftOut(SpiBits({0x9F, 0, 0, 0}), 32));
        Append(stream, vtest::Exit1ToIdle());
        const Bytes reply = Send(engine, stream);
        const uint64_t id = vtest::ShiftIn(Bytes(reply.end() - 11, reply.end()), 32) >> 8;
        const vcable::SpiFlash& flash = vtest::Flash(engine);
        ASSERT_EQ(row.transactions, flash.TransactionCount());
        EXPECT_EQ(0x06, flash.Transactions()[0].command);
        EXPECT_EQ(row.firstBytes, flash.Transactions()[0].bytes);
        EXPECT_EQ(row.transactions == 2, id == SpiBits({0xA7, 0x40, 0x14}));
        EXPECT_EQ(vcable::flash_status::kWriteEnableLatch,
                  flash.Status() & vcable::flash_status::kWriteEnableLatch);
    }
}

// Another instruction gives the flash back to its own pins.
TEST(SpiBridge, TheFlashAnswersItsPinsAgainAfterTheBridge) {
    vcable::MpsseEngine engine(Wiring(false));
    Send(engine, vtest::kOpenSequence);
    Send(engine, vtest::ResetToIdle());
    Send(engine, LoadInstruction(kBridge));
    Send(engine, ScanDr(SpiBits({0x05, 0}), 16));
    Send(engine, vtest::ResetToIdle());
    EXPECT_EQ("A7 40 14", vtest::Hex(Send(engine, vtest::SpiTransaction({0x9F}, 3))));
    EXPECT_EQ(2u, vtest::Flash(engine).TransactionCount());
}

}  // namespace
