// Channel behaviour: open and close, write dispatch, bit mode and DTR.
#include "chip/channel.h"

#include <algorithm>
#include <optional>

#include "engine/mpsse_port.h"
#include "record/call_log.h"
#include "record/wire_clock.h"
#include "vendor_api/ft_types.h"

namespace vcable {

void OpenChannel(Channel& channel, void* handle) {
    channel.handle = handle;
    channel.settings = ChannelSettings{};
    channel.rx.SetLatency(channel.settings.latencyMs);
}

void CloseChannel(Channel& channel, MpssePort* engine) {
    channel.handle = nullptr;
    channel.rx.Clear();
    if (engine != nullptr && channel.settings.bitMode == kBitModeMpsse) engine->Reset();
    channel.settings.bitMode = kBitModeReset;
}

namespace {

// Start bit, data bits, parity bit when there is one, stop bits.
uint64_t UartBitsPerByte(const ChannelSettings& s) {
    return 1u + s.wordLength + (s.parity != 0 ? 1u : 0u) + (s.stopBits == kStopBits2 ? 2u : 1u);
}

}  // namespace

void WriteToChannel(Channel& channel, MpssePort* engine, const uint8_t* data, size_t count) {
    size_t room = kTxCaptureLimit - std::min(kTxCaptureLimit, channel.txCapture.size());
    channel.txCapture.insert(channel.txCapture.end(), data, data + std::min(room, count));

    WireWrite wire;
    wire.bytes = static_cast<uint32_t>(count);
    std::optional<size_t> sendImmediate;
    uint8_t mode = channel.settings.bitMode;
    if (mode == kBitModeMpsse && engine != nullptr) {
        const uint64_t cycles = engine->ClockedCycles();
        const uint64_t ticks = engine->ClockedBaseTicks();
        engine->Write(data, count, channel.rx.Tail());
        sendImmediate = engine->TakeSendImmediate();
        wire.tckCycles = engine->ClockedCycles() - cycles;
        wire.baseTicks = engine->ClockedBaseTicks() - ticks;
    } else if (mode == kBitModeReset) {
        // Reset mode is the channel's UART; with nothing attached the bytes just leave the pins.
        const ChannelSettings& s = channel.settings;
        const UartLine line{s.achievedBaud, s.wordLength, s.stopBits, s.parity};
        if (channel.peer) channel.peer->Write(data, count, line, channel.rx.Tail());
        wire.uartBits = count * UartBitsPerByte(channel.settings);
        wire.baudRate = s.achievedBaud;
    } else {
        RecordModelError("write of %u bytes at location 0x%04X in bit mode 0x%02X is not modelled",
                         static_cast<unsigned>(count), channel.location, mode);
    }
    // The replies are produced when the write has gone through.
    ClockWrite(wire);
    channel.rx.Produced(sendImmediate);
}

uint32_t PollChannel(Channel& channel, MpssePort* engine) {
    if (engine != nullptr) {
        engine->OnPoll(channel.rx.Tail());
        channel.rx.Produced(engine->TakeSendImmediate());
    }
    if (channel.peer && channel.settings.bitMode == kBitModeReset) {
        channel.peer->OnPoll(channel.rx.Tail());
        channel.rx.Produced();
    }
    return channel.rx.Poll();
}

void SetChannelBitMode(Channel& channel, MpssePort* engine, uint8_t mask, uint8_t mode) {
    bool wasMpsse = channel.settings.bitMode == kBitModeMpsse;
    bool isMpsse = mode == kBitModeMpsse;
    // Selecting MPSSE (again) starts its command parser afresh, as leaving it does.
    if (engine != nullptr && (wasMpsse || isMpsse || mode == kBitModeReset)) engine->Reset();
    channel.settings.bitMode = mode;
    channel.settings.bitMask = mask;
}

void SetChannelLatency(Channel& channel, uint8_t ms) {
    channel.settings.latencyMs = ms;
    channel.rx.SetLatency(ms);
}

void ResetChannel(Channel& channel, MpssePort* engine) {
    ++channel.resets;
    channel.rx.Clear();
    if (engine != nullptr) engine->DropHeld();
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
