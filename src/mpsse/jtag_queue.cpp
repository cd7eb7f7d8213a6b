// The queued JTAG operations and the send / collect pair that completes them.
#include "kestrellink.h"
#include "mpsse/jtag.h"
#include "mpsse/opcodes.h"
#include "mpsse/stream.h"

namespace kl::mpsse {
namespace {

constexpr uint32_t kClkBlockBytes = 60000;  // fill bytes per JTAG_Clk block
constexpr uint32_t kClkBlockHead = 6;       // divisor 5, then the byte-mode header
constexpr uint32_t kClkBlockTail = 3;       // the connection's divisor restored

uint8_t Low(uint32_t value) { return static_cast<uint8_t>(value); }
uint8_t High(uint32_t value) { return static_cast<uint8_t>(value >> 8); }

constexpr uint8_t kFillTdiHigh = 0xFF;
constexpr uint8_t kFillTdiLow = 0x00;

bool TdiHeldHigh() { return (Pins().lowValue & kHeldTdiBit) != 0; }

// One clock block at the cursor: clock at 1 MHz, fillCount bytes of fill on TDI, then the
// connection's divisor again. Null when the flush for room failed.
uint8_t* AppendClkBlock(uint8_t mode, uint8_t fill, uint32_t fillCount) {
    uint8_t* block = ClaimQueueSpace(kClkBlockHead + fillCount + kClkBlockTail);
    if (!block) return nullptr;
    const uint8_t head[kClkBlockHead] = {
        kSetDivisor,          Low(kClkRunDivisor),
        High(kClkRunDivisor), static_cast<uint8_t>(mode | kWriteTdi),
        Low(fillCount - 1),   High(fillCount - 1)};
    uint8_t* p = block;
    for (uint8_t b : head) *p++ = b;
    for (uint32_t i = 0; i < fillCount; ++i) *p++ = fill;
    *p++ = kSetDivisor;
    *p++ = Low(Pins().clockDivisor);
    *p++ = High(Pins().clockDivisor);
    return block;
}

}  // namespace

int AppendByteCommands(uint8_t opcode, const uint8_t* data, uint32_t byteCount) {
    while (byteCount > 0) {
        const uint32_t k = byteCount < kMaxBytesPerCommand ? byteCount : kMaxBytesPerCommand;
        const uint8_t header[] = {opcode, Low(k - 1), High(k - 1)};
        if (!data) {
            if (AppendCommand({header[0], header[1], header[2]}) != 0) return kJtagTransferFailed;
        } else if (StreamIntoQueue(header, sizeof header) != 0 || StreamIntoQueue(data, k) != 0) {
            return kJtagTransferFailed;
        }
        if (data) data += k;
        byteCount -= k;
    }
    return kJtagOk;
}

}  // namespace kl::mpsse

namespace kl::exports {

using namespace mpsse;

int JTAG_WriteTMS(kl_u8 count, const kl_u8* tms) {
    if (count > kMaxTmsCount || !tms) return kJtagTransferFailed;
    const uint8_t data = TdiHeldHigh() ? (*tms | kTmsHoldTdiHigh) : *tms;
    if (AppendCommand({kTmsOut, count, data}) != 0) return kJtagTransferFailed;
    const uint8_t lastTms = (*tms >> count) & 1;
    Pins().lowValue = static_cast<uint8_t>((Pins().lowValue & ~kLastTmsBit) | lastTms);
    return kJtagOk;
}

int JTAG_WriteTMS2(kl_u8 opcode, kl_u8 count, const kl_u8* data) {
    if (count > kMaxTmsCount || !data) return kJtagTransferFailed;
    return AppendCommand({opcode, count, *data}) == 0 ? kJtagOk : kJtagTransferFailed;
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
    const ShiftSplit split = SplitShift(bitCount);
    const uint8_t byteRead = static_cast<uint8_t>((mode & ~kBitMode) | kReadTdo);
    if (AppendByteCommands(byteRead, nullptr, split.wholeBytes) != 0) return kJtagTransferFailed;
    if (split.tailBits >= 2) {
        const uint8_t bitRead = static_cast<uint8_t>(mode | kReadTdo | kBitMode);
        if (AppendCommand({bitRead, static_cast<uint8_t>(split.tailBits - 2)}) != 0) {
            return kJtagTransferFailed;
        }
    }
    const uint8_t exitRead = static_cast<uint8_t>(mode | kTmsReadOption);
    return AppendCommand({exitRead, 0x00, kTmsExit}) == 0 ? kJtagOk : kJtagTransferFailed;
}

int JTAG_Send2FTDI() { return FlushCommands(QueuedBytes()); }

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
