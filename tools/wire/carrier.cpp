#include "wire/carrier.h"

#include <cstring>

namespace kestrel {
namespace {

// The carrier: a byte shift of three bytes out, on the falling edge, least significant bit first,
// whose data are JTAG_WriteTDI's header.
constexpr uint8_t kCarrierOpcode = wire::kBytesOutFallingLsb;
constexpr uint8_t kCarrierHigh = 0;  // the third byte of the command (length high) is 0
// JTAG_WriteTDI's mode gives the carried shift's opcodes: 0x19 and its one-bit tail 0x1B.
constexpr uint8_t kCarriedMode = wire::kModeOut;

void PutLength(uint8_t* at, uint32_t count) {
    at[0] = static_cast<uint8_t>((count - 1) & 0xFF);
    at[1] = static_cast<uint8_t>((count - 1) >> 8);
}

}  // namespace

bool CommandStream::Pins(uint8_t levels) {
    if (Room() < PinsCost()) return false;
    bytes[size] = wire::kSetLowPins;
    bytes[size + 1] = levels;
    bytes[size + 2] = kLowDirections;
    size += PinsCost();
    return true;
}

uint8_t* CommandStream::ReserveOut(uint32_t count) {
    if (count == 0 || count > wire::kMaxBytesPerCommand || Room() < OutCost(count)) return nullptr;
    bytes[size] = wire::kBytesOutFalling;
    PutLength(&bytes[size + 1], count);
    uint8_t* data = &bytes[size + 3];
    size += OutCost(count);
    return data;
}

bool CommandStream::Out(const uint8_t* data, uint32_t count) {
    uint8_t* at = ReserveOut(count);
    if (at) std::memcpy(at, data, count);
    return at != nullptr;
}

bool CommandStream::OutFill(uint8_t value, uint32_t count) {
    uint8_t* at = ReserveOut(count);
    if (at) std::memset(at, value, count);
    return at != nullptr;
}

bool CommandStream::In(uint32_t count) {
    if (count == 0 || count > wire::kMaxBytesPerCommand || Room() < InCost()) return false;
    bytes[size] = wire::kBytesInRising;
    PutLength(&bytes[size + 1], count);
    size += InCost();
    replyBytes += count;
    return true;
}

bool CommandStream::SendImmediate() {
    if (Room() < SendImmediateCost()) return false;
    bytes[size] = wire::kSendImmediate;
    size += SendImmediateCost();
    return true;
}

bool SendStream(const CommandStream& stream, CallResult& result) {
    if (stream.size == 0) return true;
    const uint8_t carrier = kCarrierHigh;
    static_assert(kCarrierCount < wire::kTmsBitsPerCommand, "JTAG_WriteTMS2 takes counts below 6");
    if (!Check(JTAG_WriteTMS2(kCarrierOpcode, kCarrierCount, &carrier), "JTAG_WriteTMS2", result)) {
        return false;
    }
    // The stream's bytes, then one tail bit (bytes[size], always 0).
    kl_u32 bits = 0;
    return Check(JTAG_WriteTDI(kCarriedMode, 8 * stream.size + 1, stream.bytes, nullptr, &bits, 0),
                 "JTAG_WriteTDI", result) &&
           Check(JTAG_Send2FTDI(), "JTAG_Send2FTDI", result);
}

}  // namespace kestrel
