// JTAG_WriteTDI and JTAG_WriteTDI2: one shift procedure, queued or capturing, parameterised by
// the four points where the two exports differ.
#include "kestrellink.h"
#include "mpsse/commands.h"
#include "mpsse/jtag.h"
#include "mpsse/opcodes.h"
#include "mpsse/stream.h"

namespace kl::mpsse {
namespace {

// Where JTAG_WriteTDI and JTAG_WriteTDI2 differ.
struct ShiftVariant {
    bool flushBeforeCapture;  // always flush before the capturing form (else the 60000 rule only)
    bool exitOpcodeFromMode;  // last bit's TMS opcode from the caller's mode, not kTmsOut(ReadTdo)
    uint32_t minPolls;        // of the reply waits
};
constexpr ShiftVariant kWriteTdiVariant{true, false, kPortReadMinPolls};
constexpr ShiftVariant kWriteTdi2Variant{false, true, kRxMinPolls};

constexpr uint32_t kMaxCaptureBytes = 65535;  // whole bytes of one capturing shift
constexpr uint32_t kTailReplyCapacity = 8;    // one reply byte per tail bit
constexpr uint8_t kCapturedBit = 0x80;        // where the engine puts a one-bit capture

// Writes bitsRead where the caller gave somewhere to write it.
struct BitsRead {
    kl_u32* out;
    uint32_t count = 0;
    void Add(uint32_t bits) {
        count += bits;
        if (out) *out = count;
    }
};

uint8_t TailBit(const uint8_t* tdi, const ShiftSplit& split, uint32_t index) {
    return (tdi[split.wholeBytes] >> index) & 1;
}

bool IsExitBit(const ShiftSplit& split, uint32_t index, bool lastWithTms) {
    return lastWithTms && index + 1 == split.tailBits;
}

// The command of one tail bit: the exit bit as one TMS bit of 1 with TDI held at the bit's level,
// every other bit as a one-bit shift.
Command TailCommand(uint8_t bitOpcode, uint8_t exitOpcode, uint8_t bit, bool exit) {
    if (exit) return ClockTms(exitOpcode, 1, kTmsExit, bit != 0);
    return ShiftBits(bitOpcode, 1, bit ? kTailBitOne : kTailBitZero);
}

int QueueShift(const ShiftVariant& variant, uint8_t mode, const uint8_t* tdi,
               const ShiftSplit& split, bool lastWithTms) {
    const QueuedOperation operation;
    const uint8_t byteOut = ByteShiftOpcode(mode, kWriteTdi);
    if (QueueByteShift(byteOut, tdi, split.wholeBytes) != 0) return kJtagTransferFailed;
    const uint8_t bitOut = BitShiftOpcode(mode, kWriteTdi);
    const uint8_t exitOut = variant.exitOpcodeFromMode ? mode | kTmsOption : kTmsOut;
    for (uint32_t i = 0; i < split.tailBits; ++i) {
        const uint8_t bit = TailBit(tdi, split, i);
        const bool exit = IsExitBit(split, i, lastWithTms);
        if (AppendCommand(TailCommand(bitOut, exitOut, bit, exit)) != 0) {
            return kJtagTransferFailed;
        }
        if (exit) {
            // TDI now rests at the last bit's level and TMS at 1.
            Pins().lowValue = static_cast<uint8_t>((Pins().lowValue & ~kHeldTdiBit) |
                                                   (bit ? kHeldTdiBit : 0) | kLastTmsBit);
        }
    }
    return kJtagOk;
}

int CaptureShift(const ShiftVariant& variant, uint8_t mode, const uint8_t* tdi, uint8_t* tdo,
                 const ShiftSplit& split, bool lastWithTms, BitsRead& bitsRead) {
    if (split.wholeBytes > kMaxCaptureBytes) return kJtagTransferFailed;
    FtStatus status = kFtOk;
    if (split.wholeBytes > 0) {
        const uint32_t w = split.wholeBytes;
        SendImmediate({ShiftBytes(ByteShiftOpcode(mode, kWriteTdi | kReadTdo), w)}, status);
        if (status != kFtOk) return kJtagTransferFailed;
        WriteAllBytes(w, tdi, status);  // straight from the caller's array
        if (status != kFtOk) return kJtagTransferFailed;
        WaitRxAtLeast(status, w, variant.minPolls);
        if (status != kFtOk) return kJtagTransferFailed;
        const uint32_t got = ReadRxBytes(binding::RxQueueBytes(), tdo, status, w);
        if (status != kFtOk) return kJtagTransferFailed;
        bitsRead.Add(8 * got);
        tdo += got;
    }

    CommandList tail;
    const uint8_t bitInOut = BitShiftOpcode(mode, kWriteTdi | kReadTdo);
    const uint8_t exitInOut = variant.exitOpcodeFromMode ? mode | kTmsReadOption : kTmsOutReadTdo;
    for (uint32_t i = 0; i < split.tailBits; ++i) {
        tail.Add(TailCommand(bitInOut, exitInOut, TailBit(tdi, split, i),
                             IsExitBit(split, i, lastWithTms)));
    }
    SendImmediate(tail, status);
    if (status != kFtOk) return kJtagTransferFailed;

    uint8_t replies[kTailReplyCapacity];
    WaitRxAtLeast(status, split.tailBits, variant.minPolls);
    if (status != kFtOk) return kJtagTransferFailed;
    const uint32_t k = ReadRxBytes(binding::RxQueueBytes(), replies, status, kTailReplyCapacity);
    if (status != kFtOk) return kJtagTransferFailed;

    // Each reply carries its captured bit in bit 7; shifting them in from the top leaves the
    // first captured bit lowest once the byte is right-aligned.
    unsigned acc = 0;
    for (uint32_t i = 0; i < k; ++i) acc = (replies[i] & kCapturedBit) | (acc >> 1);
    *tdo = static_cast<uint8_t>(acc >> (8 - k));
    bitsRead.Add(k);

    uint8_t port = 0;
    if (ReadLowPort(port) == kJtagOk) Pins().lowValue = port;
    return kJtagOk;
}

int WriteTdi(const ShiftVariant& variant, uint8_t mode, uint32_t bitCount, const uint8_t* tdi,
             uint8_t* tdo, kl_u32* bitsReadOut, uint32_t lastWithTms) {
    if (bitCount == 0) return kJtagNoBits;
    if (!tdi) return kJtagTransferFailed;
    const bool flushFirst = tdo && variant.flushBeforeCapture;
    if (flushFirst ? FlushCommands(QueuedBytes()) != 0 : FlushIfOver(bitCount / 8) != 0) {
        return kJtagTransferFailed;
    }
    BitsRead bitsRead{bitsReadOut};
    bitsRead.Add(0);
    const ShiftSplit split = SplitShift(bitCount);
    if (!tdo) return QueueShift(variant, mode, tdi, split, lastWithTms != 0);
    return CaptureShift(variant, mode, tdi, tdo, split, lastWithTms != 0, bitsRead);
}

}  // namespace
}  // namespace kl::mpsse

namespace kl::exports {

int JTAG_WriteTDI(kl_u8 mode, kl_u32 bitCount, const kl_u8* tdi, kl_u8* tdo, kl_u32* bitsRead,
                  kl_u32 lastWithTms) {
    return mpsse::WriteTdi(mpsse::kWriteTdiVariant, mode, bitCount, tdi, tdo, bitsRead,
                           lastWithTms);
}

int JTAG_WriteTDI2(kl_u8 mode, kl_u32 bitCount, const kl_u8* tdi, kl_u8* tdo, kl_u32* bitsRead,
                   kl_u32 lastWithTms) {
    return mpsse::WriteTdi(mpsse::kWriteTdi2Variant, mode, bitCount, tdi, tdo, bitsRead,
                           lastWithTms);
}

}  // namespace kl::exports
