// Scans into one device of a chain with every other device in BYPASS, and what they need to know
// about the chain: the number of devices and each one's instruction-register length.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/common.h"
#include "jtag/bits.h"
#include "jtag/program.h"

namespace kestrel::jtag {

// Longest chain and longest total instruction register the measurement handles.
constexpr size_t kMaxChainDevices = 64;
constexpr size_t kMaxTotalIrBits = 1024;

struct ChainLayout {
    std::vector<uint32_t> irLengths;  // device 0 (nearest TDI) first
    bool detected = false;            // from the capture pattern, not from the caller
};

// What a chain shows after Test-Logic-Reset: an IR scan gives the pattern its instruction
// registers capture (as long as all of them together), a DR scan through BYPASS the number of
// devices. False with the reason in `result`.
struct ChainMeasurement {
    size_t devices = 0;
    Bits irCapture;  // first bit out first: the device nearest TDO's lowest bit
};
bool MeasureChain(ChainMeasurement& measurement, CallResult& result);

// The instruction lengths: `given` when it is not empty (checked against the measurement), else
// from the capture pattern when it splits only one way. False with the reason in `error`.
bool ChooseIrLengths(const ChainMeasurement& measurement, const std::vector<uint32_t>& given,
                     ChainLayout& layout, std::string& error);

// The ways (at most `limit`) to cut a captured instruction pattern (first bit out first) into
// `devices` registers of at least two bits, each of which captured 1 then 0 in its lowest bits
// as IEEE 1149.1 requires. Lengths are listed device 0 (nearest TDI) first.
std::vector<std::vector<uint32_t>> IrSplits(const Bits& pattern, size_t devices, size_t limit = 2);

// One IR scan: `instruction` into `device`, BYPASS (all ones) into every other device.
ScanOp OneDeviceIr(const ChainLayout& layout, size_t device, const Bits& instruction);
// One DR scan of `value` through `device`, one BYPASS bit for every other device.
ScanOp OneDeviceDr(const ChainLayout& layout, size_t device, const Bits& value);
// The device's own bits of a capture from either scan.
Bits DeviceBits(const ChainLayout& layout, size_t device, bool ir, const Bits& capture);

// "6,8": the lengths as --ir-lengths takes them.
std::string JoinLengths(const std::vector<uint32_t>& lengths);

// "0x1F" (any number of digits) or a decimal number, as a value of `bits` bits.
bool ParseValue(const std::string& text, size_t bits, Bits& value, std::string& error);

}  // namespace kestrel::jtag
