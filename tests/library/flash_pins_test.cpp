// SPI, pins and clock through the library onto the virtual cable, judged by what the simulated
// targets saw: the SPI flash's memory and status, the line levels, the engine's divisor and the
// time its clock cycles took.
//
// The default flash: 1 MiB, chip select on GPIOL2 (ADBUS6) active low, JEDEC ID A7 40 14, SPI
// mode 0 (the flash samples DO on the rising edge and changes DI on the falling edge).
#include <algorithm>
#include <iterator>

#include "kestrellink.h"
#include "kestrellink_result_codes.h"
#include "library_fixture.h"
#include "vcable_targets.h"

namespace rc = kestrellink_result_codes;

namespace kl::testing {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kBytesOutFallingMsb = 0x11;
constexpr uint8_t kBytesInRisingMsb = 0x20;

// Flash commands.
constexpr uint8_t kReadJedecId = 0x9F;
constexpr uint8_t kRead = 0x03;
constexpr uint8_t kWriteEnable = 0x06;
constexpr uint8_t kReadStatus = 0x05;
constexpr uint8_t kPageProgram = 0x02;
constexpr uint8_t kSectorErase = 0x20;
constexpr uint8_t kBusy = 0x01;
constexpr uint8_t kWriteEnabled = 0x02;

constexpr uint16_t kChipSelectLine = 1u << 6;  // GPIOL2
constexpr int kGpioH1Line = 9;                 // ACBUS1

uint16_t LineLevels() {
    uint16_t levels = 0;
    EXPECT_EQ(vc_pins_get(0, &levels, nullptr), VC_OK);
    return levels;
}

Bytes FlashContents(uint32_t address, uint32_t count) {
    Bytes bytes(count);
    EXPECT_EQ(vc_flash_read(0, address, bytes.data(), count), VC_OK);
    return bytes;
}

Bytes WithAddress(uint8_t command, uint32_t address) {
    return {command, static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 8),
            static_cast<uint8_t>(address)};
}

class FlashPinsTest : public TargetTest {
  protected:
    // One flash transaction: chip select low, the bytes out, readCount bytes in, chip select high.
    static Bytes Transaction(const Bytes& out, uint32_t readCount = 0) {
        EXPECT_EQ(GPIO2_low2(), rc::kTransferOk);
        EXPECT_EQ(LineLevels() & kChipSelectLine, 0);
        EXPECT_EQ(SPI_WriteDO(kBytesOutFallingMsb, static_cast<uint32_t>(out.size()), out.data()),
                  0);
        Bytes in(readCount);
        if (readCount > 0) {
            uint32_t received = 0;
            EXPECT_EQ(SPI_ReadDI(kBytesInRisingMsb, readCount, in.data(), &received),
                      rc::kTransferOk);
            EXPECT_EQ(received, readCount);
        }
        EXPECT_EQ(Disable_AllTalk(), rc::kTransferOk);
        EXPECT_EQ(LineLevels() & kChipSelectLine, kChipSelectLine);
        return in;
    }

    // Reads the status register until the busy bit clears; returns how many reads showed it.
    static int BusyReads() {
        for (int reads = 0; reads < 20; ++reads) {
            if ((Transaction({kReadStatus}, 1)[0] & kBusy) == 0) return reads;
        }
        ADD_FAILURE() << "the flash stayed busy";
        return -1;
    }

    static uint8_t FlashStatus() {
        uint8_t status = 0xEE;
        EXPECT_EQ(vc_flash_status(0, &status), VC_OK);
        return status;
    }
};

TEST_F(FlashPinsTest, JedecIdAndPageRead) {
    EXPECT_BYTES((Bytes{0xA7, 0x40, 0x14}), Transaction({kReadJedecId}, 3));
    for (uint32_t address : {0x000000u, 0x012345u, 0x0FFF80u}) {
        EXPECT_BYTES(FlashContents(address, 128), Transaction(WithAddress(kRead, address), 128))
            << "address " << address;
    }
}

TEST_F(FlashPinsTest, ReadLongerThanOneReadCommand) {
    // 1000 bytes come in three commands of 384, 384 and 232 bytes under one chip select.
    EXPECT_BYTES(FlashContents(0x0FFC00, 1000), Transaction(WithAddress(kRead, 0x0FFC00), 1000));
}

TEST_F(FlashPinsTest, EraseProgramAndReadBackAPage) {
    constexpr uint32_t kSector = 0x012000;
    constexpr uint32_t kPage = 0x012300;
    const Bytes before = FlashContents(kSector - 16, 16);

    Transaction({kWriteEnable});
    EXPECT_EQ(FlashStatus(), kWriteEnabled);
    Transaction(WithAddress(kSectorErase, kSector));
    // The default flash is busy for 45 ms after a sector erase: eight status transactions on the
    // full-speed model clock (the part sees the time at which each one's chip select fell).
    EXPECT_EQ(BusyReads(), 8);
    EXPECT_EQ(FlashContents(kSector, 4096), Bytes(4096, 0xFF));

    Bytes page(256);
    for (size_t i = 0; i < page.size(); ++i) page[i] = static_cast<uint8_t>(0xC3 ^ (i * 5));
    Transaction({kWriteEnable});
    Bytes program = WithAddress(kPageProgram, kPage);
    // Not insert(), for which GCC 12 at -O3 reports a false overflow.
    std::copy(page.begin(), page.end(), std::back_inserter(program));
    Transaction(program);
    EXPECT_EQ(BusyReads(), 0);  // and 0.7 ms after a page program: over before the first read
    EXPECT_EQ(FlashStatus(), 0);

    EXPECT_BYTES(page, FlashContents(kPage, 256));
    EXPECT_BYTES(page, Transaction(WithAddress(kRead, kPage), 256));
    EXPECT_EQ(FlashContents(kPage + 256, 256), Bytes(256, 0xFF));
    EXPECT_BYTES(before, FlashContents(kSector - 16, 16));  // the sector before is untouched
}

TEST_F(FlashPinsTest, ProgramWithoutWriteEnableChangesNothing) {
    const Bytes before = FlashContents(0x200, 4);
    Bytes program = WithAddress(kPageProgram, 0x200);
    program.insert(program.end(), {0x00, 0x00, 0x00, 0x00});
    Transaction(program);
    EXPECT_EQ(BusyReads(), 0);
    EXPECT_BYTES(before, FlashContents(0x200, 4));
}

struct PinRow {
    int (*operation)();
    const char* name;
    uint16_t levels;  // ACBUS in the high byte
};

// The levels the targets see after each pin operation on a cable opened by OpenDevice: TDO,
// GPIOL0 and GPIOL1 are inputs and every ACBUS line too, all undriven and so read high.
TEST_F(FlashPinsTest, PinOperationsReachTheLines) {
    const PinRow rows[] = {
        {GPIOL_low, "GPIOL_low", 0xFFFE},  // GPIOL0 is an input here: nothing changes
        {GPIO2_low2, "GPIO2_low2", 0xFFBE},   {GPIO3_low, "GPIO3_low", 0xFF7E},
        {GPIOH2_high, "GPIOH2_high", 0xFF7E},  // no ACBUS output after OpenDevice
        {GPIO2_low, "GPIO2_low", 0xFFBE},     {Disable_AllTalk, "Disable_AllTalk", 0xFFFE},
    };
    for (const PinRow& row : rows) {
        EXPECT_EQ(row.operation(), 0) << row.name;
        EXPECT_EQ(LineLevels(), row.levels) << row.name;
    }
}

TEST_F(FlashPinsTest, WaitGpioH1LowSeesAScheduledChange) {
    // Each call makes 500 queue polls; the line falls at the 1000th, after the second call has
    // read the high byte, so the third is the first to see it low.
    ASSERT_EQ(vc_gpio_schedule(0, kGpioH1Line, 0, 1000), VC_OK);
    std::vector<int> results;
    for (int call = 0; call < 5 && (results.empty() || results.back() != 0); ++call) {
        results.push_back(Wait_GPIOH1_Low());
    }
    EXPECT_EQ(results, (std::vector<int>{8, 8, 0}));
    EXPECT_EQ(LineLevels() & (1u << kGpioH1Line), 0u);
    ASSERT_EQ(vc_gpio_set_input(0, kGpioH1Line, -1), VC_OK);  // released: the pull-up wins
    EXPECT_EQ(Wait_GPIOH1_Low(), rc::kGpioH1NotLow);
}

TEST_F(FlashPinsTest, SetClkDivisorReachesTheEngine) {
    for (uint32_t divisor : {0u, 1u, 5u, 0x1234u, 0xFFFFu}) {
        ASSERT_EQ(FTDI_SetClk(divisor), rc::kSetClkOk);
        EXPECT_EQ(vc_mpsse_divisor(0), static_cast<int>(divisor));
        // One byte read clocks eight cycles of (1 + divisor) x 2 base-clock periods each.
        const uint64_t ticks = vc_mpsse_base_clock_ticks(0);
        uint8_t byte = 0;
        uint32_t received = 0;
        ASSERT_EQ(SPI_ReadDI(kBytesInRisingMsb, 1, &byte, &received), rc::kTransferOk);
        EXPECT_EQ(vc_mpsse_base_clock_ticks(0) - ticks, 8ull * 2 * (1 + divisor)) << divisor;
    }
    EXPECT_EQ(FTDI_SetClk(0x10000), rc::kSetClkFailed);
    EXPECT_EQ(vc_mpsse_divisor(0), 0xFFFF);
}

}  // namespace
}  // namespace kl::testing
