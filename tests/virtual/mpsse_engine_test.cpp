// The engine's decoding and clocking, checked on the bytes it answers and the edges the pins saw.
#include <gtest/gtest.h>

#include "mpsse_test_util.h"
#include "vcable.h"

namespace {

using vcable::MpsseEngine;
using vcable::TargetSetup;
using vtest::Bytes;
using vtest::Hex;
using vtest::Send;

// Records the DO level at every rising clock edge, and drives DI from a bit pattern that advances
// at every clock edge.
class WireProbe : public vcable::PinTarget {
  public:
    void OnPins(uint16_t levels) override {
        const bool was = vcable::LineHigh(levels_, 0);
        const bool now = vcable::LineHigh(levels, 0);
        if (!was && now) sampled.push_back(vcable::LineHigh(levels, 1) ? 1 : 0);
        if (was != now) ++position;
        levels_ = levels;
    }
    uint16_t DriveMask() const override { return 1u << 2; }
    uint16_t DriveLevels() const override {
        return ((pattern >> (position % 32)) & 1) ? 1u << 2 : 0;
    }

    std::vector<int> sampled;
    uint32_t pattern = 0;
    uint32_t position = 0;

  private:
    uint16_t levels_ = 0xFFFF;
};

class EngineTest : public ::testing::Test {
  protected:
    EngineTest() : engine(NoTargets()) { Send(engine, vtest::kOpenSequence); }

    static TargetSetup NoTargets() {
        TargetSetup setup;
        setup.jtag.devices.clear();
        setup.flash.present = false;
        return setup;
    }

    MpsseEngine engine;
};

struct OpcodeRow {
    Bytes stream;   // then 0x81 follows, to show the parser carries on
    Bytes replies;  // before the 0x81's pin byte
    uint32_t errors;
};

TEST_F(EngineTest, OpcodeGroupsAnswerOrStaySilent) {
    const OpcodeRow rows[] = {
        // The sync probes: answered, expected.
        {{0xAA}, {0xFA, 0xAA}, 0},
        {{0xAB}, {0xFA, 0xAB}, 0},
        // Bit 7 set and unknown to this chip (H-series commands among them): 0xFA, the opcode.
        {{0x8A}, {0xFA, 0x8A}, 1},
        {{0x8E}, {0xFA, 0x8E}, 1},
        {{0x8F}, {0xFA, 0x8F}, 1},
        {{0x9E}, {0xFA, 0x9E}, 1},
        {{0xFA}, {0xFA, 0xFA}, 1},
        {{0xFF}, {0xFA, 0xFF}, 1},
        // Bit 7 clear and no command: the chip says nothing.
        {{0x00}, {}, 1},
        {{0x0F}, {}, 1},
        {{0x40}, {}, 1},
        {{0x42}, {}, 1},  // TMS forms that are not commands: MSB first, byte mode, with TDI
        {{0x48}, {}, 1},
        {{0x5A}, {}, 1},
        {{0x7F}, {}, 1},
        // TMS writes whose read edge is set: taken as 0x4A and 0x4B, their two bytes consumed.
        {{0x4E, 0x00, 0x81}, {}, 0},
        {{0x4F, 0x00, 0x81}, {}, 0},
        // Commands that answer nothing.
        {{0x87}, {}, 0},
        {{0x85}, {}, 0},
        {{0x86, 0x00, 0x00}, {}, 0},
    };
    for (const OpcodeRow& row : rows) {
        engine.ClearErrors();
        vc_reset();  // clears the model errors
        Bytes stream = row.stream;
        stream.push_back(0x81);
        Bytes expected = row.replies;
        expected.push_back(0xFE);
        EXPECT_EQ(Hex(expected), Hex(Send(engine, stream))) << Hex(row.stream);
        EXPECT_EQ(row.errors, engine.ErrorCount()) << Hex(row.stream);
        EXPECT_EQ(row.errors, vc_model_error_count()) << Hex(row.stream);
    }
}

struct WaitRow {
    uint8_t wait;        // 0x88 (GPIOL1 high) or 0x89 (low)
    int levelBefore;     // GPIOL1 driven from outside, -1 released (the pull-up: high)
    int levelAfter;      // at the second poll
    size_t repliesPoll;  // the poll at which the held 0x81 has answered (0: at once)
};

TEST_F(EngineTest, WaitsOnGpiol1HoldEveryLaterCommandUntilTheLevelComes) {
    const WaitRow rows[] = {
        {0x88, -1, -1, 0}, {0x88, 0, 1, 2},   {0x89, 1, 0, 2},
        {0x89, 0, 0, 0},   {0x89, -1, 1, 99},  // never: the engine keeps waiting
    };
    for (const WaitRow& row : rows) {
        engine.Reconfigure(NoTargets());
        Send(engine, vtest::kOpenSequence);
        vcable::GpioInputs& gpio = vtest::Gpio(engine);
        gpio.Set(vcable::pin::kGpiol1, row.levelBefore);
        gpio.Schedule(vcable::pin::kGpiol1, row.levelAfter, 2);
        engine.PinsChanged();
        // The command after the wait arrives in a later write, split from it.
        Bytes rx = Send(engine, {row.wait});
        vtest::Append(rx, Send(engine, {0x81}));
        size_t answeredAt = rx.empty() ? 99 : 0;
        for (size_t poll = 1; poll <= 3 && rx.empty(); ++poll) {
            engine.OnPoll(rx);
            if (!rx.empty()) answeredAt = poll;
        }
        EXPECT_EQ(row.repliesPoll, answeredAt) << Hex({row.wait}) << " " << row.levelBefore;
        EXPECT_EQ(answeredAt == 99, engine.Waiting());
        EXPECT_EQ(0u, engine.ErrorCount());
    }
    // A mode change drops what a wait holds; the trace shows the wait and the drop.
    std::vector<std::string> lines;
    engine.SetTrace(
        [](void* user, const char* line) {
            static_cast<std::vector<std::string>*>(user)->push_back(line);
        },
        &lines);
    Send(engine, {0x81});
    EXPECT_EQ(2u, engine.HeldBytes());
    engine.Reset();
    EXPECT_FALSE(engine.Waiting());
    EXPECT_EQ(0u, engine.HeldBytes());
    Send(engine, {0x89});
    const std::vector<std::string> expected = {
        "# engine reset during a wait on GPIOL1; 2 held bytes dropped",
        "0x89 wait on GPIOL1 low",
        "# waiting for GPIOL1 low; every later command is held until it comes",
    };
    EXPECT_EQ(expected, lines);
}

struct PinRow {
    Bytes commands;
    int line;  // driven from outside, or -1
    int level;
    Bytes expected;
};

TEST_F(EngineTest, PinReadsShowOutputsAndDrivenInputs) {
    const PinRow rows[] = {
        // Outputs TCK 0, TDI 1, TMS 1, GPIOL2/3 1; the inputs float high.
        {{0x81}, -1, 0, {0xFE}},
        // An input pulled low from outside shows; an output ignores the outside.
        {{0x81}, 4, 0, {0xEE}},
        {{0x81}, 6, 0, {0xFE}},
        // A level written to an input line has no effect.
        {{0x80, 0x00, 0x01, 0x81}, -1, 0, {0xFE}},
        {{0x80, 0x00, 0xFF, 0x81}, -1, 0, {0x00}},
        // High byte: all inputs, then GPIOH2 an output at 1 while GPIOH1 is pulled low.
        {{0x82, 0x0F, 0x00, 0x83}, 9, 0, {0xFD}},
        {{0x82, 0x00, 0x04, 0x83}, -1, 0, {0xFB}},
        {{0x82, 0x04, 0x04, 0x83}, 9, 0, {0xFD}},
    };
    for (const PinRow& row : rows) {
        engine.Reconfigure(NoTargets());
        Send(engine, vtest::kOpenSequence);
        if (row.line >= 0) {
            vtest::Gpio(engine).Set(row.line, row.level);
            engine.PinsChanged();
        }
        EXPECT_EQ(Hex(row.expected), Hex(Send(engine, row.commands))) << Hex(row.commands);
    }
}

struct LoopbackRow {
    Bytes command;
    Bytes expected;
};

TEST_F(EngineTest, LoopbackReturnsWhatWasWrittenInEveryMode) {
    const Bytes data = {0x01, 0x80, 0xA5, 0x3C};
    const LoopbackRow rows[] = {
        // Byte mode, every combination of edges and bit order.
        {{0x31, 0x03, 0x00, 0x01, 0x80, 0xA5, 0x3C}, data},
        {{0x34, 0x03, 0x00, 0x01, 0x80, 0xA5, 0x3C}, data},
        {{0x39, 0x03, 0x00, 0x01, 0x80, 0xA5, 0x3C}, data},
        {{0x3C, 0x03, 0x00, 0x01, 0x80, 0xA5, 0x3C}, data},
        // Bit mode: LSB first fills from the top, MSB first from the bottom.
        {{0x3B, 0x02, 0x05}, {0xA0}},
        {{0x3E, 0x02, 0x05}, {0xA0}},
        {{0x33, 0x02, 0xA0}, {0x05}},
        {{0x36, 0x02, 0xA0}, {0x05}},
        {{0x3B, 0x07, 0x96}, {0x96}},
        {{0x33, 0x07, 0x96}, {0x96}},
        // TMS with read: TDI holds bit 7 of the data byte during all bits.
        {{0x6B, 0x02, 0x80}, {0xE0}},
        {{0x6F, 0x00, 0x00}, {0x00}},
    };
    Send(engine, {0x84});
    for (const LoopbackRow& row : rows) {
        EXPECT_EQ(Hex(row.expected), Hex(Send(engine, row.command))) << Hex(row.command);
    }
    EXPECT_EQ(0u, engine.ErrorCount());
}

TEST_F(EngineTest, BitOrderOnTheWire) {
    WireProbe probe;
    engine.Pins().Attach(&probe);
    Send(engine, {0x19, 0x00, 0x00, 0x01, 0x11, 0x00, 0x00, 0x01, 0x1B, 0x02, 0x06, 0x13, 0x02,
                  0x60, 0x4B, 0x02, 0x05});
    const std::vector<int> expected = {
        1, 0, 0, 0, 0, 0, 0, 0,  // 0x19 LSB first
        0, 0, 0, 0, 0, 0, 0, 1,  // 0x11 MSB first
        0, 1, 1,                 // 0x1B: bits 0..2 of 0x06
        0, 1, 1,                 // 0x13: bits 7..5 of 0x60
        0, 0, 0,                 // 0x4B: TDI held at bit 7 of 0x05
    };
    EXPECT_EQ(expected, probe.sampled);
}

struct EdgeRow {
    Bytes command;
    Bytes expected;
};

TEST_F(EngineTest, ReadsSampleOnTheChosenEdge) {
    // DI changes after every edge, to 1 0 0 1 1 0 0 1 ...: rising-edge reads see 1 0 1 0 ...,
    // falling-edge reads 0 1 0 1 ...
    const EdgeRow rows[] = {
        {{0x28, 0x00, 0x00}, {0x55}},  // in +ve LSB
        {{0x2C, 0x00, 0x00}, {0xAA}},  // in -ve LSB
        {{0x20, 0x00, 0x00}, {0xAA}},  // in +ve MSB
        {{0x2A, 0x03}, {0x50}},        // 4 bits in +ve LSB: ends in bits 4..7
        {{0x22, 0x03}, {0x0A}},        // 4 bits in +ve MSB: ends in bits 0..3
        {{0x6B, 0x01, 0x00}, {0x40}},  // TMS read: 2 bits in bits 6 and 7
        {{0x6F, 0x01, 0x00}, {0x80}},  // TMS read on the falling edge
    };
    for (const EdgeRow& row : rows) {
        engine.Reconfigure(NoTargets());
        WireProbe probe;
        probe.pattern = 0x99999999;
        engine.Pins().Attach(&probe);
        Send(engine, vtest::kOpenSequence);
        probe.position = 0;
        engine.PinsChanged();
        EXPECT_EQ(Hex(row.expected), Hex(Send(engine, row.command))) << Hex(row.command);
    }
}

TEST_F(EngineTest, CommandsSplitAnywhereGiveTheSameReplies) {
    Bytes stream = {0x84, 0x39, 0x02, 0x00, 0x12, 0x34, 0x56, 0x81, 0xAA, 0x3B,
                    0x03, 0x09, 0x86, 0x02, 0x00, 0x6B, 0x01, 0x83, 0x83, 0x85};
    MpsseEngine whole(NoTargets());
    Send(whole, vtest::kOpenSequence);
    const Bytes expected = Send(whole, stream);
    // 0x81 under loopback: DI shows DO, which the last written bit (0) left low.
    EXPECT_EQ("12 34 56 F8 FA AA 90 C0 FF", Hex(expected));
    for (size_t cut = 1; cut < stream.size(); ++cut) {
        MpsseEngine split(NoTargets());
        Send(split, vtest::kOpenSequence);
        Bytes rx = Send(split, Bytes(stream.begin(), stream.begin() + cut));
        vtest::Append(rx, Send(split, Bytes(stream.begin() + cut, stream.end())));
        EXPECT_EQ(Hex(expected), Hex(rx)) << "cut at " << cut;
        EXPECT_EQ(whole.ClockedCycles(), split.ClockedCycles());
    }
}

TEST_F(EngineTest, CountsClockCyclesAtTheDivisor) {
    Send(engine, {0x19, 0x01, 0x00, 0xFF, 0xFF, 0x1B, 0x02, 0x00, 0x86, 0x00, 0x00, 0x4B, 0x03,
                  0x00, 0x28, 0x00, 0x00});
    EXPECT_EQ(16u + 3 + 4 + 8, engine.ClockedCycles());
    // Divisor 5: 12 base-clock periods per cycle; divisor 0: 2.
    EXPECT_EQ((16u + 3) * 12 + (4 + 8) * 2, engine.ClockedBaseTicks());
    EXPECT_EQ(0, engine.Divisor());
}

struct MalformedRow {
    Bytes command;
    uint32_t cycles;
    uint32_t errors;
};

TEST_F(EngineTest, BitAndTmsLengthsBeyondTheirRangesAreModelErrors) {
    const MalformedRow rows[] = {
        {{0x1B, 0x07, 0x00}, 8, 0},                              // bit mode: 8 bits at most
        {{0x1B, 0x08, 0x00}, 8, 1},                              // asks for 9: clamped
        {{0x2A, 0xFF}, 8, 1},       {{0x4B, 0x06, 0x00}, 7, 0},  // TMS: 7 bits at most
        {{0x4B, 0x07, 0x00}, 7, 1},                              // asks for 8
        {{0x6F, 0x7F, 0x00}, 7, 1},
    };
    for (const MalformedRow& row : rows) {
        engine.Reconfigure(NoTargets());
        vc_reset();
        Send(engine, row.command);
        EXPECT_EQ(row.errors, engine.ErrorCount()) << Hex(row.command);
        EXPECT_EQ(row.errors, vc_model_error_count()) << Hex(row.command);
        if (row.errors) {
            EXPECT_NE(std::string::npos, engine.LastError().find("bits")) << engine.LastError();
        }
        EXPECT_EQ(row.cycles, engine.ClockedCycles());
    }
}

TEST_F(EngineTest, ResetReleasesPinsAndDropsAHalfCommand) {
    Send(engine, {0x19, 0x03});
    engine.Reset();
    EXPECT_EQ(0, engine.Pins().Directions());
    EXPECT_EQ("FA AA", Hex(Send(engine, {0xAA})));
}

void CollectLine(void* user, const char* line) {
    static_cast<std::vector<std::string>*>(user)->push_back(line);
}

TEST_F(EngineTest, TraceHasOneLinePerCommand) {
    std::vector<std::string> lines;
    engine.SetTrace(CollectLine, &lines);
    Send(engine, {0x19, 0x01, 0x00, 0xA5, 0x5A, 0x6B, 0x00, 0x83, 0xAA, 0x80, 0xFA, 0xCB});
    const std::vector<std::string> expected = {
        "0x19 write bytes out -ve LSB len=2 data=A5 5A",
        "0x6B TMS out -ve in +ve bits=1 data=83 reply=80",
        "0xAA bad command reply=FA AA",
        "0x80 set low byte (value, direction) args=FA CB",
    };
    EXPECT_EQ(expected, lines);
}

}  // namespace
