// One channel of a simulated chip: open state and handle, line and mode settings, the receive
// queue the host reads from (chip/receive_path.h), and a capture of everything the host wrote.
// Every setting a host changes goes through the chip's rules (chip/chip_rules.h): a refused one
// is a model error and leaves the channel as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "chip/baud_rate.h"
#include "chip/receive_path.h"
#include "uart/uart_peer.h"
#include "vendor_api/ft_types.h"

namespace vcable {

class MpssePort;

// Settings a host can change; an open restores the defaults.
struct ChannelSettings {
    uint8_t bitMode = 0;
    uint8_t bitMask = 0;
    uint8_t latencyMs = 16;
    uint32_t baudRate = 9600;      // as the host asked
    uint32_t achievedBaud = 9600;  // what the chip's divisor gives (uart/baud_rate.h)
    uint8_t wordLength = 8;
    uint8_t stopBits = 0;
    uint8_t parity = 0;
    uint16_t flowControl = 0;
    uint8_t xon = 0x11;
    uint8_t xoff = 0x13;
    uint8_t eventChar = 0;
    uint8_t eventEnable = 0;
    uint8_t errorChar = 0;
    uint8_t errorEnable = 0;
    uint32_t readTimeoutMs = 0;
    uint32_t writeTimeoutMs = 0;
    uint32_t eventMask = 0;
    bool breakOn = false;
    bool dtr = false;
    bool rts = false;
};

// What the chip keeps for its bit-bang modes (chip/bit_bang.h).
struct BitBangState {
    uint8_t latch = 0;          // the output register of the low byte's lines
    uint64_t nextSamplePs = 0;  // asynchronous mode: the next sample, on the full-speed clock
};

struct Channel {
    uint32_t location = 0;
    void* handle = nullptr;  // null while closed
    ChannelSettings settings;
    BitBangState bitBang;
    uint32_t dtrChanges = 0;
    uint32_t resets = 0;
    RxQueue rx;
    std::vector<uint8_t> txCapture;
    std::unique_ptr<UartPeer> peer;

    bool IsOpen() const { return handle != nullptr; }
};

// Capture stops growing here; later writes still run, they are just not kept.
constexpr size_t kTxCaptureLimit = 16u << 20;

// Opens the channel under a fresh handle with default settings.
void OpenChannel(Channel& channel, void* handle);

// Closes the channel: the handle dies, pending receive bytes are dropped, the engine (if any)
// restarts.
void CloseChannel(Channel& channel, MpssePort* engine);

// Delivers host bytes: captured always, then executed by the engine (MPSSE mode), the UART peer
// (reset mode) or the bit-bang lines. In a mode the model does not act out the write fails
// (FT_NOT_SUPPORTED) with a model error.
FtStatus WriteToChannel(Channel& channel, MpssePort* engine, const uint8_t* data, size_t count);

// One receive-queue poll (FT_GetQueueStatus, FT_GetStatus): the engine, the peer or the bit-bang
// sampler advances what it does on polls, then the receive queue reports what is waiting. Fails
// like a write in a mode the model does not act out.
FtStatus PollChannel(Channel& channel, MpssePort* engine, uint32_t* waiting);

// FT_Read: up to `count` bytes, waiting for them as the receive queue does (an asynchronous
// bit-bang channel samples its lines meanwhile). Fails like a write in a mode the model does not
// act out.
FtStatus ReadFromChannel(Channel& channel, MpssePort* engine, uint8_t* out, uint32_t count,
                         uint32_t* got);

// Changes the bit mode, within the chip's rules; the engine restarts on every mode change that
// involves MPSSE (selecting it again included) and on reset. A mode the model does not act out
// is taken, as the chip takes it, with a model error.
FtStatus SetChannelBitMode(Channel& channel, MpssePort* engine, uint8_t mask, uint8_t mode);

// The line settings, each within the chip's rules. SetChannelDivisor records `asked` as the rate
// the host asked for (0: the divisor's own rate).
FtStatus SetChannelLatency(Channel& channel, uint32_t ms);
FtStatus SetChannelDivisor(Channel& channel, MpssePort* engine, BaudDivisor divisor,
                           uint32_t asked);
FtStatus SetChannelLine(Channel& channel, uint32_t wordLength, uint32_t stopBits, uint32_t parity);
FtStatus SetChannelFlow(Channel& channel, uint32_t handshake, uint8_t xon, uint8_t xoff);

// Drops what waits for the host (received) and the commands a wait holds (written).
void PurgeChannel(Channel& channel, MpssePort* engine, bool received, bool written);

// FT_ResetDevice: both directions purged (replies and any commands a wait holds), DTR and RTS
// cleared.
void ResetChannel(Channel& channel, MpssePort* engine);

// Drives DTR and tells the peer.
void SetChannelDtr(Channel& channel, bool level);

}  // namespace vcable
