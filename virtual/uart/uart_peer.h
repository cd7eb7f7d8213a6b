// What hangs off a channel's UART pins: a peer that receives the bytes the host sends and may
// answer into the channel's receive queue. Peers are synchronous: they answer as they are called,
// and anything they do later is driven by receive-queue polls, never by the host's clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace vcable {

// The settings of a serial line. A peer built for one line receives bytes sent on another garbled.
struct UartLine {
    uint32_t baudRate = 9600;  // the rate on the wire
    uint8_t wordLength = 8;
    uint8_t stopBits = 0;  // vendor encoding: 0 one stop bit, 2 two
    uint8_t parity = 0;

    // Whether a receiver running this line reads a byte sent on `sent`: the same framing, and a
    // rate within 3 % of its own (a start bit resynchronises every byte, so a small difference
    // never reaches the middle of the last bit).
    bool Reads(const UartLine& sent) const {
        const uint64_t difference =
            sent.baudRate > baudRate ? sent.baudRate - baudRate : baudRate - sent.baudRate;
        return wordLength == sent.wordLength && stopBits == sent.stopBits &&
               parity == sent.parity && difference * 100 <= uint64_t{baudRate} * 3;
    }
};

class UartPeer {
  public:
    virtual ~UartPeer() = default;

    // The host sent these bytes on a line with these settings; replies are appended to rx.
    virtual void Write(const uint8_t* data, size_t count, const UartLine& line,
                       std::vector<uint8_t>& rx) = 0;

    // The host drove DTR (true = asserted). Called on every FT_SetDtr / FT_ClrDtr.
    virtual void SetDtr(bool /*level*/) {}

    // Called once for every receive-queue poll of the channel, for replies scheduled in polls.
    virtual void OnPoll(std::vector<uint8_t>& /*rx*/) {}
};

// Echoes every byte back into the receive queue.
std::unique_ptr<UartPeer> MakeLoopbackPeer();

}  // namespace vcable
