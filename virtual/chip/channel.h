// One channel of a simulated chip: open state and handle, line and mode settings, the receive
// queue the host reads from, and a capture of everything the host wrote.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "record/wire_clock.h"
#include "uart/uart_peer.h"

namespace vcable {

class MpssePort;

// Bytes waiting for the host. Readers advance a head offset; the storage is reused once drained,
// so steady traffic does not allocate.
class RxQueue {
  public:
    size_t Pending() const { return bytes_.size() - head_; }
    void Append(const uint8_t* data, size_t count);
    size_t Take(uint8_t* out, size_t count);
    void Clear();
    // Storage for producers that append directly (engine, peers); drained bytes are dropped first.
    std::vector<uint8_t>& Tail();

  private:
    std::vector<uint8_t> bytes_;
    size_t head_ = 0;
};

// Settings a host can change; an open restores the defaults.
struct ChannelSettings {
    uint8_t bitMode = 0;
    uint8_t bitMask = 0;
    uint8_t latencyMs = 16;
    uint32_t baudRate = 9600;
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
    WireReadiness wire;  // when the queued replies reach the host, in model time

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

// One receive-queue poll: lets the engine or peer advance schedules counted in polls.
void PollChannel(Channel& channel, MpssePort* engine);

// Changes the bit mode; the engine restarts on every mode change that involves MPSSE and on reset.
void SetChannelBitMode(Channel& channel, MpssePort* engine, uint8_t mask, uint8_t mode);

// Drives DTR and tells the peer.
void SetChannelDtr(Channel& channel, bool level);

}  // namespace vcable
