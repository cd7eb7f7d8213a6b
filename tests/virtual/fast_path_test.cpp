// The engine's fast path against its edge-by-edge clocking: two engines with the same wiring get
// the same random host streams, one with fast paths off, and must answer and end up alike.
#include <gtest/gtest.h>

#include <random>

#include "mpsse_test_util.h"

namespace {

using vcable::MpsseEngine;
using vtest::Append;
using vtest::Bytes;
using vtest::Hex;

// Builds random host traffic: TAP moves, shifts of every form and length, flash reads and
// programs under chip select, pin changes (TCK idle high, reset line low, loopback) that force
// the slow path now and then.
class RandomHost {
  public:
    explicit RandomHost(uint32_t seed) : rng_(seed) {}

    Bytes Stream(int commands) {
        Bytes out = vtest::kOpenSequence;
        for (int i = 0; i < commands; ++i) Append(out, Command());
        return out;
    }

  private:
    uint32_t Pick(uint32_t below) {
        return std::uniform_int_distribution<uint32_t>(0, below - 1)(rng_);
    }
    uint8_t Byte() { return static_cast<uint8_t>(Pick(256)); }

    Bytes Command() {
        switch (Pick(10)) {
            case 0:
            case 1: {
                static const uint8_t kTms[] = {0x4A, 0x4B, 0x6A, 0x6B, 0x6E, 0x6F};
                return {kTms[Pick(6)], static_cast<uint8_t>(Pick(7)), Byte()};
            }
            case 2:
            case 3:
            case 4:
                return ByteShift();
            case 5:
                return BitShift();
            case 6:
                return FlashTransaction();
            case 7:
                return Idle();
            case 8: {
                // Pins: mostly the default, sometimes TCK resting high, the chain's reset line
                // driven low, or the flash selected.
                static const uint8_t kLevels[] = {0xFA, 0xFA, 0xFB, 0xDA, 0xBA, 0xF8};
                static const uint8_t kDirections[] = {0xCB, 0xCB, 0xEB, 0xCF};
                return {0x80, kLevels[Pick(6)], kDirections[Pick(4)]};
            }
            default:
                return {static_cast<uint8_t>(Pick(4) == 0 ? 0x84 : 0x85), 0x86,
                        static_cast<uint8_t>(Pick(3)), 0x00};
        }
    }

    uint8_t ShiftOpcode(bool bitMode) {
        uint8_t op = static_cast<uint8_t>(Pick(4) == 0 ? 0x10 : Pick(2) ? 0x30 : 0x20);
        op |= static_cast<uint8_t>(Pick(16) & 0x0D);  // edges and bit order
        return static_cast<uint8_t>(bitMode ? op | 0x02 : op);
    }

    Bytes ByteShift() {
        const uint8_t op = ShiftOpcode(false);
        const uint32_t n = 1 + Pick(Pick(4) == 0 ? 600 : 40);
        Bytes out = {op, static_cast<uint8_t>(n - 1), static_cast<uint8_t>((n - 1) >> 8)};
        if (op & 0x10) {
            for (uint32_t i = 0; i < n; ++i) out.push_back(Byte());
        }
        return out;
    }

    Bytes BitShift() {
        const uint8_t op = ShiftOpcode(true);
        Bytes out = {op, static_cast<uint8_t>(Pick(8))};
        if (op & 0x10) out.push_back(Byte());
        return out;
    }

    // Through TMS into Shift-DR or Shift-IR and a long shift there, so the registers' fast path
    // sees real traffic, then out again. Without the reset, a DR scan goes through the register
    // the last IR scan selected.
    Bytes Idle() {
        Bytes out = Pick(2) ? vtest::ResetToIdle() : Bytes{};
        Append(out, Pick(2) ? vtest::IdleToShiftDr() : vtest::IdleToShiftIr());
        Append(out, ByteShift());
        Append(out, vtest::Tms(0b011, 3));
        return out;
    }

    Bytes FlashTransaction() {
        Bytes out = {0x80, 0xBA, 0xCB};  // chip select low
        const uint8_t kind = static_cast<uint8_t>(Pick(4));
        if (kind == 0 || kind == 1) {
            const bool fast = kind == 1;
            out.insert(out.end(),
                       {0x11, static_cast<uint8_t>(fast ? 4 : 3), 0x00,
                        static_cast<uint8_t>(fast ? 0x0B : 0x03), Byte(), Byte(), Byte()});
            if (fast) out.push_back(Byte());
            Append(out, Pick(3) ? ByteShift() : BitShift());
            if (Pick(2)) Append(out, ByteShift());
        } else if (kind == 2) {
            out.insert(out.end(), {0x11, 0x00, 0x00, 0x06, 0x80, 0xFA, 0xCB, 0x80, 0xBA, 0xCB});
            out.insert(out.end(), {0x11, 0x07, 0x00, 0x02, Byte(), Byte(), Byte(), Byte(), Byte(),
                                   Byte(), Byte()});
        } else {
            out.insert(out.end(), {0x11, 0x00, 0x00, 0x05});
            Append(out, ByteShift());
        }
        out.insert(out.end(), {0x80, 0xFA, 0xCB});
        return out;
    }

    std::mt19937 rng_;
};

// A chain whose first device has an instruction table: a 100-bit register, which shifts through
// the ring, and a memory of 72-bit words that waits for Run-Test/Idle clocks.
vcable::TargetSetup TableWiring() {
    using R = vcable::JtagRegister;
    vcable::JtagDeviceSetup device;
    device.irLength = 3;
    const auto row = [](uint32_t opcode, R reg, int length = 1) {
        vcable::JtagInstruction instruction;
        instruction.opcode = opcode;
        instruction.reg = reg;
        instruction.length = length;
        return instruction;
    };
    device.instructions = {row(1, R::kData, 100), row(2, R::kAddress), row(3, R::kProgram),
                           row(4, R::kRead),      row(5, R::kErase),   row(6, R::kIdcode)};
    device.memory.words = 8;
    device.memory.wordBits = 72;
    device.memory.addressBits = 3;
    device.memory.programTcks = 5;
    vcable::TargetSetup setup;
    setup.jtag.devices.insert(setup.jtag.devices.begin(), device);
    return setup;
}

// What an engine shows of its state, for comparison.
std::string Describe(MpsseEngine& engine) {
    std::string text = "pins " + std::to_string(engine.Pins().Levels()) + "/" +
                       std::to_string(engine.Pins().Outputs()) + " cycles " +
                       std::to_string(engine.ClockedCycles()) + " ticks " +
                       std::to_string(engine.ClockedBaseTicks()) + " errors " +
                       std::to_string(engine.ErrorCount());
    for (int d = 0; d < vtest::Chain(engine).DeviceCount(); ++d) {
        const vcable::TapController& tap = vtest::Chain(engine).Device(d);
        text += " tap" + std::to_string(d) + " " + vcable::TapStateName(tap.State()) + " ir " +
                std::to_string(tap.Instruction());
        if (const vcable::DataRegister* user = tap.Registers().FirstData()) {
            text += " data " + Hex(user->value);
        }
        if (const vcable::JtagMemory* memory = tap.Registers().Memory()) {
            text += " memory " + Hex(memory->Image()) + " at " + std::to_string(memory->Address());
        }
    }
    text += " flash status " + std::to_string(vtest::Flash(engine).Status());
    return text;
}

TEST(FastPath, AnswersAndEndsAsTheEdgeByEdgeClocking) {
    for (uint32_t seed = 1; seed <= 16; ++seed) {
        RandomHost host(seed);
        const Bytes stream = host.Stream(250);
        const vcable::TargetSetup wiring = seed % 2 ? vcable::TargetSetup{} : TableWiring();
        MpsseEngine fast{wiring};
        MpsseEngine slow{wiring};
        slow.SetFastPaths(false);
        // The same stream, cut into writes at random places.
        std::mt19937 cuts(seed);
        Bytes fastRx;
        Bytes slowRx;
        for (size_t at = 0; at < stream.size();) {
            const size_t n = std::min<size_t>(stream.size() - at, 1 + cuts() % 700);
            fast.Write(stream.data() + at, n, fastRx);
            slow.Write(stream.data() + at, n, slowRx);
            at += n;
            ASSERT_EQ(Hex(slowRx), Hex(fastRx)) << "seed " << seed << " after byte " << at;
        }
        EXPECT_EQ(Describe(slow), Describe(fast)) << "seed " << seed;
        EXPECT_TRUE(vtest::Flash(slow).Memory() == vtest::Flash(fast).Memory()) << "seed " << seed;
        EXPECT_GT(fast.FastCycles(), fast.ClockedCycles() / 2) << "seed " << seed;
    }
}

// The fast path must actually be taken for the common shapes, or the comparison proves little:
// a long Shift-DR through the chain and a flash read finish far sooner than edge by edge would.
TEST(FastPath, TakesLongShiftsAndFlashReads) {
    MpsseEngine engine{vcable::TargetSetup{}};
    Bytes stream = vtest::kOpenSequence;
    Append(stream, vtest::ResetToIdle());
    Append(stream, vtest::IdleToShiftDr());
    stream.insert(stream.end(), {0x39, 0xFF, 0x0F});  // 4096 bytes through both devices
    stream.resize(stream.size() + 4096, 0xA5);
    Append(stream, vtest::Tms(0b011, 3));
    const Bytes rx = vtest::Send(engine, stream);
    ASSERT_EQ(rx.size(), 4096u);
    // BYPASS is not selected: IDCODE registers (32 + 32 bits) come out first, then the data.
    EXPECT_EQ(rx[8], 0xA5);
    EXPECT_EQ(rx[4095], 0xA5);

    Bytes read = {0x80, 0xBA, 0xCB, 0x11, 0x03, 0x00, 0x03, 0x00, 0x10, 0x00, 0x20, 0xFF, 0x00};
    const Bytes data = vtest::Send(engine, read);
    ASSERT_EQ(data.size(), 256u);
    for (uint32_t i = 0; i < 256; ++i) {
        ASSERT_EQ(data[i], vcable::FlashPatternByte(0x1000 + i)) << "byte " << i;
    }
    EXPECT_EQ(engine.ErrorCount(), 0u) << engine.LastError();
    EXPECT_GE(engine.FastCycles(), 8u * (4096 + 256));
}

// The sampling edge, judged by exact bytes rather than against the slow path: the flash takes the
// line at the rising edge that completes its command, at the level it last drove (the 0 of the
// status byte before), and changes it only at falling edges. A read between the edges sees that
// level in the command's last period; a read before the rising edge sees the line undriven.
TEST(FastPath, SamplesAtTheEdgeTheOpcodeChooses) {
    struct Row {
        uint8_t opcode;  // full duplex, MSB first, out on the falling edge
        const char* reply;
    };
    const Row rows[] = {{0x31, "FF A7 40 14"}, {0x35, "FE A7 40 14"}};
    for (const Row& row : rows) {
        for (const bool fastPaths : {true, false}) {
            MpsseEngine engine{vcable::TargetSetup{}};
            engine.SetFastPaths(fastPaths);
            vtest::Send(engine, vtest::kOpenSequence);
            ASSERT_EQ("00", Hex(vtest::Send(engine, vtest::SpiTransaction({0x05}, 1))));
            const uint64_t fastBefore = engine.FastCycles();
            const Bytes jedec = {0x80, 0xBA, 0xCB, row.opcode, 0x03, 0x00, 0x9F,
                                 0x00, 0x00, 0x00, 0x80,       0xFA, 0xCB};
            EXPECT_EQ(row.reply, Hex(vtest::Send(engine, jedec)))
                << "opcode " << int(row.opcode) << (fastPaths ? " fast" : " slow");
            EXPECT_EQ(fastPaths ? 32u : 0u, engine.FastCycles() - fastBefore);
        }
    }
}

}  // namespace
