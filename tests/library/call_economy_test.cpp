// Vendor calls per job against the fewest the algorithms need: a surplus call or byte is a defect.
// Each job counts every entry point it called and the bytes it wrote.
#include <algorithm>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "kestrellink.h"
#include "kestrellink_result_codes.h"
#include "library_fixture.h"
#include "reference_jobs.h"
#include "vcable_targets.h"

namespace rc = kestrellink_result_codes;

namespace kl::testing {
namespace {

using Counts = std::map<std::string, uint32_t>;

Counts CountCalls() {
    Counts counts;
    for (uint32_t i = 0; i < vc_log_count(); ++i) {
        VcCall call{};
        if (vc_log_get(i, &call) == 0) ++counts[call.entry];
    }
    return counts;
}

uint64_t BytesWritten() {
    uint64_t bytes = 0;
    for (const VcCall& call : CallsOf("FT_Write")) bytes += call.transferred;
    return bytes;
}

std::string Describe(const Counts& counts) {
    std::string text;
    for (const auto& [entry, n] : counts) text += entry + " " + std::to_string(n) + "; ";
    return text;
}

class CallEconomyTest : public LibraryTest {};

// Each reference job, the benchmark's too, makes exactly the vendor calls and writes exactly the
// bytes that its algorithms need.
TEST_F(CallEconomyTest, ReferenceJobsMakeNoSurplusCalls) {
    for (const jobs::ReferenceJob& job : jobs::ReferenceJobs()) {
        SCOPED_TRACE(job.name);
        ASSERT_TRUE(job.prepare());
        // The minimum counts its polls exactly, as replies that are there at once give them; with
        // USB delivery a wait makes as many more as the latency timer takes.
        vc_set_reply_delivery(VC_DELIVERY_IMMEDIATE);
        ForgetTraffic();
        EXPECT_TRUE(job.run());
        Counts expected;
        for (const jobs::EntryCount& minimum : job.minimumCalls) {
            expected[minimum.entry] = static_cast<uint32_t>(minimum.calls);
        }
        EXPECT_EQ(Describe(expected), Describe(CountCalls()));
        EXPECT_EQ(job.minimumBytesWritten, BytesWritten()) << job.derivation;
    }
}

TEST_F(CallEconomyTest, LongQueuedShiftFillsEveryWriteButTheLast) {
    ASSERT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), rc::kOpenOk);
    ForgetTraffic();
    std::vector<kl_u8> tdi(307200, 0xA5);
    kl_u32 bits = 0;
    ASSERT_EQ(JTAG_WriteTDI(0x09, 8 * 307200, tdi.data(), nullptr, &bits, 1), rc::kTransferOk);
    ASSERT_EQ(JTAG_Send2FTDI(), rc::kTransferOk);
    const std::vector<VcCall> writes = CallsOf("FT_Write");
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0].transferred, 131072u);
    EXPECT_EQ(writes[1].transferred, 131072u);
    // The stream is the same as if sent whole: headers every 65539 bytes, then the tail.
    const std::vector<uint8_t> sent = WrittenToChannelA();
    for (uint32_t k = 0; k < 4; ++k) {
        EXPECT_BYTES((std::vector<uint8_t>{0x19, 0xFF, 0xFF}),
                     std::vector<uint8_t>(sent.begin() + 65539 * k, sent.begin() + 65539 * k + 3));
    }
    EXPECT_BYTES((std::vector<uint8_t>{0x19, 0xFE, 0xAF}),
                 std::vector<uint8_t>(sent.begin() + 65539 * 4, sent.begin() + 65539 * 4 + 3));
    EXPECT_EQ(vc_mpsse_error_count(0), 0u);
}

// The carrier that the kestrel tool's flash client depends on (tools/wire/carrier.h): a
// JTAG_WriteTMS2 byte shift of three bytes whose data are the header of the queued JTAG_WriteTDI
// behind it, so that the engine runs the shift's data as commands. Both exports append their bytes
// verbatim, and the whole stream leaves in one write while the carrier and the stream's bytes stay
// within KL_JTAG_QUEUE_THRESHOLD; one byte more and the shift sends the carrier alone first.
TEST_F(CallEconomyTest, CarrierStreamsLeaveVerbatimInOneWrite) {
    ASSERT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), rc::kOpenOk);
    struct Row {
        uint32_t size;  // stream bytes: one byte shift out of size - 3 bytes of 0xFF
        size_t writes;
    };
    constexpr uint32_t kCarrier = 3;
    for (const Row row : {Row{4, 1}, Row{4096, 1}, Row{KL_JTAG_QUEUE_THRESHOLD - kCarrier, 1},
                          Row{KL_JTAG_QUEUE_THRESHOLD - kCarrier + 1, 2}}) {
        SCOPED_TRACE(row.size);
        std::vector<uint8_t> stream(row.size + 1, 0xFF);  // one more: the tail bit's byte
        stream[0] = 0x11;
        stream[1] = static_cast<uint8_t>((row.size - 4) & 0xFF);
        stream[2] = static_cast<uint8_t>((row.size - 4) >> 8);
        stream[row.size] = 0;
        ForgetTraffic();
        const kl_u8 carried = 0;  // the header's third byte: three bytes carried
        ASSERT_EQ(JTAG_WriteTMS2(0x19, 2, &carried), rc::kTransferOk);
        kl_u32 bits = 0;
        ASSERT_EQ(JTAG_WriteTDI(0x09, 8 * row.size + 1, stream.data(), nullptr, &bits, 0),
                  rc::kTransferOk);
        ASSERT_EQ(JTAG_Send2FTDI(), rc::kTransferOk);
        // The carrier, the carried header, the stream, the tail bit (0).
        std::vector<uint8_t> expected(row.size + 9, 0);
        const uint8_t framing[] = {0x19,
                                   0x02,
                                   0x00,
                                   0x19,
                                   static_cast<uint8_t>((row.size - 1) & 0xFF),
                                   static_cast<uint8_t>((row.size - 1) >> 8)};
        std::copy(std::begin(framing), std::end(framing), expected.begin());
        std::copy(stream.begin(), stream.begin() + row.size, expected.begin() + 6);
        expected[row.size + 6] = 0x1B;
        EXPECT_BYTES(expected, WrittenToChannelA());
        const std::vector<VcCall> writes = CallsOf("FT_Write");
        ASSERT_EQ(writes.size(), row.writes);
        EXPECT_EQ(writes[0].transferred, row.writes == 1 ? expected.size() : kCarrier);
        EXPECT_EQ(vc_mpsse_error_count(0), 0u);
    }
}

}  // namespace
}  // namespace kl::testing
