#include "jtag/jtag_ops.h"

#include <cstdio>

#include "jtag/player.h"
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
    // Zeros shifted after Test-Logic-Reset: the player clocks them with TDI held low, as one
    // queued capture.
    jtag::ScanOp scan;
    scan.tdi = jtag::Bits(static_cast<size_t>(count) * kIdcodeBits);
    scan.capture = true;
    jtag::Program program;
    program.ops.push_back({0, "IDCODE scan", scan});
    jtag::PlayResult played;
    if (!jtag::Play(program, {}, played)) {
        result = played.call;
        return false;
    }
    const jtag::Bits& stream = played.captures[0];
    // The device nearest TDO comes out first: a 1 starts a 32-bit IDCODE, a 0 is a BYPASS bit.
    size_t pos = 0;
    for (int d = 0; d < count && pos < stream.size(); ++d) {
        ChainDevice device;
        if (stream.Get(pos) && pos + kIdcodeBits <= stream.size()) {
            device.hasIdcode = true;
            for (int i = 0; i < kIdcodeBits; ++i) {
                device.idcode |= static_cast<uint32_t>(stream.Get(pos + i)) << i;
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
