// The tool's flash routines: the SFDP reading and the write planner on given bytes, and the bus
// operations on the virtual cable, judged by what the flash saw (its memory and its record of
// chip-select frames).
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <fstream>
#include <vector>

#include "common/tck.h"
#include "flash/flash_clock.h"
#include "flash/flash_geometry.h"
#include "flash/flash_plan.h"
#include "flash/flash_stop.h"
#include "flash/flash_writer.h"
#include "flash/page_pipeline.h"
#include "flash/spi_ops.h"
#include "library_fixture.h"
#include "vcable_clock.h"
#include "vcable_scenario.h"
#include "vcable_targets.h"
#include "wire/capture.h"
#include "wire/carrier.h"

namespace kestrel {
namespace {

using Bytes = std::vector<uint8_t>;
using kl::testing::Hex;

// An SFDP space: the header, one vendor parameter header before the JEDEC one (which a reader must
// skip), and the basic table's dwords.
Bytes Sfdp(const std::vector<uint32_t>& dwords) {
    const auto n = static_cast<uint8_t>(dwords.size());
    Bytes space = {'S',  'F', 'D', 'P', 6,    1, 1, 0xFF,   // two parameter headers
                   0xEF, 0,   1,   2,   0x60, 0, 0, 0x01,   // a vendor's table
                   0x00, 6,   1,   n,   0x18, 0, 0, 0xFF};  // JEDEC basic table at 0x18
    for (uint32_t d : dwords) {
        for (int i = 0; i < 4; ++i) space.push_back(static_cast<uint8_t>(d >> (8 * i)));
    }
    return space;
}

TEST(FlashGeometryTest, SfdpTablesGiveSizeEraseAndPage) {
    constexpr uint32_t kFlags4k = 0xFF802005;  // 4 KiB erase with 0x20
    struct Row {
        const char* name;
        Bytes space;
        uint64_t size;  // 0: no geometry
        uint32_t eraseSize;
        uint8_t eraseOpcode;
        uint32_t pageSize;
    };
    const std::vector<uint32_t> full = {kFlags4k, 8 * 1048576 - 1, 0, 0, 0,   0,
                                        0,        0xD810200C,      0, 0, 0x80};
    const Row rows[] = {
        {"no signature", Bytes(64, 0xFF), 0, 0, 0, 0},
        {"full table", Sfdp(full), 1048576, 4096, 0x20, 256},
        {"density as a power of two", Sfdp({kFlags4k, 0x80000000u | 27}), 16u << 20, 4096, 0x20,
         256},
        {"only a 64 KiB erase type", Sfdp({0, 8 * 65536 - 1, 0, 0, 0, 0, 0, 0xD810, 0}), 65536,
         65536, 0xD8, 256},
        {"512-byte pages", Sfdp({kFlags4k, 8 * 65536 - 1, 0, 0, 0, 0, 0, 0, 0, 0, 0x91}), 65536,
         4096, 0x20, 512},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::optional<FlashGeometry> g;
        const SfdpReader read = [&row](uint32_t at, uint8_t* out, uint32_t count) {
            for (uint32_t i = 0; i < count; ++i) {
                out[i] = at + i < row.space.size() ? row.space[at + i] : 0xFF;
            }
            return true;
        };
        ASSERT_TRUE(ReadSfdpGeometry(read, g));
        ASSERT_EQ(row.size != 0, g.has_value());
        if (!g) continue;
        EXPECT_EQ(row.size, g->size);
        EXPECT_EQ(row.eraseSize, g->eraseSize);
        EXPECT_EQ(row.eraseOpcode, g->eraseOpcode);
        EXPECT_EQ(row.pageSize, g->pageSize);
    }
}

// Past 16 MiB the table decides the addressing (dword 16: 4-byte opcodes, else 4-byte mode); its
// time fields (dwords 10 and 11: typical count and unit, and the multiplier to the maximum) bound
// the status polls.
TEST(FlashGeometryTest, SfdpTablesGiveAddressingAndTimeouts) {
    constexpr uint32_t kFlags3or4 = 0xFF802005 | 1u << 17;
    constexpr uint32_t k32MiB = 8 * (32u << 20) - 1;
    constexpr uint32_t kEraseTypes = 0xD810200C;  // 4 KiB 0x20, 64 KiB 0xD8
    // x8: 4 KiB 3 x 16 ms, 64 KiB 10 x 16 ms.
    constexpr uint32_t kEraseTimes = 0x3 | (0x22u << 4) | (0x29u << 11);
    // x4; 256-byte pages; program 10 x 64 us; chip erase 2 x 4 s.
    constexpr uint32_t kProgram = 0x1 | 0x80 | (0x29u << 8) | (0x41u << 24);
    struct Row {
        const char* name;
        std::vector<uint32_t> dwords;
        Addressing addressing;
        FlashTimeouts timeouts;
    };
    const FlashTimeouts defaults;
    const Row rows[] = {
        {"16 MiB, JESD216 1.0",
         {0xFF802005, 8 * (16u << 20) - 1, 0, 0, 0, 0, 0, kEraseTypes, 0},
         Addressing::kThreeByte,
         defaults},
        {"32 MiB without dword 16: 4-byte mode",
         {kFlags3or4, k32MiB, 0, 0, 0, 0, 0, kEraseTypes, 0, kEraseTimes, kProgram},
         Addressing::kFourByteMode,
         {2560, 384000, 1280000, 32000000}},
        {"32 MiB with 4-byte instructions",
         {kFlags3or4, k32MiB, 0, 0, 0, 0, 0, kEraseTypes, 0, kEraseTimes, kProgram, 0, 0, 0, 0,
          1u << 29 | 1u << 24},
         Addressing::kFourByteOpcodes,
         {2560, 384000, 1280000, 32000000}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Bytes space = Sfdp(row.dwords);
        std::optional<FlashGeometry> g;
        const SfdpReader read = [&space](uint32_t at, uint8_t* out, uint32_t count) {
            for (uint32_t i = 0; i < count; ++i)
                out[i] = at + i < space.size() ? space[at + i] : 0xFF;
            return true;
        };
        ASSERT_TRUE(ReadSfdpGeometry(read, g));
        ASSERT_TRUE(g.has_value());
        EXPECT_EQ(row.addressing, g->addressing);
        EXPECT_EQ(row.timeouts.program, g->timeouts.program);
        EXPECT_EQ(row.timeouts.sector, g->timeouts.sector);
        EXPECT_EQ(row.timeouts.block, g->timeouts.block);
        EXPECT_EQ(row.timeouts.chip, g->timeouts.chip);
        EXPECT_EQ(0xD8, g->blockOpcode);
    }
}

// --flash-size against what the part announces: larger is refused (an address past the end
// would wrap), smaller limits the ranges; where the SFDP table and the JEDEC ID disagree the size
// is unknown until --flash-size settles it; where nothing is announced it is taken unchecked.
TEST(FlashGeometryTest, AGivenSizeIsHeldToWhatThePartAnnounces) {
    constexpr uint64_t k1M = 1u << 20;
    struct Row {
        uint64_t sfdp, jedec, given;
        uint64_t size;        // what the tool takes (0: unknown)
        const char* refused;  // in the problem, or empty
        bool wholePart;       // a chip erase erases exactly the size
        const char* note;     // in SizeNote, or empty
    };
    const Row rows[] = {
        {k1M, k1M, 0, k1M, "", true, ""},
        {k1M, 0, 2 * k1M, 0, "its SFDP table announces 1 MiB (1048576 bytes)", false, ""},
        {0, k1M, k1M + 4096, 0, "its JEDEC ID announces 1 MiB", false, ""},
        {k1M, k1M, 65536, 65536, "", false, ""},
        {0, 0, 4 * k1M, 4 * k1M, "", false, "--flash-size 4 MiB is unchecked"},
        {0, 0, 0, 0, "", false, ""},
        {2 * k1M, k1M, 0, 0, "", false, ""},
        {2 * k1M, k1M, 2 * k1M, 2 * k1M, "", true, "decides where its SFDP table announces 2 MiB"},
        {k1M, 2 * k1M, 4 * k1M, 0, "its JEDEC ID announces 2 MiB", false, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.sfdp) + " " + std::to_string(row.jedec) + " " +
                     std::to_string(row.given));
        FlashGeometry g;
        g.sfdpSize = row.sfdp;
        g.jedecSize = row.jedec;
        const std::string problem = SettleSize(row.given, g);
        EXPECT_EQ(*row.refused == 0, problem.empty()) << problem;
        EXPECT_NE(std::string::npos, problem.find(row.refused)) << problem;
        if (!problem.empty()) continue;
        EXPECT_EQ(row.size, g.size);
        EXPECT_EQ(row.wholePart, SizeIsThePart(g));
        const std::string note = SizeNote(g);
        EXPECT_EQ(*row.note == 0, note.empty()) << note;
        EXPECT_NE(std::string::npos, note.find(row.note)) << note;
    }
}

// The table Python's clock= is held to as well: text, then the divisor or "refused".
TEST(FlashClockTest, ClockTextsBecomeTheFastestDivisorNotAboveThem) {
    std::ifstream rows(KESTREL_CLOCK_ROWS);
    std::string line;
    int count = 0;
    while (std::getline(rows, line)) {
        if (line.empty() || line[0] == '#') continue;
        const size_t tab = line.find('\t');
        const std::string text = line.substr(0, tab);
        const std::string expected = line.substr(tab + 1);
        double hz = 0;
        std::string error;
        const bool parsed = ParseClock(text, hz, error);
        EXPECT_EQ(expected, parsed ? std::to_string(DivisorFor(hz)) : "refused") << text;
        if (parsed) {
            EXPECT_LE(TckHz(DivisorFor(hz)), hz * (1 + 1e-9)) << "faster than " << text;
        }
        ++count;
    }
    EXPECT_GT(count, 20);
    // No rate at all is slower than any: the slowest divisor, never the fastest.
    for (const double hz : {0.0, -1.0, std::nan("")}) EXPECT_EQ(kMaxDivisor, DivisorFor(hz)) << hz;
}

TEST(FlashClockTest, TheFastestThePartAllowsAndNothingFaster) {
    const ReadClockLimit none;
    const ReadClockLimit slow{2.5e6, "a slow part"};
    const ReadClockLimit exact{2e6, "a 2 MHz part"};
    struct Row {
        std::optional<uint32_t> divisor;
        std::optional<double> hz;
        ReadClockLimit limit;
        uint32_t expected;
        const char* refused;  // in the problem, or empty
    };
    const Row rows[] = {
        {{}, {}, none, 0, ""},
        {{}, {}, slow, 2, ""},  // 2 MHz: 3 MHz would pass the part's 2.5 MHz
        {{}, {}, exact, 2, ""},
        {{}, 1.5e6, none, 3, ""},
        {{}, 2.5e6, slow, 2, ""},
        {{}, 2.9e6, slow, 2, ""},  // above the part, but its TCK is not
        {3, {}, slow, 3, ""},
        {{},
         3e6,
         slow,
         1,
         "--clock 3 MHz clocks the flash at 3 MHz, faster than a slow part reads"},
        {0, {}, exact, 0, "--divisor 0 clocks the flash at 6 MHz"},
        {1, {}, slow, 1, "give --clock 2 MHz or slower"},
    };
    for (const Row& row : rows) {
        std::string problem;
        const uint32_t divisor = ChooseDivisor({row.divisor, row.hz}, row.limit, problem);
        SCOPED_TRACE(row.refused);
        EXPECT_EQ(*row.refused == 0, problem.empty()) << problem;
        EXPECT_NE(std::string::npos, problem.find(row.refused)) << problem;
        if (problem.empty()) {
            EXPECT_EQ(row.expected, divisor);
        }
    }
    const uint8_t sst[3] = {0xBF, 0x25, 0x41};
    const uint8_t winbond[3] = {0xEF, 0x40, 0x14};
    EXPECT_EQ(25e6, ReadClockLimitOf(sst).hz);
    EXPECT_EQ(0, ReadClockLimitOf(winbond).hz);
}

TEST(FlashPlanTest, ErasesOnlyWhenABitMustRiseAndProgramsOnlyWhatDiffers) {
    constexpr uint32_t kSector = 16;
    constexpr uint32_t kPage = 4;
    const Bytes blank(kSector, 0xFF);
    Bytes data(kSector);
    for (uint32_t i = 0; i < kSector; ++i) data[i] = static_cast<uint8_t>(i + 1);
    auto with = [](Bytes bytes, uint32_t at, const Bytes& more) {
        std::copy(more.begin(), more.end(), bytes.begin() + at);
        return bytes;
    };
    struct Row {
        const char* name;
        Bytes current;
        Bytes wanted;
        bool mayErase;
        bool erase;
        std::vector<std::pair<uint32_t, uint32_t>> programs;  // offset, length
        Bytes firstProgramBytes;
    };
    const Row rows[] = {
        {"already there", data, data, true, false, {}, {}},
        {"blank: the changed bytes only",
         blank,
         with(blank, 5, {0xA1, 0xA2}),
         true,
         false,
         {{5, 2}},
         {0xA1, 0xA2}},
        {"erased bytes of a written page",
         with(blank, 0, {7, 7}),
         with(blank, 0, {7, 7, 0xFF, 9}),
         true,
         false,
         {{3, 1}},
         {9}},
        {"a byte that holds data changes: erase, then every page that is not blank",
         data,
         with(data, 6, {0x00}),
         true,
         true,
         {{0, 4}, {4, 4}, {8, 4}, {12, 4}},
         {1, 2, 3, 4}},
        {"blank pages stay blank after the erase",
         with(blank, 9, {1}),
         with(blank, 9, {2}),
         true,
         true,
         {{9, 1}},
         {2}},
        {"without erase the difference is programmed over",
         data,
         with(data, 6, {0x00, 0x00}),
         false,
         false,
         {{6, 2}},
         {0x00, 0x00}},
        {"inside the span, bytes that already match are sent as 0xFF",
         with(blank, 0, {0xFF, 0x55}),
         with(blank, 0, {0x11, 0x55, 0x22}),
         true,
         false,
         {{0, 3}},
         {0x11, 0xFF, 0x22}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const SectorPlan plan =
            PlanSector(row.current.data(), row.wanted.data(), kSector, kPage, row.mayErase);
        EXPECT_EQ(row.erase, plan.erase);
        std::vector<std::pair<uint32_t, uint32_t>> programs;
        for (const PageProgram& p : plan.programs) programs.emplace_back(p.offset, p.length);
        EXPECT_EQ(row.programs, programs);
        if (plan.programs.empty()) continue;
        EXPECT_EQ(
            Hex(row.firstProgramBytes),
            Hex(ProgramBytes(row.current.data(), row.wanted.data(), plan.erase, plan.programs[0])));
    }
}

// The capture queue takes captures while their replies fit its buffer, exactly to its last byte,
// each at the offset after those before; one that would pass it is refused, counting nothing
// (a JTAG_ReadTDO2 before any library call).
TEST(CaptureQueueTest, CapturesFitTheReplyBufferToItsLastByte) {
    struct Row {
        uint32_t room;
        std::vector<uint32_t> replies;  // counted in order
        size_t refused;                 // the first refused; replies.size(): none
    };
    const Row rows[] = {
        {10, {4, 6}, 2},
        {10, {4, 7}, 1},
        {10, {10, 1}, 1},
        {10, {0, 10, 0}, 3},
        {1, {2}, 0},
        {kGroupReplyBytes, {47430, 15810, 15810}, 3},
        {kGroupReplyBytes, {47430, 5 * 15810, 15810}, 2},
    };
    for (const Row& row : rows) {
        wire::CaptureQueue queue(row.room);
        uint32_t expected = 0;
        for (size_t i = 0; i < row.replies.size(); ++i) {
            SCOPED_TRACE(std::to_string(row.room) + ", capture " + std::to_string(i));
            uint32_t offset = 12345;
            const bool fits = i < row.refused;
            EXPECT_EQ(!fits, queue.Overflows(row.replies[i]));
            ASSERT_EQ(fits, queue.Count(row.replies[i], offset));
            if (!fits) break;
            EXPECT_EQ(expected, offset);
            expected += row.replies[i];
            EXPECT_EQ(expected, queue.ReplyBytes());
        }
        EXPECT_EQ(expected, queue.ReplyBytes());
        // A read whose reply is one byte more than the room left is refused at once.
        CallResult result;
        uint32_t offset = 0;
        const uint32_t bits = queue.Room() ? 8 * queue.Room() : 1;
        EXPECT_FALSE(queue.ReadTdo(wire::kModeIn, bits, offset, result));
        EXPECT_NE(std::string::npos, result.Describe().find("overflow")) << result.Describe();
        EXPECT_EQ(expected, queue.ReplyBytes());
    }
}

class FlashBusTest : public kl::testing::TargetTest {
  protected:
    Flash flash_;  // the default flash: 3-byte addresses
    static std::vector<vc_flash_transaction> Seen() {
        uint64_t count = 0;
        EXPECT_EQ(VC_OK, vc_flash_transaction_count(0, &count));
        std::vector<vc_flash_transaction> seen(count);
        for (uint32_t i = 0; i < count; ++i) vc_flash_transaction_get(0, i, &seen[i]);
        return seen;
    }
};

// One READ, whatever its length: the bytes the flash holds, and one chip-select frame around the
// command, the address and exactly the bytes asked for (pieces of the capture are not visible
// to the flash).
TEST_F(FlashBusTest, AReadIsOneFrameOfExactlyItsBytes) {
    // Lengths around the pieces of the capture and their groups: the first piece holds 47429
    // bytes, the next 15809 each; the first group six pieces, the next eight.
    const std::pair<uint32_t, uint32_t> rows[] = {{0, 1},
                                                  {0x12345, 2},
                                                  {0xFFF00, 256},
                                                  {0, 47429},
                                                  {1, 47430},
                                                  {0x800, 47429 + 15809},
                                                  {3, 47429 + 15810},
                                                  {5, 47429 + 5 * 15809},
                                                  {7, 47429 + 5 * 15809 + 1},
                                                  {0, 1u << 20}};
    for (const auto& [address, count] : rows) {
        SCOPED_TRACE(std::to_string(address) + " + " + std::to_string(count));
        vc_flash_clear_transactions(0);
        kl::testing::ForgetTraffic();
        Bytes read(count);
        Bytes held(count);
        CallResult result;
        ASSERT_TRUE(FlashRead(flash_, address, read.data(), count, result)) << result.Describe();
        // One collect per group of pieces whose replies fill the group's buffer.
        const size_t groups = count <= 47429 + 5 * 15809 ? 1 : count == 1u << 20 ? 9 : 2;
        EXPECT_EQ(groups, kl::testing::CallsOf("FT_Read").size());
        ASSERT_EQ(VC_OK, vc_flash_read(0, address, held.data(), count));
        ASSERT_TRUE(read == held) << "the bytes read differ from the flash's";
        const auto seen = Seen();
        ASSERT_EQ(1u, seen.size());
        EXPECT_EQ(0x03, seen[0].command);
        EXPECT_EQ(address, seen[0].address);
        EXPECT_EQ(4 + count, seen[0].bytes);
        EXPECT_EQ(0u, seen[0].extra_bits);
    }
}

TEST_F(FlashBusTest, ProgramAndEraseAreWholeFramesWithWriteEnableAndStatusPolls) {
    const Bytes data = {0xDE, 0xAD, 0xBE, 0xEF};
    CallResult result;
    ASSERT_TRUE(FlashErase(flash_, flash_cmd::kSectorErase, 0x3000, result)) << result.Describe();
    ASSERT_TRUE(FlashProgram(flash_, 0x30FE, data.data(), 2, result)) << result.Describe();
    Bytes held(4);
    vc_flash_read(0, 0x30FE, held.data(), 4);
    EXPECT_EQ(Hex({0xDE, 0xAD, 0xFF, 0xFF}), Hex(held));
    std::string frames;
    for (const vc_flash_transaction& t : Seen()) {
        char text[32];
        std::snprintf(text, sizeof text, "%02X:%X:%u:%u ", t.command, t.address, t.bytes,
                      t.extra_bits);
        frames += text;
    }
    // Write enable, the erase, status reads of 509 bytes until the 45 ms of the default flash's
    // sector erase have passed on the model clock; the same for the program, whose 0.7 ms are
    // over by the first.
    const std::string poll = "05:0:510:0 ";
    std::string polls;
    for (int i = 0; i < 6; ++i) polls += poll;
    EXPECT_EQ("06:0:1:0 20:3000:4:0 " + polls + "06:0:1:0 02:30FE:6:0 " + poll, frames);
}

// The raw command stream: JEDEC ID reads (select, 0x9F, three bytes in, deselect), one alone and
// as many as fill a stream, each stream in exactly one vendor write of the bytes its costs count;
// the flash sees every transaction and each reply is its JEDEC ID.
TEST_F(FlashBusTest, ACommandStreamIsOneWrite) {
    CallResult result;
    uint8_t expected[3] = {};
    ASSERT_TRUE(FlashJedecId(flash_, expected, result)) << result.Describe();
    constexpr uint32_t readCost =
        2 * CommandStream::PinsCost() + CommandStream::OutCost(1) + CommandStream::InCost();
    constexpr uint32_t fill =
        (CommandStream::kCapacity - CommandStream::SendImmediateCost()) / readCost;
    static CommandStream stream;
    static uint8_t ids[3 * fill];
    for (const uint32_t reads : {1u, fill}) {
        SCOPED_TRACE(reads);
        ASSERT_EQ(VC_OK, vc_flash_clear_transactions(0));
        kl::testing::ForgetTraffic();
        stream.Clear();
        const uint8_t command = flash_cmd::kReadJedecId;
        for (uint32_t i = 0; i < reads; ++i) {
            ASSERT_TRUE(stream.Select() && stream.Out(&command, 1) && stream.In(3) &&
                        stream.Deselect());
        }
        ASSERT_TRUE(stream.SendImmediate());
        EXPECT_EQ(reads * readCost + CommandStream::SendImmediateCost(), stream.size);
        ASSERT_EQ(3 * reads, stream.replyBytes);
        ASSERT_TRUE(SendStream(stream, result)) << result.Describe();
        const auto writes = kl::testing::CallsOf("FT_Write");
        ASSERT_EQ(1u, writes.size());
        EXPECT_EQ(WrittenBytes(stream.size), writes[0].transferred);
        kl_u32 received = 0;
        ASSERT_EQ(0, JTAG_RxFTDI(3 * reads, ids, &received));
        ASSERT_EQ(3 * reads, received);
        for (uint32_t i = 0; i < reads; ++i) {
            ASSERT_EQ(Hex({expected[0], expected[1], expected[2]}),
                      Hex({ids[3 * i], ids[3 * i + 1], ids[3 * i + 2]}))
                << "read " << i;
        }
        const auto seen = Seen();
        ASSERT_EQ(reads, seen.size());
        EXPECT_EQ(0x9F, seen.back().command);
        EXPECT_EQ(4u, seen.back().bytes);
        EXPECT_EQ(0u, seen.back().extra_bits);
    }
}

// A page program that runs past the end of its page wraps to the page's start, and of more than a
// page only the last 256 bytes count: judged by reading the sector back through the exports.
TEST_F(FlashBusTest, PageProgramsWrapInsideTheirPage) {
    struct Row {
        uint32_t address;  // in the erased sector at 0x3000
        uint32_t count;    // bytes 1, 2, 3, ... (mod 256)
    };
    const Row rows[] = {{0x30F0, 32}, {0x3200, 300}, {0x3300, 256}};
    CallResult result;
    ASSERT_TRUE(FlashErase(flash_, flash_cmd::kSectorErase, 0x3000, result)) << result.Describe();
    Bytes expected(0x1000, 0xFF);
    for (const Row& row : rows) {
        Bytes data(row.count);
        for (uint32_t i = 0; i < row.count; ++i) data[i] = static_cast<uint8_t>(i + 1);
        ASSERT_TRUE(FlashProgram(flash_, row.address, data.data(), row.count, result))
            << result.Describe();
        const uint32_t page = (row.address - 0x3000) & ~0xFFu;
        for (uint32_t i = row.count > 256 ? row.count - 256 : 0; i < row.count; ++i) {
            expected[page + ((row.address + i) & 0xFF)] = data[i];
        }
    }
    Bytes read(0x1000);
    ASSERT_TRUE(FlashRead(flash_, 0x3000, read.data(), 0x1000, result)) << result.Describe();
    for (uint32_t i = 0; i < 0x1000; ++i) ASSERT_EQ(expected[i], read[i]) << "at " << 0x3000 + i;
    EXPECT_EQ(Hex({0x11, 0x12}), Hex({read[0x000], read[0x001]}));  // the first row's wrap
    EXPECT_EQ(Hex({0xFF, 0xFF}), Hex({read[0x100], read[0x1FF]}));  // nothing past its page
}

// A cable with one flash part, opened at the fastest TCK, and the tool's flash set up from what
// the part answers.
class FlashPartTest : public kl::testing::LibraryTest {
  protected:
    Flash flash_;

    void Open(const std::string& part, const std::string& keys = "") {
        const std::string scenario =
            "[[device]]\ndescription = \"ZV7300LNK\"\n[device.flash]\npart = \"" + part + "\"\n" +
            keys;
        char error[256] = "";
        EXPECT_EQ(0, vc_load_scenario_text(scenario.c_str(), error, sizeof error)) << error;
        EXPECT_EQ(0, OpenDevice(u"ZV7300LNK", u"", 0));
        FlashGeometry g;
        uint8_t id[3];
        std::optional<FlashGeometry> sfdp;
        CallResult result;
        flash_.geometry = FlashGeometry{};
        EXPECT_TRUE(ProbeFlash(flash_, id, sfdp, g, result)) << result.Describe();
        flash_.geometry = g;
    }

    static Bytes Data(uint32_t count, uint32_t seed) {
        Bytes data(count);
        for (uint32_t i = 0; i < count; ++i) data[i] = static_cast<uint8_t>((i * 7 + seed) % 251);
        return data;
    }
};

// Writes on each part, erased, among them 4-byte opcodes and 4-byte mode across the 16 MiB line:
// the pages go many to a USB write (the polled path takes nine writes a page) and the part holds
// the data, as the write's own verify and a read of the model's memory agree.
TEST_F(FlashPartTest, PipelinedWritesHoldOnEveryPart) {
    struct Row {
        const char* part;
        uint32_t address, count;
    };
    const Row rows[] = {
        {"W25Q80DV", 0x0F000, 0x12000},
        {"MX25L3233F", 0x3F0000, 0x10000},
        {"W25Q256JV", 0xFF0000, 0x20000},
        {"MX25L25635E", 0xFF8000, 0x10000},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.part);
        Open(row.part, "fill = 0xFF\n");
        const Bytes data = Data(row.count, row.address >> 12);
        CallResult result;
        WriteReport report;
        vc_clock_reset();
        ASSERT_TRUE(EnterAddressMode(flash_, result) &&
                    WriteRange(flash_, row.address, data.data(), row.count, {}, report, result) &&
                    LeaveAddressMode(flash_, result))
            << result.Describe();
        EXPECT_EQ(row.count / 256, report.pagePrograms);
        EXPECT_EQ(row.count, report.verifiedBytes);
        VcClockReading clock{};
        vc_clock_read(VC_SPEED_FULL, &clock);
        EXPECT_LT(clock.writes, report.pagePrograms);
        Bytes held(row.count);
        ASSERT_EQ(VC_OK, vc_flash_read(0, row.address, held.data(), row.count));
        EXPECT_TRUE(held == data) << "the part holds other bytes";
        CloseDevice();
    }
}

// SIGINT during a write: the write stops at its next safe point, never between the erase of a
// sector and the programs that put it back, and its marks say how far it got: the flash holds the
// new bytes before them and the old ones after.
TEST_F(FlashPartTest, AStopAskedForEndsTheWriteWithNoSectorHalfWritten) {
    struct Row {
        const char* phase;  // the progress phase whose first report at `at` or past it asks
        uint64_t at;
        uint64_t doneFrom, doneTo;  // where the stop leaves the end of what is done
    };
    constexpr uint32_t kAddress = 0x10000, kCount = 0x40000;
    const Row rows[] = {
        // Between two groups of the read: nothing touched.
        {"reading", 0, kAddress, kAddress},
        // Before the erase of a later block, its pages after the one before.
        {"writing", 0x9000, kAddress + 0x10000, kAddress + kCount - 0x10000},
        // In the read-back: all of it written.
        {"verifying", 0, kAddress + kCount, kAddress + kCount},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.phase) + " " + std::to_string(row.at));
        Open("W25Q80DV");
        Bytes before(kCount);
        ASSERT_EQ(VC_OK, vc_flash_read(0, kAddress, before.data(), kCount));
        const Bytes data = Data(kCount, 5);
        CallResult result;
        WriteReport report;
        {
            StopAtSafePoint stop;
            bool asked = false;  // a second signal would end the process at once
            const PhaseProgressFn progress = [&](const char* phase, uint64_t done, uint64_t) {
                if (asked || phase != std::string(row.phase) || done < row.at) return;
                asked = true;
                std::raise(SIGINT);
            };
            EXPECT_FALSE(
                WriteRange(flash_, kAddress, data.data(), kCount, {}, report, result, progress));
        }
        EXPECT_EQ(SIGINT, StopSignal());
        EXPECT_EQ("stopped by SIGINT at a safe point", result.Describe());
        EXPECT_EQ(report.doneEnd, report.touchedEnd) << DescribeChanges(report);
        EXPECT_GE(report.doneEnd, row.doneFrom) << DescribeChanges(report);
        EXPECT_LE(report.doneEnd, row.doneTo) << DescribeChanges(report);
        Bytes held(kCount);
        ASSERT_EQ(VC_OK, vc_flash_read(0, kAddress, held.data(), kCount));
        const size_t done = report.doneEnd - kAddress;
        EXPECT_TRUE(std::equal(held.begin(), held.begin() + done, data.begin()));
        EXPECT_TRUE(std::equal(held.begin() + done, held.end(), before.begin() + done));
        CallResult after;
        EXPECT_TRUE(KeepGoing(after)) << "a stop outlived its StopAtSafePoint";
        CloseDevice();
    }
}

// A wait shorter than the program time: pages after one still busy at its status read had their
// write enable ignored; they are programmed again on the polled path, the wait grows, and the
// part ends up holding every page.
TEST_F(FlashPartTest, AWaitTooShortRedoesThePagesAfterABusyOne) {
    Open("W25Q80DV");
    CallResult result;
    ASSERT_TRUE(FlashErase(flash_, flash_cmd::kSectorErase, 0x5000, result)) << result.Describe();
    const Bytes data = Data(4096, 3);
    PageBatch batch;
    for (uint32_t page = 0; page < 16; ++page)
        batch.Add(0x5000 + 256 * page, &data[256 * page], 256);
    PipelineState state;
    state.waitBytes = 1;  // as if measured: far below the part's 0.7 ms
    vc_flash_clear_transactions(0);
    ASSERT_TRUE(ProgramPages(flash_, batch, state, result)) << result.Describe();
    EXPECT_EQ(16u, state.streamedPages);
    EXPECT_GT(state.redonePages, 0u);
    EXPECT_GT(state.waitBytes, 1u);
    Bytes held(4096);
    ASSERT_EQ(VC_OK, vc_flash_read(0, 0x5000, held.data(), 4096));
    EXPECT_TRUE(held == data) << "the part holds other bytes";
}

}  // namespace
}  // namespace kestrel
