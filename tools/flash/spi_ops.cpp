#include "flash/spi_ops.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <vector>

#include "flash/flash_stop.h"
#include "kestrellink.h"
#include "wire/collect.h"
#include "wire/mpsse.h"
#include "wire/read_tdo.h"

namespace kestrel {
namespace {

// Bytes per JTAG_ReadTDO2 of a long read. Its replies, one byte more than it reads, fill whole USB
// packets at either speed (62 payload bytes at full speed, 510 at high speed: multiples of 15810
// bytes), so only a read's last piece waits for the latency timer. The first piece shares the
// queue with the command bytes (a few dozen at most) and stays under the library's queue
// threshold, so that both go in one write.
constexpr uint32_t kPacketsAtBothSpeeds = 15810;
constexpr uint32_t kReadPiece = kPacketsAtBothSpeeds - 1;
constexpr uint32_t kFirstReadPiece = 3 * kPacketsAtBothSpeeds - 1;
constexpr uint32_t kCommandBytesBeforeRead = 64;
static_assert(kFirstReadPiece + kCommandBytesBeforeRead <= wire::kQueueThreshold);

// A status read clocks kStatusBytes bytes: the flash repeats its status register for as long as
// it is selected, so the last byte is the freshest, and the reply (one byte more) fills a
// high-speed USB packet, which reaches the host without waiting for the latency timer.
constexpr uint32_t kStatusBytes = 509;
// Status writes: the SFDP table gives no time for them; the longest of the datasheets' maxima is
// 100 ms.
constexpr uint64_t kStatusWriteTimeoutUs = 200000;

// The flash the operations address (UseFlash).
FlashGeometry& InUse() {
    static FlashGeometry geometry;
    return geometry;
}

// The shifts' modes (wire::kModeOut, wire::kModeIn) move the least significant bit first, out on
// the falling edge and in on the rising edge; the flash takes the most significant bit first, so
// each byte goes out bit-reversed and is reversed again on arrival.
struct ReverseTable {
    std::array<uint8_t, 256> bytes{};
    constexpr ReverseTable() {
        for (int v = 0; v < 256; ++v) {
            int r = 0;
            for (int bit = 0; bit < 8; ++bit) r |= ((v >> bit) & 1) << (7 - bit);
            bytes[v] = static_cast<uint8_t>(r);
        }
    }
};
constexpr ReverseTable kReverse;

bool Select(CallResult& r) { return Check(GPIO2_low2(), "GPIO2_low2", r); }
bool Deselect(CallResult& r) { return Check(Disable_AllTalk(), "Disable_AllTalk", r); }

// Queues the bytes out, most significant bit first as the flash takes them.
bool QueueOut(const uint8_t* out, uint32_t count, CallResult& r) {
    if (count == 0) return true;
    std::vector<uint8_t> reversed(count);
    for (uint32_t i = 0; i < count; ++i) reversed[i] = kReverse.bytes[out[i]];
    kl_u32 bits = 0;
    return Check(JTAG_WriteTDI(wire::kModeOut, 8 * count, reversed.data(), nullptr, &bits, 0),
                 "JTAG_WriteTDI", r);
}

// A read's pieces travel in groups: each piece is queued and sent (a USB write of its own) before
// any of the group is collected, so the replies of one come back while the next is clocked.
// JTAG_RxFTDI waits for the count it is given and takes everything that has arrived, so one call
// collects the whole group and nothing of a piece sent later can be in the queue by then. Only the
// last piece of a group waits for its replies alone, so the pieces are short and a group many of
// them; its replies (at most 126480 bytes, two of the 64 KiB a capturing shift may bring back)
// stay well inside what the vendor driver buffers while the host has not read them.
constexpr uint32_t kGroupReplyBytes = 8 * kPacketsAtBothSpeeds;
constexpr uint32_t kPiecesInFlight = kGroupReplyBytes / kPacketsAtBothSpeeds;
static_assert(kFirstReadPiece + 1 <= kGroupReplyBytes);

struct Piece {
    uint8_t* in;
    uint32_t count;
    uint32_t replyOffset;
};

struct PieceGroup {
    Piece pieces[kPiecesInFlight];
    uint32_t size = 0;
    uint32_t replyBytes = 0;
};

// Queues one piece's capture (behind whatever is queued) and sends it.
bool SendPiece(uint8_t* in, uint32_t count, PieceGroup& group, CallResult& r) {
    if (!Check(JTAG_ReadTDO2(wire::kModeIn, 8 * count), "JTAG_ReadTDO2", r) ||
        !Check(JTAG_Send2FTDI(), "JTAG_Send2FTDI", r)) {
        return false;
    }
    group.pieces[group.size++] = {in, count, group.replyBytes};
    group.replyBytes += ReadTdoReplyBytes(8 * count);
    return true;
}

// Whether the group is collected before a piece of `next` bytes (0: the read is done) is sent.
bool CollectBefore(const PieceGroup& group, uint32_t next) {
    return next == 0 || group.replyBytes + ReadTdoReplyBytes(8 * next) > kGroupReplyBytes;
}

// Collects the replies of the group's pieces and empties it.
bool CollectPieces(PieceGroup& group, CallResult& r) {
    static std::vector<uint8_t> reply(kGroupReplyBytes);
    const uint32_t expected = group.replyBytes;
    const uint32_t pieces = group.size;
    group.size = 0;
    group.replyBytes = 0;
    if (!wire::CollectReplies(expected, reply.data(), r)) return false;
    for (uint32_t p = 0; p < pieces; ++p) {
        const Piece& piece = group.pieces[p];
        UnpackReadTdo(&reply[piece.replyOffset], 8 * piece.count, piece.in);
        for (uint32_t i = 0; i < piece.count; ++i) piece.in[i] = kReverse.bytes[piece.in[i]];
    }
    return true;
}

// The command with the flash's 4-byte form of its opcode where it has one.
uint8_t FourByteOpcode(uint8_t command) {
    const FlashGeometry& g = InUse();
    if (command == flash_cmd::kRead) return flash_cmd::kRead4;
    if (command == flash_cmd::kPageProgram) return flash_cmd::kPageProgram4;
    if (command == g.eraseOpcode) return g.eraseOpcode4;
    if (command == g.blockOpcode) return g.blockOpcode4;
    return command;
}

// The command byte and its address: three bytes, or four past 16 MiB.
std::vector<uint8_t> AddressCommand(uint8_t command, uint32_t address) {
    uint8_t bytes[kMaxAddressCommand];
    const uint32_t length = PutAddressCommand(command, address, bytes);
    return {bytes, bytes + length};
}

bool WriteEnable(CallResult& r) {
    const uint8_t command = flash_cmd::kWriteEnable;
    return FlashTransfer(&command, 1, nullptr, 0, r);
}

}  // namespace

bool WaitReady(uint64_t timeoutUs, const char* operation, CallResult& r) {
    const uint8_t command = flash_cmd::kReadStatus;
    const auto start = std::chrono::steady_clock::now();
    uint8_t status[kStatusBytes];
    for (;;) {
        if (!FlashTransfer(&command, 1, status, kStatusBytes, r)) return false;
        if (!(status[kStatusBytes - 1] & kStatusBusy)) return true;
        const auto waited = std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now() - start);
        if (static_cast<uint64_t>(waited.count()) > timeoutUs) {
            char text[160];
            std::snprintf(text, sizeof text,
                          "the flash stayed busy after %s for more than %.1f ms, the longest %s",
                          operation, static_cast<double>(timeoutUs) / 1000,
                          InUse().timesFromSfdp ? "its SFDP table allows" : "any part is allowed");
            return Reject(text, r);
        }
    }
}

const FlashGeometry& FlashInUse() { return InUse(); }

uint32_t PutAddressCommand(uint8_t command, uint32_t address, uint8_t out[kMaxAddressCommand]) {
    const Addressing addressing = InUse().addressing;
    uint32_t n = 0;
    if (addressing == Addressing::kFourByteOpcodes) command = FourByteOpcode(command);
    out[n++] = command;
    if (addressing != Addressing::kThreeByte) out[n++] = static_cast<uint8_t>(address >> 24);
    out[n++] = static_cast<uint8_t>(address >> 16);
    out[n++] = static_cast<uint8_t>(address >> 8);
    out[n++] = static_cast<uint8_t>(address);
    return n;
}

void UseFlash(const FlashGeometry& geometry) { InUse() = geometry; }

bool EnterAddressMode(CallResult& result) {
    if (InUse().addressing != Addressing::kFourByteMode) return true;
    const uint8_t command = flash_cmd::kEnter4ByteMode;
    return FlashTransfer(&command, 1, nullptr, 0, result);
}

bool LeaveAddressMode(CallResult& result) {
    if (InUse().addressing != Addressing::kFourByteMode) return true;
    const uint8_t command = flash_cmd::kExit4ByteMode;
    return FlashTransfer(&command, 1, nullptr, 0, result);
}

bool FlashReadRegister(uint8_t command, uint8_t& value, CallResult& result) {
    return FlashTransfer(&command, 1, &value, 1, result);
}

bool FlashWriteStatus(const uint8_t* bytes, uint32_t count, CallResult& result) {
    std::vector<uint8_t> command = {flash_cmd::kWriteStatus};
    command.insert(command.end(), bytes, bytes + count);
    return WriteEnable(result) &&
           FlashTransfer(command.data(), static_cast<uint32_t>(command.size()), nullptr, 0,
                         result) &&
           WaitReady(kStatusWriteTimeoutUs, "a status write", result);
}

bool FlashTransfer(const uint8_t* out, uint32_t outCount, uint8_t* in, uint32_t inCount,
                   CallResult& result, const ProgressFn& progress) {
    if (!Select(result)) return false;
    bool ok = QueueOut(out, outCount, result);
    PieceGroup group;
    for (uint32_t done = 0; ok && done < inCount;) {
        const uint32_t piece = std::min(done == 0 ? kFirstReadPiece : kReadPiece, inCount - done);
        ok = SendPiece(in + done, piece, group, result);
        done += piece;
        if (ok && CollectBefore(group, std::min(kReadPiece, inCount - done))) {
            ok = CollectPieces(group, result);
            if (ok && progress) progress(done);
            // Between two groups nothing is in flight: a stop asked for ends the read here.
            if (ok && done < inCount) ok = KeepGoing(result);
        }
    }
    if (ok && inCount == 0) ok = Check(JTAG_Send2FTDI(), "JTAG_Send2FTDI", result);
    return Deselect(result) && ok;
}

bool FlashJedecId(uint8_t id[3], CallResult& result) {
    const uint8_t command = flash_cmd::kReadJedecId;
    return FlashTransfer(&command, 1, id, 3, result);
}

bool FlashReadSfdp(uint32_t address, uint8_t* out, uint32_t count, CallResult& result) {
    // The SFDP space takes 3-byte addresses and a dummy byte in every mode.
    const uint8_t command[5] = {flash_cmd::kReadSfdp, static_cast<uint8_t>(address >> 16),
                                static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address),
                                0x00};
    return FlashTransfer(command, sizeof command, out, count, result);
}

bool FlashRead(uint32_t address, uint8_t* out, uint32_t count, CallResult& result,
               const ProgressFn& progress) {
    const auto command = AddressCommand(flash_cmd::kRead, address);
    return FlashTransfer(command.data(), static_cast<uint32_t>(command.size()), out, count, result,
                         progress);
}

bool FlashErase(uint8_t opcode, uint32_t address, CallResult& result) {
    const auto command = AddressCommand(opcode, address);
    const bool block = opcode == InUse().blockOpcode && opcode != InUse().eraseOpcode;
    return WriteEnable(result) &&
           FlashTransfer(command.data(), static_cast<uint32_t>(command.size()), nullptr, 0,
                         result) &&
           WaitReady(block ? InUse().timeouts.block : InUse().timeouts.sector,
                     block ? "a block erase" : "a sector erase", result);
}

bool FlashChipErase(CallResult& result) {
    const uint8_t command = flash_cmd::kChipErase;
    return WriteEnable(result) && FlashTransfer(&command, 1, nullptr, 0, result) &&
           WaitReady(InUse().timeouts.chip, "a chip erase", result);
}

bool FlashProgram(uint32_t address, const uint8_t* data, uint32_t count, CallResult& result) {
    std::vector<uint8_t> command = AddressCommand(flash_cmd::kPageProgram, address);
    command.insert(command.end(), data, data + count);
    return WriteEnable(result) &&
           FlashTransfer(command.data(), static_cast<uint32_t>(command.size()), nullptr, 0,
                         result) &&
           WaitReady(InUse().timeouts.program, "a page program", result);
}

}  // namespace kestrel
