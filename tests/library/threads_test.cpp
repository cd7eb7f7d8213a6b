// Two host threads on one cable. One reads the low pin byte over and over; the other reads the
// SPI flash in whole transactions (chip select, command, data, release). The exports run one at a
// time, so each thread gets its own replies: every pin byte is one the pins really had, and every
// flash byte is the flash's own.
#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "kestrellink.h"
#include "kestrellink_result_codes.h"
#include "library_fixture.h"
#include "vcable_targets.h"

namespace rc = kestrellink_result_codes;

namespace kl::testing {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kRounds = 150;
constexpr uint32_t kReadBytes = 500;   // two reply blocks per read
constexpr uint8_t kChipSelect = 0x40;  // GPIOL2, low while the flash is selected
constexpr uint8_t kDataLines = 0x06;   // DO and DI, which carry data while it is selected

uint32_t AddressOfRound(int round) { return static_cast<uint32_t>(round) * 4099u; }

// Eight bytes of each from the first that differs, in hex.
std::string Difference(const Bytes& actual, const Bytes& expected) {
    size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
    auto window = [at](const Bytes& bytes) {
        const size_t start = std::min(at, bytes.size());
        return Hex(Bytes(bytes.begin() + start, bytes.begin() + std::min(start + 8, bytes.size())));
    };
    return "from byte " + std::to_string(at) + ": " + window(actual) + ", expected " +
           window(expected);
}

class ThreadsTest : public TargetTest {};

TEST_F(ThreadsTest, PortAndFlashReadsFromTwoThreadsEachGetTheirOwnReplies) {
    uint8_t idle = 0;
    ASSERT_EQ(JTAG_ReadPort(&idle), rc::kTransferOk);
    const uint8_t selected = idle & ~kChipSelect;
    std::vector<Bytes> expected(kRounds, Bytes(kReadBytes));
    for (int round = 0; round < kRounds; ++round) {
        ASSERT_EQ(vc_flash_read(0, AddressOfRound(round), expected[round].data(), kReadBytes),
                  VC_OK);
    }

    std::string portFault;
    std::thread port([&] {
        for (int round = 0; round < kRounds && portFault.empty(); ++round) {
            uint8_t value = 0;
            const int result = JTAG_ReadPort(&value);
            if (result != 0 || (value != idle && (value | kDataLines) != selected)) {
                portFault = "round " + std::to_string(round) + ": result " +
                            std::to_string(result) + ", pins " + Hex({value}) + ", expected " +
                            Hex({idle}) + " or, DO and DI aside, " + Hex({selected});
            }
        }
    });
    std::string flashFault;
    std::thread flash([&] {
        for (int round = 0; round < kRounds && flashFault.empty(); ++round) {
            const uint32_t address = AddressOfRound(round);
            const Bytes read{0x03, static_cast<uint8_t>(address >> 16),
                             static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)};
            Bytes in(kReadBytes);
            kl_u32 received = 0;
            const int results[] = {GPIO2_low2(), SPI_WriteDO(0x11, 4, read.data()),
                                   SPI_ReadDI(0x20, kReadBytes, in.data(), &received),
                                   Disable_AllTalk()};
            for (int result : results) {
                if (result != 0) flashFault = "result " + std::to_string(result);
            }
            if (in != expected[round]) flashFault = Difference(in, expected[round]);
            if (!flashFault.empty())
                flashFault = "round " + std::to_string(round) + ": " + flashFault;
        }
    });
    port.join();
    flash.join();
    EXPECT_EQ(portFault, "");
    EXPECT_EQ(flashFault, "");
}

}  // namespace
}  // namespace kl::testing
