// Divisors of the FT2232C's 3 MHz serial clock, as the chip decodes the request: n + k/8, the code
// of k/8 as the chip maker's application note lists them (0, 1/2, 1/4, 1/8, 3/8, 5/8, 3/4, 7/8 for
// codes 0 to 7), its low two bits in the value's top bits and its high bit in the index's bit 8.
#include "baud_rate.h"

#include <gtest/gtest.h>

namespace ftl {
namespace {

TEST(BaudRate, DivisorsAndFractionCodes) {
    struct Row {
        uint32_t baud;
        bool valid;
        uint16_t value;
        uint16_t index;
        uint32_t actual;
    } rows[] = {
        {3000000, true, 0x0000, 0x0000, 3000000},  // divisor 1 is coded as 0
        {2000000, true, 0x0001, 0x0000, 2000000},  // divisor 1.5 is coded as 1
        {2500000, false, 0, 0, 0},                 // 20 % from either
        {115200, true, 26, 0x0000, 115385},
        {38400, true, 0xC04E, 0x0000, 38400},      // 78 + 1/8: code 3
        {9600, true, 0x4138, 0x0000, 9600},        // 312 + 1/2: code 1
        {29888, true, 100, 0x0100, 29888},         // 100 + 3/8: code 4, its high bit in the index
        {29925, true, 0x8064, 0x0000, 29925},      // 100 + 1/4: code 2
        {29814, true, 0x4064, 0x0100, 29814},      // 100 + 5/8: code 5
        {29777, true, 0x8064, 0x0100, 29777},      // 100 + 3/4: code 6
        {29740, true, 0xC064, 0x0100, 29740},      // 100 + 7/8: code 7
        {1545000, true, 0x0002, 0x0000, 1500000},  // 2.9 % from divisor 2
        {1456000, false, 0, 0, 0},                 // 3.0 % from divisors 2 and 2 + 1/8
        {183, false, 0, 0, 0},                     // divisor beyond 14 bits
        {0, false, 0, 0, 0},
    };
    for (const Row& row : rows) {
        std::optional<BaudRequest> request = EncodeBaud(row.baud);
        ASSERT_EQ(request.has_value(), row.valid) << row.baud;
        if (!request) continue;
        EXPECT_EQ(request->value, row.value) << row.baud;
        EXPECT_EQ(request->index, row.index) << row.baud;
        EXPECT_NEAR(request->actual, row.actual, 1) << row.baud;
    }
}

}  // namespace
}  // namespace ftl
