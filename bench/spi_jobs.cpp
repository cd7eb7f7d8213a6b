// kestrel spi as reference jobs: a read of the whole 1 MiB flash and a write of 64 KiB over the
// default flash's pattern, through the tool's flash routines at the fastest TCK (divisor 0). A job
// holds only when the flash saw what it should: the read returns the bytes the flash holds in one
// READ frame of exactly their length, the write leaves the flash holding the data.
#include <vector>

#include "flash/flash_geometry.h"
#include "flash/flash_writer.h"
#include "flash/page_pipeline.h"
#include "flash/spi_ops.h"
#include "job_tables.h"
#include "kestrellink.h"
#include "reference_jobs.h"
#include "vcable.h"
#include "vcable_targets.h"
#include "wire/carrier.h"
#include "wire/read_tdo.h"

namespace bench {
namespace {

using kl::jobs::ReferenceJob;

constexpr uint32_t kReadBytes = 1u << 20;
constexpr uint32_t kWriteBytes = 64u << 10;
constexpr uint32_t kWriteAddress = 0x40000;

// A fresh default cable (1 MiB flash holding its pattern) opened at divisor 0.
bool Prepare() {
    CloseDevice();
    vc_reset();
    return LoadD2XXDLL() == 0 && OpenDevice(u"ZV7300LNK", u"", 0) == 0 &&
           vc_flash_clear_transactions(0) == VC_OK;
}

bool ReadJob() {
    static std::vector<uint8_t> read(kReadBytes);
    static std::vector<uint8_t> held(kReadBytes);
    kestrel::CallResult result;
    kestrel::Flash flash;
    if (!kestrel::FlashRead(flash, 0, read.data(), kReadBytes, result)) return false;
    vc_flash_read(0, 0, held.data(), kReadBytes);
    uint64_t frames = 0;
    vc_flash_transaction frame{};
    vc_flash_transaction_count(0, &frames);
    vc_flash_transaction_get(0, 0, &frame);
    return read == held && frames == 1 && frame.command == kestrel::flash_cmd::kRead &&
           frame.address == 0 && frame.bytes == 4 + kReadBytes && frame.extra_bits == 0;
}

bool WriteJob() {
    static std::vector<uint8_t> data(kWriteBytes);
    // No 0xFF, which a page program would not need to send.
    for (uint32_t i = 0; i < kWriteBytes; ++i)
        data[i] = static_cast<uint8_t>((i * 7 + (i >> 9)) % 255);
    kestrel::Flash flash;
    flash.geometry.size = kReadBytes;
    kestrel::WriteReport report;
    kestrel::CallResult result;
    if (!kestrel::WriteRange(flash, kWriteAddress, data.data(), kWriteBytes, {}, report, result)) {
        return false;
    }
    std::vector<uint8_t> held(kWriteBytes);
    vc_flash_read(0, kWriteAddress, held.data(), kWriteBytes);
    return held == data;
}

// Reads: the select, one send per piece (the first with the READ command), the deselect; the
// pieces (the flash's own sizes, flash.h) are collected in groups of at most kGroupReplyBytes
// reply bytes, each with one JTAG_RxFTDI that waits at least 500 polls and reads once.
struct ReadShape {
    uint64_t pieces = 0;
    uint64_t groups = 0;
    uint64_t captureBytes = 0;  // the pieces' queued JTAG_ReadTDO2 bytes
};
constexpr ReadShape ShapeOf(uint32_t count) {
    ReadShape shape;
    uint32_t groupReply = 0;
    for (uint32_t done = 0; done < count;) {
        const uint32_t piece = kestrel::ReadPieceAt(done, count);
        const uint32_t reply = kestrel::ReadTdoReplyBytes(8 * piece);
        if (groupReply + reply > kestrel::kGroupReplyBytes) groupReply = 0;
        if (groupReply == 0) ++shape.groups;
        groupReply += reply;
        shape.captureBytes += kestrel::ReadTdoQueuedBytes(8 * piece);
        ++shape.pieces;
        done += piece;
    }
    return shape;
}
// 1 MiB takes 65 pieces (47429 bytes, then 15809 each): a group of six, seven of eight and one
// of three.
constexpr ReadShape kRead = ShapeOf(kReadBytes);
static_assert(kRead.pieces == 65 && kRead.groups == 9);
constexpr uint64_t kReadGroups = kRead.groups;
constexpr uint64_t kReadWrites = 1 + kRead.pieces + 1;
// Bytes, from the queued exports' costs: a pin command for the select and the deselect (the same
// three bytes as a stream's), the command with its 3 address bytes as a queued shift, and the
// pieces as queued captures.
constexpr uint64_t kPins = kestrel::CommandStream::PinsCost();
constexpr uint64_t kAddressCommand = kestrel::wire::QueuedShiftBytes(8 * 4);
constexpr uint64_t ReadBytes(uint32_t count) {
    return 2 * kPins + kAddressCommand + ShapeOf(count).captureBytes;
}
constexpr uint64_t kReadBytesWritten = ReadBytes(kReadBytes);

// Writing 64 KiB over data: the 16 sectors are read first and after (3 pieces, one group), each
// erased on the polled path (a transaction is 3 writes: select, send, deselect; a status read
// adds 500 polls and a read; the default flash's 45 ms sector erase takes nine status reads of
// 509 bytes on the full-speed model clock). Each sector's 16 pages then go in one command stream
// (one write, one read of their status bytes), but for the job's first page, which goes alone in
// the stream that measures the program time.
constexpr uint64_t kSectors = kWriteBytes / 4096;
constexpr uint64_t kPages = kWriteBytes / 256;
constexpr uint64_t kEraseStatusReads = 9;
constexpr uint64_t kStatusReads = kSectors * kEraseStatusReads;
constexpr uint64_t kStreams = 1 + kSectors;
constexpr uint64_t kWriteWrites = 2 * (1 + 3 + 1) + kSectors * 2 * 3 + kStatusReads * 3 + kStreams;
constexpr uint64_t kWritePolls = (2 + kStatusReads + kStreams) * 500;
constexpr uint64_t kWriteReads = 2 + kStatusReads + kStreams;
// Bytes on the polled path: the two reads of the range, per status read its command and a capture
// of 509 bytes, per write enable its command, per erase its command with 3 address bytes.
constexpr uint64_t kOneByteCommand = kestrel::wire::QueuedShiftBytes(8);
constexpr uint64_t kStatusRead = 2 * kPins + kOneByteCommand + ShapeOf(509).captureBytes;
constexpr uint64_t kPolledBytes = 2 * ReadBytes(kWriteBytes) + kStatusReads * kStatusRead +
                                  kSectors * (2 * kPins + kOneByteCommand) +
                                  kSectors * (2 * kPins + kAddressCommand);
// The streams, from the pipeline's own costs: the measurement's page with as many status reads
// behind gaps of the first gap as fit (the 11th finds the part ready and sets the wait), then per
// sector one stream of its pages, each a write enable, a program of 4 + 256 bytes, the wait and
// a status read.
constexpr uint32_t kProgrammed = kestrel::kWriteEnableCost + kestrel::ProgramCost(4, 256);
constexpr uint32_t kMeasureStream = kProgrammed +
                                    kestrel::MeasureProbes(kProgrammed, kestrel::kFirstGapBytes) *
                                        kestrel::ProbeCost(kestrel::kFirstGapBytes) +
                                    kestrel::CommandStream::SendImmediateCost();
constexpr uint32_t kWait = kestrel::MeasuredWait(10, kestrel::kFirstGapBytes);
constexpr uint64_t kStreamPage = kestrel::StreamPageCost(4, 256, kWait);
constexpr uint64_t kStreamedBytes =
    kestrel::WrittenBytes(kMeasureStream) +
    kSectors * kestrel::WrittenBytes(kestrel::CommandStream::SendImmediateCost()) +
    (kPages - 1) * kStreamPage;
constexpr uint64_t kWriteBytesWritten = kPolledBytes + kStreamedBytes;

}  // namespace

std::vector<ReferenceJob> SpiJobs() {
    return {
        {"kestrel spi read of 1 MiB (divisor 0)",
         Prepare,
         ReadJob,
         {{"FT_Write", kReadWrites},
          {"FT_GetQueueStatus", kReadGroups * 500},
          {"FT_Read", kReadGroups}},
         kReadBytesWritten,
         "GPIO2_low2, one JTAG_Send2FTDI per piece of the capture (the first carries the queued "
         "READ command), Disable_AllTalk; each group of pieces' JTAG_RxFTDI polls at least "
         "500 times and reads once"},
        {"kestrel spi write of 64 KiB over data (divisor 0)",
         Prepare,
         WriteJob,
         {{"FT_Write", kWriteWrites}, {"FT_GetQueueStatus", kWritePolls}, {"FT_Read", kWriteReads}},
         kWriteBytesWritten,
         "the 16 sectors read before and verified after (3 pieces each), then per sector a write "
         "enable, an erase and nine status reads (45 ms), each a select, a send and a deselect, "
         "and one command stream with the sector's pages (the first page alone in the stream "
         "that measures the program time)"},
    };
}

}  // namespace bench
