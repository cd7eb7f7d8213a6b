#include "jtag_ops.h"

#include <cstdio>

#include "kestrellink.h"

namespace kestrel {
namespace {

// MPSSE option bits of the shifts: data out on the falling edge, in on the rising edge, least
// significant bit first (JTAG samples TDI and TMS on the rising edge).
constexpr kl_u8 kJtagMode = 0x09;
constexpr int kIdcodeBits = 32;
constexpr uint32_t kBitsPerByte = 8;

// Clocks `count` TMS bits, bit 0 of `bits` first.
bool Tms(int count, kl_u8 bits, CallResult& result) {
    return Check(JTAG_WriteTMS(static_cast<kl_u8>(count - 1), &bits), "JTAG_WriteTMS", result);
}
// Five ones reach Test-Logic-Reset from anywhere; a zero then goes to Run-Test/Idle.
bool ResetToIdle(CallResult& r) { return Tms(6, 0x1F, r); }
// Run-Test/Idle -> Select-DR -> Capture-DR -> Shift-DR.
bool IdleToShiftDr(CallResult& r) { return Tms(3, 0x01, r); }
// Run-Test/Idle -> Select-DR -> Select-IR -> Capture-IR -> Shift-IR.
bool IdleToShiftIr(CallResult& r) { return Tms(4, 0x03, r); }
// Exit1 -> Update -> Run-Test/Idle.
bool ExitToIdle(CallResult& r) { return Tms(2, 0x01, r); }

bool Bit(const std::vector<uint8_t>& bytes, size_t index) {
    return ((bytes[index / kBitsPerByte] >> (index % kBitsPerByte)) & 1) != 0;
}

// The reply of a JTAG_ReadTDO2 capture of `bits` bits (at least 2) as a bit stream, first bit
// out of TDO first: W whole bytes, then the T - 1 tail bits at the top of one byte, then the
// last bit in bit 7 of the TMS read.
std::vector<bool> UnpackCapture(const std::vector<uint8_t>& reply, uint32_t bits) {
    uint32_t whole = bits / kBitsPerByte;
    uint32_t tail = bits % kBitsPerByte;
    if (tail == 0) {
        --whole;
        tail = kBitsPerByte;
    }
    std::vector<bool> out;
    for (uint32_t i = 0; i < whole * kBitsPerByte; ++i) out.push_back(Bit(reply, i));
    size_t next = whole;
    if (tail >= 2) {
        const uint8_t byte = reply[next++];
        for (uint32_t i = 0; i < tail - 1; ++i) out.push_back((byte >> (9 - tail + i)) & 1);
    }
    out.push_back((reply[next] >> 7) & 1);
    return out;
}

uint32_t CaptureReplyBytes(uint32_t bits) {
    uint32_t whole = bits / kBitsPerByte;
    uint32_t tail = bits % kBitsPerByte;
    if (tail == 0) {
        --whole;
        tail = kBitsPerByte;
    }
    return whole + (tail >= 2 ? 1 : 0) + 1;
}

}  // namespace

bool CountChainDevices(int& count, CallResult& result) {
    const std::vector<uint8_t> ones(kMaxTotalIrBits / kBitsPerByte, 0xFF);
    kl_u32 bitsRead = 0;
    if (!ResetToIdle(result) || !IdleToShiftIr(result)) return false;
    if (!Check(JTAG_WriteTDI(kJtagMode, kMaxTotalIrBits, ones.data(), nullptr, &bitsRead, 1),
               "JTAG_WriteTDI", result)) {
        return false;
    }
    if (!ExitToIdle(result) || !IdleToShiftDr(result)) return false;
    // Zeros flush the chain of one-bit bypass registers; the ones that follow need one clock per
    // device to appear on TDO.
    const uint32_t half = kMaxChainDevices;
    std::vector<uint8_t> pattern(2 * half / kBitsPerByte, 0x00);
    std::fill(pattern.begin() + half / kBitsPerByte, pattern.end(), 0xFF);
    std::vector<uint8_t> captured(pattern.size() + 1, 0);
    if (!Check(JTAG_WriteTDI(kJtagMode, 2 * half, pattern.data(), captured.data(), &bitsRead, 1),
               "JTAG_WriteTDI", result) ||
        !ExitToIdle(result) || !Check(JTAG_Send2FTDI(), "JTAG_Send2FTDI", result)) {
        return false;
    }
    for (uint32_t i = 0; i < 2 * half; ++i) {
        if (!Bit(captured, i)) continue;
        if (i < half) {
            return Reject("TDO is high before any one was shifted in: no JTAG chain answers",
                          result);
        }
        count = static_cast<int>(i - half);
        return true;
    }
    return Reject("TDO stayed low: the chain is broken or longer than " +
                      std::to_string(kMaxChainDevices) + " devices",
                  result);
}

bool ReadIdcodes(int count, std::vector<ChainDevice>& devices, CallResult& result) {
    devices.clear();
    if (count == 0) return true;
    const uint32_t bits = static_cast<uint32_t>(count) * kIdcodeBits;
    if (!ResetToIdle(result) || !IdleToShiftDr(result) ||
        !Check(JTAG_ReadTDO2(kJtagMode, bits), "JTAG_ReadTDO2", result) ||
        !Check(JTAG_Send2FTDI(), "JTAG_Send2FTDI", result)) {
        return false;
    }
    const uint32_t expected = CaptureReplyBytes(bits);
    std::vector<uint8_t> reply(expected + 64, 0);
    kl_u32 received = 0;
    if (!Check(JTAG_RxFTDI(expected, reply.data(), &received), "JTAG_RxFTDI", result)) {
        return false;
    }
    if (received != expected) {
        return Reject("JTAG_RxFTDI delivered " + std::to_string(received) + " bytes, expected " +
                          std::to_string(expected),
                      result);
    }
    if (!ExitToIdle(result) || !Check(JTAG_Send2FTDI(), "JTAG_Send2FTDI", result)) return false;
    // The device nearest TDO comes out first: a 1 starts a 32-bit IDCODE, a 0 is a BYPASS bit.
    const std::vector<bool> stream = UnpackCapture(reply, bits);
    size_t pos = 0;
    for (int d = 0; d < count && pos < stream.size(); ++d) {
        ChainDevice device;
        if (stream[pos] && pos + kIdcodeBits <= stream.size()) {
            device.hasIdcode = true;
            for (int i = 0; i < kIdcodeBits; ++i) {
                device.idcode |= static_cast<uint32_t>(stream[pos + i]) << i;
            }
            pos += kIdcodeBits;
        } else {
            ++pos;
        }
        devices.insert(devices.begin(), device);
    }
    return true;
}

bool ScanChain(ChainScan& scan, CallResult& result) {
    return CountChainDevices(scan.count, result) && ReadIdcodes(scan.count, scan.devices, result);
}

std::string DescribeIdcode(uint32_t idcode) {
    char text[96];
    std::snprintf(text, sizeof text, "manufacturer 0x%03X, part 0x%04X, version %u",
                  (idcode >> 1) & 0x7FF, (idcode >> 12) & 0xFFFF, idcode >> 28);
    return text;
}

}  // namespace kestrel
