#include "flash/spi_ops.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <vector>

#include "flash/flash_stop.h"
#include "kestrellink.h"
#include "wire/capture.h"
#include "wire/mpsse.h"
#include "wire/read_tdo.h"

namespace kestrel {
namespace {

// A status read clocks kStatusBytes bytes: the flash repeats its status register for as long as
// it is selected, so the last byte is the freshest, and the reply (one byte more) fills a
// high-speed USB packet, which reaches the host without waiting for the latency timer.
constexpr uint32_t kStatusBytes = 509;
// Status writes: the SFDP table gives no time for them; the longest of the datasheets' maxima is
// 100 ms.
constexpr uint64_t kStatusWriteTimeoutUs = 200000;

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

// The pieces of a read in flight: each is queued and sent (a USB write of its own) before any of
// its group is collected (flash.h); one collect takes the whole group, and nothing of a piece sent
// later can be in the receive queue by then.
constexpr uint32_t kPiecesInFlight = kGroupReplyBytes / kPacketsAtBothSpeeds;

struct Piece {
    uint8_t* in;
    uint32_t count;
    uint32_t replyOffset;
};

struct PieceGroup {
    Piece pieces[kPiecesInFlight];
    uint32_t size = 0;
};

// Queues one piece's capture (behind whatever is queued) and sends it.
bool SendPiece(wire::CaptureQueue& reads, uint8_t* in, uint32_t count, PieceGroup& group,
               CallResult& r) {
    uint32_t offset = 0;
    if (!reads.ReadTdo(wire::kModeIn, 8 * count, offset, r) ||
        !Check(JTAG_Send2FTDI(), "JTAG_Send2FTDI", r)) {
        return false;
    }
    group.pieces[group.size++] = {in, count, offset};
    return true;
}

// Collects the replies of the group's pieces and empties it.
bool CollectPieces(wire::CaptureQueue& reads, PieceGroup& group, CallResult& r) {
    const uint32_t pieces = group.size;
    group.size = 0;
    if (!reads.Collect(r)) return false;
    for (uint32_t p = 0; p < pieces; ++p) {
        const Piece& piece = group.pieces[p];
        UnpackReadTdo(reads.Reply(piece.replyOffset), 8 * piece.count, piece.in);
        for (uint32_t i = 0; i < piece.count; ++i) piece.in[i] = kReverse.bytes[piece.in[i]];
    }
    return true;
}

// The command with the flash's 4-byte form of its opcode where it has one.
uint8_t FourByteOpcode(const FlashGeometry& g, uint8_t command) {
    if (command == flash_cmd::kRead) return flash_cmd::kRead4;
    if (command == flash_cmd::kPageProgram) return flash_cmd::kPageProgram4;
    if (command == g.eraseOpcode) return g.eraseOpcode4;
    if (command == g.blockOpcode) return g.blockOpcode4;
    return command;
}

// The command byte and its address: three bytes, or four past 16 MiB.
std::vector<uint8_t> AddressCommand(const Flash& flash, uint8_t command, uint32_t address) {
    uint8_t bytes[kMaxAddressCommand];
    const uint32_t length = PutAddressCommand(flash, command, address, bytes);
    return {bytes, bytes + length};
}

bool WriteEnable(Flash& flash, CallResult& r) {
    const uint8_t command = flash_cmd::kWriteEnable;
    return FlashTransfer(flash, &command, 1, nullptr, 0, r);
}

}  // namespace

bool WaitReady(Flash& flash, uint64_t timeoutUs, const char* operation, CallResult& r) {
    const uint8_t command = flash_cmd::kReadStatus;
    const auto start = std::chrono::steady_clock::now();
    uint8_t status[kStatusBytes];
    for (;;) {
        if (!FlashTransfer(flash, &command, 1, status, kStatusBytes, r)) return false;
        if (!(status[kStatusBytes - 1] & kStatusBusy)) return true;
        const auto waited = std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now() - start);
        if (static_cast<uint64_t>(waited.count()) > timeoutUs) {
            char text[160];
            std::snprintf(
                text, sizeof text,
                "the flash stayed busy after %s for more than %.1f ms, the longest %s", operation,
                static_cast<double>(timeoutUs) / 1000,
                flash.geometry.timesFromSfdp ? "its SFDP table allows" : "any part is allowed");
            return Reject(text, r);
        }
    }
}

uint32_t PutAddressCommand(const Flash& flash, uint8_t command, uint32_t address,
                           uint8_t out[kMaxAddressCommand]) {
    const Addressing addressing = flash.geometry.addressing;
    uint32_t n = 0;
    if (addressing == Addressing::kFourByteOpcodes)
        command = FourByteOpcode(flash.geometry, command);
    out[n++] = command;
    if (addressing != Addressing::kThreeByte) out[n++] = static_cast<uint8_t>(address >> 24);
    out[n++] = static_cast<uint8_t>(address >> 16);
    out[n++] = static_cast<uint8_t>(address >> 8);
    out[n++] = static_cast<uint8_t>(address);
    return n;
}

bool EnterAddressMode(Flash& flash, CallResult& result) {
    if (flash.geometry.addressing != Addressing::kFourByteMode) return true;
    const uint8_t command = flash_cmd::kEnter4ByteMode;
    return FlashTransfer(flash, &command, 1, nullptr, 0, result);
}

bool LeaveAddressMode(Flash& flash, CallResult& result) {
    if (flash.geometry.addressing != Addressing::kFourByteMode) return true;
    const uint8_t command = flash_cmd::kExit4ByteMode;
    return FlashTransfer(flash, &command, 1, nullptr, 0, result);
}

bool FlashReadRegister(Flash& flash, uint8_t command, uint8_t& value, CallResult& result) {
    return FlashTransfer(flash, &command, 1, &value, 1, result);
}

bool FlashWriteStatus(Flash& flash, const uint8_t* bytes, uint32_t count, CallResult& result) {
    std::vector<uint8_t> command = {flash_cmd::kWriteStatus};
    command.insert(command.end(), bytes, bytes + count);
    return WriteEnable(flash, result) &&
           FlashTransfer(flash, command.data(), static_cast<uint32_t>(command.size()), nullptr, 0,
                         result) &&
           WaitReady(flash, kStatusWriteTimeoutUs, "a status write", result);
}

bool FlashTransfer(Flash& flash, const uint8_t* out, uint32_t outCount, uint8_t* in,
                   uint32_t inCount, CallResult& result, const ProgressFn& progress) {
    if (!Select(result)) return false;
    bool ok = QueueOut(out, outCount, result);
    PieceGroup group;
    for (uint32_t done = 0; ok && done < inCount;) {
        const uint32_t piece = ReadPieceAt(done, inCount);
        ok = SendPiece(flash.reads, in + done, piece, group, result);
        done += piece;
        // The group is collected when the read is done or the next piece's replies would not fit.
        const bool last = done == inCount;
        if (ok &&
            (last || flash.reads.Overflows(ReadTdoReplyBytes(8 * ReadPieceAt(done, inCount))))) {
            ok = CollectPieces(flash.reads, group, result);
            if (ok && progress) progress(done);
            // Between two groups nothing is in flight: a stop asked for ends the read here.
            if (ok && !last) ok = KeepGoing(result);
        }
    }
    if (ok && inCount == 0) ok = Check(JTAG_Send2FTDI(), "JTAG_Send2FTDI", result);
    return Deselect(result) && ok;
}

bool FlashJedecId(Flash& flash, uint8_t id[3], CallResult& result) {
    const uint8_t command = flash_cmd::kReadJedecId;
    return FlashTransfer(flash, &command, 1, id, 3, result);
}

bool FlashReadSfdp(Flash& flash, uint32_t address, uint8_t* out, uint32_t count,
                   CallResult& result) {
    // The SFDP space takes 3-byte addresses and a dummy byte in every mode.
    const uint8_t command[5] = {flash_cmd::kReadSfdp, static_cast<uint8_t>(address >> 16),
                                static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address),
                                0x00};
    return FlashTransfer(flash, command, sizeof command, out, count, result);
}

bool FlashRead(Flash& flash, uint32_t address, uint8_t* out, uint32_t count, CallResult& result,
               const ProgressFn& progress) {
    const auto command = AddressCommand(flash, flash_cmd::kRead, address);
    return FlashTransfer(flash, command.data(), static_cast<uint32_t>(command.size()), out, count,
                         result, progress);
}

bool FlashErase(Flash& flash, uint8_t opcode, uint32_t address, CallResult& result) {
    const FlashGeometry& g = flash.geometry;
    const auto command = AddressCommand(flash, opcode, address);
    const bool block = opcode == g.blockOpcode && opcode != g.eraseOpcode;
    return WriteEnable(flash, result) &&
           FlashTransfer(flash, command.data(), static_cast<uint32_t>(command.size()), nullptr, 0,
                         result) &&
           WaitReady(flash, block ? g.timeouts.block : g.timeouts.sector,
                     block ? "a block erase" : "a sector erase", result);
}

bool FlashChipErase(Flash& flash, CallResult& result) {
    const uint8_t command = flash_cmd::kChipErase;
    return WriteEnable(flash, result) && FlashTransfer(flash, &command, 1, nullptr, 0, result) &&
           WaitReady(flash, flash.geometry.timeouts.chip, "a chip erase", result);
}

bool FlashProgram(Flash& flash, uint32_t address, const uint8_t* data, uint32_t count,
                  CallResult& result) {
    std::vector<uint8_t> command = AddressCommand(flash, flash_cmd::kPageProgram, address);
    command.insert(command.end(), data, data + count);
    return WriteEnable(flash, result) &&
           FlashTransfer(flash, command.data(), static_cast<uint32_t>(command.size()), nullptr, 0,
                         result) &&
           WaitReady(flash, flash.geometry.timeouts.program, "a page program", result);
}

}  // namespace kestrel
