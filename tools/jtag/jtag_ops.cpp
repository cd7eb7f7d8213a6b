#include "jtag/jtag_ops.h"

#include <cstdio>

#include "jtag/player.h"

namespace kestrel {
namespace {

constexpr int kIdcodeBits = 32;

}  // namespace

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
    jtag::ChainMeasurement measured;
    if (!jtag::MeasureChain(measured, result)) return false;
    scan.count = static_cast<int>(measured.devices);
    return ReadIdcodes(scan.count, scan.devices, result);
}

std::string DescribeIdcode(uint32_t idcode) {
    char text[96];
    std::snprintf(text, sizeof text, "manufacturer 0x%03X, part 0x%04X, version %u",
                  (idcode >> 1) & 0x7FF, (idcode >> 12) & 0xFFFF, idcode >> 28);
    return text;
}

}  // namespace kestrel
