// Channel behaviour: open and close, write, poll and read dispatch, bit mode, purges and DTR.
#include "chip/channel.h"

#include <algorithm>
#include <optional>

#include "chip/bit_bang.h"
#include "chip/chip_rules.h"
#include "engine/mpsse_port.h"
#include "record/call_log.h"
#include "record/wire_clock.h"
#include "vendor_api/ft_types.h"

namespace vcable {

void OpenChannel(Channel& channel, void* handle) {
    channel.handle = handle;
    channel.settings = ChannelSettings{};
    channel.bitBang = BitBangState{};
    channel.rx.SetLatency(channel.settings.latencyMs);
}

void CloseChannel(Channel& channel, MpssePort* engine) {
    channel.handle = nullptr;
    channel.rx.Clear();
    // Whatever the mode drove, the lines are released.
    if (engine != nullptr && channel.settings.bitMode != kBitModeReset) engine->Reset();
    channel.settings.bitMode = kBitModeReset;
}

namespace {

// Start bit, data bits, parity bit when there is one, stop bits.
uint64_t UartBitsPerByte(const ChannelSettings& s) {
    return 1u + s.wordLength + (s.parity != 0 ? 1u : 0u) + (s.stopBits == kStopBits2 ? 2u : 1u);
}

// A channel in a mode the model does not act out moves no data: the call fails, loudly.
FtStatus Unserved(const Channel& channel, const char* what) {
    const uint8_t mode = channel.settings.bitMode;
    RecordModelError("%s at location 0x%04X in bit mode 0x%02X (%s): the mode is not modelled",
                     what, channel.location, mode, rule::BitModeName(mode));
    return kFtNotSupported;
}

bool Served(const Channel& channel) { return rule::Modelled(channel.settings.bitMode); }

}  // namespace

FtStatus WriteToChannel(Channel& channel, MpssePort* engine, const uint8_t* data, size_t count) {
    const uint8_t mode = channel.settings.bitMode;
    if (!Served(channel)) return Unserved(channel, "a write");
    size_t room = kTxCaptureLimit - std::min(kTxCaptureLimit, channel.txCapture.size());
    channel.txCapture.insert(channel.txCapture.end(), data, data + std::min(room, count));

    WireWrite wire;
    wire.bytes = static_cast<uint32_t>(count);
    std::optional<size_t> sendImmediate;
    if (mode == kBitModeMpsse) {
        const uint64_t cycles = engine->ClockedCycles();
        const uint64_t ticks = engine->ClockedBaseTicks();
        engine->Write(data, count, channel.rx.Tail());
        sendImmediate = engine->TakeSendImmediate();
        wire.tckCycles = engine->ClockedCycles() - cycles;
        wire.baseTicks = engine->ClockedBaseTicks() - ticks;
    } else if (IsBitBang(mode)) {
        BitBangWrite(channel, engine, data, count, wire);
    } else {
        // Reset mode is the channel's UART; with nothing attached the bytes just leave the pins.
        const ChannelSettings& s = channel.settings;
        const UartLine line{s.achievedBaud, s.wordLength, s.stopBits, s.parity};
        if (channel.peer) channel.peer->Write(data, count, line, channel.rx.Tail());
        wire.uartBits = count * UartBitsPerByte(channel.settings);
        wire.baudRate = s.achievedBaud;
    }
    // The replies are produced when the write has gone through.
    ClockWrite(wire);
    channel.rx.Produced(sendImmediate);
    return kFtOk;
}

FtStatus PollChannel(Channel& channel, MpssePort* engine, uint32_t* waiting) {
    if (!Served(channel)) return Unserved(channel, "a receive-queue poll");
    if (engine != nullptr) {
        engine->OnPoll(channel.rx.Tail());
        channel.rx.Produced(engine->TakeSendImmediate());
    }
    if (channel.peer && channel.settings.bitMode == kBitModeReset) {
        channel.peer->OnPoll(channel.rx.Tail());
        channel.rx.Produced();
    }
    TakeSamples(channel, engine, true);
    *waiting = channel.rx.Poll();
    return kFtOk;
}

FtStatus ReadFromChannel(Channel& channel, MpssePort* engine, uint8_t* out, uint32_t count,
                         uint32_t* got) {
    if (!Served(channel)) return Unserved(channel, "a read");
    AwaitSamples(channel, engine, count, channel.settings.readTimeoutMs);
    *got = channel.rx.Read(out, count, channel.settings.readTimeoutMs);
    return kFtOk;
}

FtStatus SetChannelBitMode(Channel& channel, MpssePort* engine, uint8_t mask, uint8_t mode) {
    if (const char* broken = rule::BitMode(mode, engine != nullptr)) {
        return Refused(kFtInvalidParameter, broken, "bit mode 0x%02X at location 0x%04X", mode,
                       channel.location);
    }
    TakeSamples(channel, engine, false);  // what the old mode sampled up to now
    const uint8_t old = channel.settings.bitMode;
    // Selecting MPSSE (again) starts its command parser afresh, as leaving it does; leaving a mode
    // that drove the lines releases them, unless the next mode is bit-bang too.
    const bool restart = old == kBitModeMpsse || mode == kBitModeMpsse || mode == kBitModeReset ||
                         (IsBitBang(old) && !IsBitBang(mode));
    if (engine != nullptr && restart) engine->Reset();
    channel.settings.bitMode = mode;
    channel.settings.bitMask = mask;
    if (IsBitBang(mode)) StartBitBang(channel, engine);
    if (!rule::Modelled(mode)) {
        RecordModelError(
            "bit mode 0x%02X (%s) at location 0x%04X is not modelled: writes, reads "
            "and polls in it fail",
            mode, rule::BitModeName(mode), channel.location);
    }
    return kFtOk;
}

void PurgeChannel(Channel& channel, MpssePort* engine, bool received, bool written) {
    if (received) {
        channel.rx.Clear();
        RestartSampling(channel);
    }
    // The host's writes reach the chip at once; only commands a wait holds are still there.
    if (written && engine != nullptr) engine->DropHeld();
}

void ResetChannel(Channel& channel, MpssePort* engine) {
    ++channel.resets;
    PurgeChannel(channel, engine, true, true);
    if (channel.settings.dtr) {
        channel.settings.dtr = false;
        if (channel.peer) channel.peer->SetDtr(false);
    }
    channel.settings.rts = false;
}

void SetChannelDtr(Channel& channel, bool level) {
    channel.settings.dtr = level;
    ++channel.dtrChanges;
    if (channel.peer) channel.peer->SetDtr(level);
}

}  // namespace vcable
