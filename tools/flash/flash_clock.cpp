#include "flash/flash_clock.h"

#include <cstring>

#include "common/tck.h"

namespace kestrel {
namespace {

// Parts whose read (0x03) is slower than their fast read, by JEDEC ID. Other serial NOR flashes
// read at 33 MHz or more; all of these above the cable's 6 MHz, so the table only ever matters
// for a request.
struct LimitRow {
    uint8_t id[3];
    double hz;
    const char* part;
};
constexpr LimitRow kLimits[] = {
    {{0xBF, 0x25, 0x8D}, 25e6, "SST25VF040B"},
    {{0xBF, 0x25, 0x41}, 25e6, "SST25VF016B"},
};

}  // namespace

ReadClockLimit ReadClockLimitOf(const uint8_t id[3]) {
    for (const LimitRow& row : kLimits) {
        if (std::memcmp(row.id, id, 3) == 0) return {row.hz, row.part};
    }
    return {};
}

uint32_t ChooseDivisor(const ClockRequest& request, const ReadClockLimit& limit,
                       std::string& problem) {
    const double slack = 1e-9;
    if (!request.divisor && !request.hz) {
        return limit.hz > 0 ? DivisorFor(limit.hz) : 0;
    }
    const uint32_t divisor = request.divisor ? *request.divisor : DivisorFor(*request.hz);
    if (limit.hz > 0 && TckHz(divisor) > limit.hz * (1 + slack)) {
        const std::string asked = request.divisor ? "--divisor " + std::to_string(divisor)
                                                  : "--clock " + RateText(*request.hz);
        problem = asked + " clocks the flash at " + RateText(TckHz(divisor)) + ", faster than " +
                  limit.part + " reads (" + RateText(limit.hz) + " at most); give --clock " +
                  RateText(TckHz(DivisorFor(limit.hz))) + " or slower, or leave the clock out";
    }
    return divisor;
}

}  // namespace kestrel
