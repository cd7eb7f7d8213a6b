// The queued JTAG operations and the send / collect pair that completes them.
#include <cstring>

#include "kestrellink.h"
#include "mpsse/commands.h"
#include "mpsse/jtag.h"
#include "mpsse/opcodes.h"
#include "mpsse/stream.h"

namespace kl::mpsse {
namespace {

constexpr uint32_t kClkBlockBytes = 60000;  // fill bytes per JTAG_Clk block
constexpr uint32_t kClkRunDivisor = 5;      // JTAG_Clk clocks at 1 MHz
// A block: the run's divisor and the fill's byte-shift head, the fill, the connection's divisor.
constexpr uint32_t kClkBlockHead = SetDivisor(0).size + ShiftBytes(0, 1).size;

constexpr uint8_t kFillTdiHigh = 0xFF;
constexpr uint8_t kFillTdiLow = 0x00;

bool TdiHeldHigh() { return (Pins().lowValue & kHeldTdiBit) != 0; }

// One clock block at the cursor: clock at 1 MHz, fillCount bytes of fill on TDI, then the
// connection's divisor again. Null when the flush for room failed.
uint8_t* AppendClkBlock(uint8_t mode, uint8_t fill, uint32_t fillCount) {
    const Command run = SetDivisor(kClkRunDivisor);
    const Command shift = ShiftBytes(static_cast<uint8_t>(mode | kWriteTdi), fillCount);
    const Command restore = SetDivisor(Pins().clockDivisor);
    uint8_t* block = ClaimQueueSpace(run.size + shift.size + fillCount + restore.size);
    if (!block) return nullptr;
    uint8_t* at = PutCommand(PutCommand(block, run), shift);
    memset(at, fill, fillCount);
    PutCommand(at + fillCount, restore);
    return block;
}

}  // namespace

int QueueByteShift(uint8_t opcode, const uint8_t* data, uint32_t byteCount) {
    // The data streams through the queue, so a long shift costs one write per full buffer.
    auto queuePiece = [data](const Command& head, uint32_t offset, uint32_t piece) {
        return data ? StreamCommand(head, data + offset, piece) : AppendCommand(head);
    };
    const int result = SplitByteShift(opcode, byteCount, kMaxBytesPerCommand, queuePiece);
    return result == 0 ? kJtagOk : kJtagTransferFailed;
}

}  // namespace kl::mpsse

namespace kl::exports {

using namespace mpsse;

int JTAG_WriteTMS(kl_u8 count, const kl_u8* tms) {
    if (count > kMaxTmsCount || !tms) return kJtagTransferFailed;
    if (AppendCommand(ClockTms(kTmsOut, count + 1u, *tms, TdiHeldHigh())) != 0) {
        return kJtagTransferFailed;
    }
    const uint8_t lastTms = (*tms >> count) & 1;
    Pins().lowValue = static_cast<uint8_t>((Pins().lowValue & ~kLastTmsBit) | lastTms);
    return kJtagOk;
}

int JTAG_WriteTMS2(kl_u8 opcode, kl_u8 count, const kl_u8* data) {
    if (count > kMaxTmsCount || !data) return kJtagTransferFailed;
    const Command command = ClockTms(opcode, count + 1u, *data, false);
    return AppendCommand(command) == 0 ? kJtagOk : kJtagTransferFailed;
}

int JTAG_Clk(kl_u8 mode, int bitCount) {
    const uint8_t fill = TdiHeldHigh() ? kFillTdiHigh : kFillTdiLow;
    uint32_t fillBytes = static_cast<uint32_t>(bitCount < 0 ? 0 : bitCount) / 8 + 1;
    if (QueuedBytes() + fillBytes > kQueueThreshold) {
        if (FlushCommands(QueuedBytes()) != 0) return kJtagTransferFailed;
        // Full blocks go out at once, without their divisor-restoring tail: the next block sets
        // divisor 5 again, and the last block, still queued, restores the connection's divisor.
        while (fillBytes > kClkBlockBytes) {
            if (!AppendClkBlock(mode, fill, kClkBlockBytes)) return kJtagTransferFailed;
            if (FlushCommands(kClkBlockHead + kClkBlockBytes) != 0) return kJtagTransferFailed;
            fillBytes -= kClkBlockBytes;
        }
    }
    return AppendClkBlock(mode, fill, fillBytes) ? kJtagOk : kJtagTransferFailed;
}

int JTAG_ReadTDO2(kl_u8 mode, kl_u32 bitCount) {
    if (bitCount == 0) return kJtagNoBits;
    if (FlushIfOver(bitCount / 8) != 0) return kJtagTransferFailed;
    const QueuedOperation operation;
    const ShiftSplit split = SplitShift(bitCount);
    const uint8_t byteRead = ByteShiftOpcode(mode, kReadTdo);
    if (QueueByteShift(byteRead, nullptr, split.wholeBytes) != 0) return kJtagTransferFailed;
    // The tail but its last bit in one bit-mode read, the last bit with TMS 1 to leave the state.
    if (split.tailBits >= 2) {
        const Command bitRead = ReadBits(BitShiftOpcode(mode, kReadTdo), split.tailBits - 1);
        if (AppendCommand(bitRead) != 0) return kJtagTransferFailed;
    }
    const Command exitRead = ClockTms(mode | kTmsReadOption, 1, kTmsExit, false);
    return AppendCommand(exitRead) == 0 ? kJtagOk : kJtagTransferFailed;
}

int JTAG_Send2FTDI() { return SendQueue(); }

int JTAG_RxFTDI(kl_u32 count, kl_u8* buffer, kl_u32* received) {
    if (!buffer) return kJtagTransferFailed;
    FtStatus status = kFtOk;
    WaitRxAtLeast(status, count, kRxMinPolls);
    if (status != kFtOk) return kJtagTransferFailed;
    // The caller's buffer holds the count it expects: replies beyond it are read and dropped.
    const uint32_t got = ReadRxBytes(binding::RxQueueBytes(), buffer, status, count);
    const bool failed = status != kFtOk;
    if (received) *received = failed ? 0 : got;
    return failed ? kJtagTransferFailed : kJtagOk;
}

}  // namespace kl::exports
