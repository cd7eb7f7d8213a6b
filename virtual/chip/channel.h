// One channel of a simulated chip: open state and handle, line and mode settings, the receive
// queue the host reads from (chip/receive_path.h), and a capture of everything the host wrote.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "chip/receive_path.h"
#include "uart/uart_peer.h"

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

struct Channel {
    uint32_t location = 0;
    void* handle = nullptr;  // null while closed
    ChannelSettings settings;
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

// Delivers host bytes: captured always, then executed by the engine (MPSSE mode with an engine)
// or the UART peer (reset mode with a peer); any other bit mode is reported as not modelled.
void WriteToChannel(Channel& channel, MpssePort* engine, const uint8_t* data, size_t count);

// One receive-queue poll (FT_GetQueueStatus, FT_GetStatus): the engine or the peer advances what
// it does on polls, then the receive queue reports what is waiting.
uint32_t PollChannel(Channel& channel, MpssePort* engine);

// Changes the bit mode; the engine restarts on every mode change that involves MPSSE (selecting
// it again included) and on reset.
void SetChannelBitMode(Channel& channel, MpssePort* engine, uint8_t mask, uint8_t mode);

// Sets the latency timer of the chip's side of the channel (which restarts it).
void SetChannelLatency(Channel& channel, uint8_t ms);

// FT_ResetDevice: both directions purged (replies and any commands a wait holds), DTR and RTS
// cleared.
void ResetChannel(Channel& channel, MpssePort* engine);

// Drives DTR and tells the peer.
void SetChannelDtr(Channel& channel, bool level);

}  // namespace vcable
