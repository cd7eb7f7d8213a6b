// kestrel spi as reference jobs: a read of the whole 1 MiB flash and a write of 64 KiB over the
// default flash's pattern, through the tool's flash routines at the fastest TCK (divisor 0). A job
// holds only when the flash saw what it should: the read returns the bytes the flash holds in one
// READ frame of exactly their length, the write leaves the flash holding the data.
#include <vector>

#include "flash/flash_geometry.h"
#include "flash/flash_writer.h"
#include "flash/spi_ops.h"
#include "job_tables.h"
#include "kestrellink.h"
#include "reference_jobs.h"
#include "vcable.h"
#include "vcable_targets.h"

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
    if (!kestrel::FlashRead(0, read.data(), kReadBytes, result)) return false;
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
    kestrel::FlashGeometry geometry;
    geometry.size = kReadBytes;
    kestrel::WriteReport report;
    kestrel::CallResult result;
    if (!kestrel::WriteRange(geometry, kWriteAddress, data.data(), kWriteBytes, {}, report,
                             result)) {
        return false;
    }
    std::vector<uint8_t> held(kWriteBytes);
    vc_flash_read(0, kWriteAddress, held.data(), kWriteBytes);
    return held == data;
}

// Reads: the select, one send per piece (the first with the READ command), the deselect; the
// pieces are collected in groups of at most 126480 reply bytes, each with one JTAG_RxFTDI that
// waits at least 500 polls and reads once. 1 MiB takes 65 pieces (47429 bytes, then 15809 each):
// a group of six, seven of eight and one of three.
constexpr uint64_t kReadPieces = 65;
constexpr uint64_t kReadGroups = 9;
constexpr uint64_t kReadWrites = 1 + kReadPieces + 1;
// Bytes: 3 for each pin command; the READ command as a queued shift of 3 whole bytes and 8 tail
// bits (3 + 3 + 8 x 3); per piece a byte-mode read, a 7-bit read and the TMS read (3 + 2 + 3).
constexpr uint64_t kReadBytesWritten = 3 + 30 + kReadPieces * 8 + 3;

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
// Bytes: the two reads (pin commands, the READ command, three pieces); per status read the pin
// commands, the 0x05 command (8 one-bit commands, no whole byte) and one piece; per write enable
// the pin commands and the 0x06 command; per erase the pin commands and its 4 bytes (3 + 3 + 24).
// A stream is the carrier (3), its shift's header (3), its commands and a send-immediate, and the
// tail bit (3). A page in a stream: write enable (10), program with its 4 + 256 bytes (272), the
// wait (3 + W) and the status read (13). The measurement: the first page and 200 status reads
// behind gaps of 48 bytes (64 each); the 11th finds the part ready, so W = 550 + 550 / 4 + 16.
constexpr uint64_t kOneByteShift = 8 * 3;
constexpr uint64_t kStreamFrame = 3 + 3 + 1 + 3;
constexpr uint64_t kWait = 550 + 550 / 4 + 16;
constexpr uint64_t kStreamPage = 10 + 272 + 3 + kWait + 13;
constexpr uint64_t kMeasureStream = kStreamFrame + 10 + 272 + 200 * 64;
constexpr uint64_t kWriteBytesWritten =
    2 * (6 + 30 + 3 * 8) + kStatusReads * (6 + kOneByteShift + 8) + kSectors * (6 + kOneByteShift) +
    kSectors * (6 + 30) + kMeasureStream + kSectors * kStreamFrame + (kPages - 1) * kStreamPage;

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
