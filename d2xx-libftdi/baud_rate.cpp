#include "baud_rate.h"

namespace ftl {
namespace {

constexpr uint64_t kBaseEighths = 3000000ull * 8;  // the serial clock in eighths of a hertz
constexpr uint32_t kMaxWhole = 0x3FFF;
// The chip's three-bit code for each fraction of eighths.
constexpr uint8_t kFractionCode[8] = {0, 3, 2, 4, 1, 5, 6, 7};

}  // namespace

std::optional<BaudRequest> EncodeBaud(uint32_t baud) {
    if (baud == 0) return std::nullopt;
    uint64_t eighths = (kBaseEighths + baud / 2) / baud;
    BaudRequest request{};
    if (eighths <= 8) {
        request = {0, 0, 3000000};  // divisor 1: the whole serial clock
    } else if (eighths <= 12) {
        request = {1, 0, 2000000};  // divisor 1.5, which the chip codes as 1
    } else {
        if (eighths < 16) eighths = 16;  // divisors between 1.5 and 2 do not exist
        const uint64_t whole = eighths >> 3;
        if (whole > kMaxWhole) return std::nullopt;
        const uint8_t code = kFractionCode[eighths & 7];
        request.value = static_cast<uint16_t>(whole | (code & 3u) << 14);
        request.index = static_cast<uint16_t>((code >> 2) << 8);
        request.actual = static_cast<uint32_t>((kBaseEighths + eighths / 2) / eighths);
    }
    const uint64_t error = request.actual > baud ? request.actual - baud : baud - request.actual;
    if (error * 100 > uint64_t{baud} * 3) return std::nullopt;
    return request;
}

}  // namespace ftl
