#include "jtag/chain.h"

#include <cctype>

#include "jtag/player.h"

namespace kestrel::jtag {
namespace {

// Zeros, then as many ones: the ones come out of TDO after one bit per register stage.
Bits ZerosThenOnes(size_t half) {
    Bits bits(half);
    bits.Append(Bits(half, true));
    return bits;
}

// Where the first one of the second half appears: the length of what the chain held back.
bool Delay(const Bits& capture, size_t half, size_t& delay) {
    for (size_t i = half; i < capture.size(); ++i) {
        if (capture.Get(i)) {
            delay = i - half;
            return true;
        }
    }
    return false;
}

void Split(const Bits& pattern, size_t from, size_t devices, std::vector<uint32_t>& current,
           std::vector<std::vector<uint32_t>>& out, size_t limit) {
    if (out.size() >= limit) return;
    if (devices == 0) {
        if (from == pattern.size()) out.emplace_back(current.rbegin(), current.rend());
        return;
    }
    if (!pattern.Get(from) || pattern.Get(from + 1)) return;
    const size_t longest = pattern.size() - from - 2 * (devices - 1);
    for (size_t length = 2; length <= longest; ++length) {
        current.push_back(static_cast<uint32_t>(length));
        Split(pattern, from + length, devices - 1, current, out, limit);
        current.pop_back();
    }
}

// Bits from the device nearest TDO down to device 0: that one's bits are shifted first.
size_t OffsetOf(const ChainLayout& layout, size_t device, bool ir) {
    size_t offset = 0;
    for (size_t d = device + 1; d < layout.irLengths.size(); ++d) {
        offset += ir ? layout.irLengths[d] : 1;
    }
    return offset;
}

}  // namespace

std::vector<std::vector<uint32_t>> IrSplits(const Bits& pattern, size_t devices, size_t limit) {
    std::vector<std::vector<uint32_t>> out;
    std::vector<uint32_t> current;
    if (devices > 0 && pattern.size() >= 2 * devices)
        Split(pattern, 0, devices, current, out, limit);
    return out;
}

bool MeasureChain(ChainMeasurement& measurement, CallResult& result) {
    Program program;
    ScanOp ir;
    ir.ir = true;
    ir.tdi = ZerosThenOnes(kMaxTotalIrBits);
    ir.capture = true;
    program.ops.push_back({0, "IR measurement", ir});
    // The ones that end the IR scan put every device in BYPASS for the count.
    ScanOp dr;
    dr.tdi = ZerosThenOnes(kMaxChainDevices);
    dr.capture = true;
    program.ops.push_back({0, "device count", dr});
    PlayResult played;
    if (!Play(program, PlayOptions{}, played)) {
        result = played.call;
        return false;
    }
    size_t irBits = 0;
    if (!Delay(played.captures[0], kMaxTotalIrBits, irBits)) {
        return Reject("TDO never went high in Shift-IR: no JTAG chain answers", result);
    }
    if (irBits == 0) {
        return Reject("TDO is high before any one was shifted in: no JTAG chain answers", result);
    }
    if (!Delay(played.captures[1], kMaxChainDevices, measurement.devices) ||
        measurement.devices == 0) {
        return Reject("the chain does not pass a one through BYPASS: broken, or longer than " +
                          std::to_string(kMaxChainDevices) + " devices",
                      result);
    }
    measurement.irCapture = played.captures[0].Slice(0, irBits);
    return true;
}

bool ChooseIrLengths(const ChainMeasurement& measurement, const std::vector<uint32_t>& given,
                     ChainLayout& layout, std::string& error) {
    const size_t irBits = measurement.irCapture.size();
    layout.detected = given.empty();
    if (!given.empty()) {
        uint32_t sum = 0;
        for (uint32_t length : given) sum += length;
        if (given.size() != measurement.devices || sum != irBits) {
            error = "--ir-lengths " + JoinLengths(given) + " do not fit the chain: it has " +
                    std::to_string(measurement.devices) + " device(s) and " +
                    std::to_string(irBits) + " instruction bits in all";
            return false;
        }
        layout.irLengths = given;
        return true;
    }
    const auto splits = IrSplits(measurement.irCapture, measurement.devices);
    if (splits.size() != 1) {
        error = "the instruction capture 0x" + measurement.irCapture.ToHex() + " of " +
                std::to_string(measurement.devices) + " device(s) " +
                (splits.empty() ? "splits no way" : "splits more than one way") +
                " into registers that capture 01; give --ir-lengths";
        return false;
    }
    layout.irLengths = splits[0];
    return true;
}

ScanOp OneDeviceIr(const ChainLayout& layout, size_t device, const Bits& instruction) {
    ScanOp scan;
    scan.ir = true;
    scan.capture = true;
    for (size_t d = layout.irLengths.size(); d-- > 0;) {
        scan.tdi.Append(d == device ? instruction : Bits(layout.irLengths[d], true));
    }
    return scan;
}

ScanOp OneDeviceDr(const ChainLayout& layout, size_t device, const Bits& value) {
    ScanOp scan;
    scan.capture = true;
    for (size_t d = layout.irLengths.size(); d-- > 0;) {
        scan.tdi.Append(d == device ? value : Bits(1));
    }
    return scan;
}

Bits DeviceBits(const ChainLayout& layout, size_t device, bool ir, const Bits& capture) {
    const size_t others = ir ? 0 : layout.irLengths.size() - 1;
    const size_t own = ir ? layout.irLengths[device] : capture.size() - others;
    return capture.Slice(OffsetOf(layout, device, ir), own);
}

std::string JoinLengths(const std::vector<uint32_t>& lengths) {
    std::string text;
    for (uint32_t length : lengths) {
        if (!text.empty()) text += ',';
        text += std::to_string(length);
    }
    return text;
}

bool ParseValue(const std::string& text, size_t bits, Bits& value, std::string& error) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        return Bits::FromHex(text.substr(2), bits, value, error);
    }
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
        text.size() > 19) {
        error = "'" + text + "' is neither a decimal number nor 0x followed by hex digits";
        return false;
    }
    const unsigned long long number = std::stoull(text);
    value = Bits(bits);
    for (size_t i = 0; i < 64; ++i) {
        if (((number >> i) & 1) == 0) continue;
        if (i >= bits) {
            error = text + " does not fit in " + std::to_string(bits) + " bits";
            return false;
        }
        value.Set(i, true);
    }
    return true;
}

}  // namespace kestrel::jtag
