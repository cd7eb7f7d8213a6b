// A raw stream of MPSSE commands sent in one USB write through the library's queued exports, so
// that chip-select changes, bus bytes, reads and waits of many flash transactions travel together
// instead of costing a write each.
//
// The carrier is the tool's only door for raw engine commands. How it gets through: the library's
// queued exports append their bytes unchanged. JTAG_WriteTMS2 with opcode 0x19 and count 2 appends
// "19 02 00": a byte shift out of three bytes whose data are
// the next three bytes queued. The JTAG_WriteTDI queued right behind it starts with its own
// three-byte header (19, length-1 low, high), so the engine clocks that header out as plain data
// (24 clocks with chip select high: the flash ignores them, and TMS stays high, so JTAG devices on
// the lines stay in Test-Logic-Reset) and then reads JTAG_WriteTDI's data bytes as commands. A
// shift of 8 * size + 1 bits ends with exactly one tail bit (one more clock, chip select high). The
// whole stream goes in one write as long as nothing else is queued before it and it fits below the
// library's queue threshold, which is what CommandStream's capacity keeps.
#pragma once

#include <cstdint>

#include "common/common.h"
#include "wire/mpsse.h"

namespace kestrel {

// The low-byte pins around a flash transaction: exactly what GPIO2_low2 (chip select GPIOL2 low)
// and Disable_AllTalk (every line at its idle level) send after OpenDevice, whose directions make
// SK, DO, TMS, GPIOL2 and GPIOL3 outputs.
constexpr uint8_t kLowLevelsSelected = 0xBA;
constexpr uint8_t kLowLevelsIdle = 0xFA;
constexpr uint8_t kLowDirections = 0xCB;

// The carrier's JTAG_WriteTMS2 count: it shifts out count + 1 bytes, the carried shift's header.
constexpr uint32_t kCarrierCount = 2;
static_assert(kCarrierCount + 1 == wire::kCommandBytes, "the carrier carries one shift header");
// Bytes a write carries beside a stream's own: the carrier's command, the carried shift's header
// and its tail bit's one-bit command.
constexpr uint32_t kCarrierFraming = 3 * wire::kCommandBytes;

struct CommandStream {
    // The carrier's prefix (3 bytes) and the stream go in one write below the queue threshold.
    static constexpr uint32_t kCapacity = wire::kQueueThreshold - 64;

    uint8_t bytes[kCapacity + 1] =
        {};  // one more: the tail bit's byte (any value, chip select is high)
    uint32_t size = 0;
    uint32_t replyBytes = 0;  // what the engine sends back for the commands so far

    void Clear() {
        size = 0;
        replyBytes = 0;
    }
    uint32_t Room() const { return kCapacity - size; }

    // Each appends one command, or returns false and appends nothing when it does not fit.
    bool Select() { return Pins(kLowLevelsSelected); }
    bool Deselect() { return Pins(kLowLevelsIdle); }
    bool Pins(uint8_t levels);
    bool Out(const uint8_t* data, uint32_t count);  // 1 to kMaxBytesPerCommand bytes
    bool OutFill(uint8_t value, uint32_t count);    // count copies of value
    bool In(uint32_t count);                        // 1 to kMaxBytesPerCommand bytes back
    bool SendImmediate();

    // Stream bytes each command takes: the appends above advance `size` by exactly these.
    static constexpr uint32_t OutCost(uint32_t count) { return wire::kCommandBytes + count; }
    static constexpr uint32_t InCost() { return wire::kCommandBytes; }
    static constexpr uint32_t PinsCost() { return 3; }
    static constexpr uint32_t SendImmediateCost() { return 1; }

    // Appends the header of a byte shift out of `count` bytes and returns where its data go, or
    // nullptr when it does not fit.
    uint8_t* ReserveOut(uint32_t count);
};

// The library sends the queue before a data append that would take it past the threshold: the
// carrier's command and a full stream stay within it, so that they leave together.
static_assert(wire::kCommandBytes + CommandStream::kCapacity <= wire::kQueueThreshold,
              "a stream and its carrier leave in one write");

// Bytes the one USB write of a stream of `size` bytes carries.
constexpr uint32_t WrittenBytes(uint32_t size) { return size + kCarrierFraming; }

// Queues the stream behind the carrier's prefix and sends it with JTAG_Send2FTDI: one USB write of
// WrittenBytes(stream.size) bytes. Nothing else may be queued when it is called.
bool SendStream(const CommandStream& stream, CallResult& result);

}  // namespace kestrel
