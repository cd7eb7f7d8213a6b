#include "jtag/play_reports.h"

#include <algorithm>
#include <cstdio>

namespace kestrel::jtag {
namespace {

// Vectors longer than this are reported as a window around the first difference.
constexpr size_t kFullReportBits = 256;
constexpr size_t kReportWindowBits = 64;

std::string Hex(const Bits& bits) { return "0x" + bits.ToHex(); }

}  // namespace

std::string MismatchText(const ScanOp& scan, const Bits& actual, const Comparison& c) {
    const size_t bodyBits = scan.tdi.size() - scan.headerBits - scan.trailerBits;
    size_t from = 0;
    size_t count = scan.headerBits;
    std::string part = scan.ir ? " in the HIR bits" : " in the HDR bits";
    if (c.first >= scan.headerBits + bodyBits) {
        from = scan.headerBits + bodyBits;
        count = scan.trailerBits;
        part = scan.ir ? " in the TIR bits" : " in the TDR bits";
    } else if (c.first >= scan.headerBits) {
        from = scan.headerBits;
        count = bodyBits;
        part = "";
    }
    std::string text = "TDO mismatch" + part;
    if (count > kFullReportBits) {
        const size_t start = (c.first - from) / kReportWindowBits * kReportWindowBits;
        const size_t length = std::min(kReportWindowBits, count - start);
        text += " (" + std::to_string(c.differing) + " of " + std::to_string(count) +
                " bits differ), bits " + std::to_string(start) + " to " +
                std::to_string(start + length - 1);
        from += start;
        count = length;
    }
    const Bits mask = scan.mask.empty() ? Bits(scan.tdi.size(), true) : scan.mask;
    return text + ": expected " + Hex(scan.expected.Slice(from, count)) + ", actual " +
           Hex(actual.Slice(from, count)) + ", mask " + Hex(mask.Slice(from, count));
}

}  // namespace kestrel::jtag
