// Byte transfers on the serial data lines: reads in 384-byte commands, writes in the engine's
// largest (65536-byte) commands through StagingBuffer. Chip select is the caller's business.
#include <cstring>

#include "kestrellink.h"
#include "mpsse/commands.h"
#include "mpsse/stream.h"

namespace kl::mpsse {
namespace {

constexpr int kSpiOk = 0;
constexpr int kSpiTransferFailed = 4;
constexpr int kSpiNoBytes = 5;

constexpr uint32_t kReadBlockBytes = 384;
constexpr uint32_t kReadMinPolls = 500;

}  // namespace
}  // namespace kl::mpsse

namespace kl::exports {

using namespace mpsse;

// Each block's command is sent, then its reply waited for and read before the next block. With
// a null buffer the commands are sent and their replies are left in the receive queue.
int SPI_ReadDI(kl_u8 opcode, kl_u32 count, kl_u8* buffer, kl_u32* received) {
    if (received) *received = 0;
    if (count == 0) return kSpiNoBytes;
    uint32_t total = 0;
    auto readBlock = [&](const Command& head, uint32_t, uint32_t block) {
        FtStatus status = kFtOk;
        SendImmediate({head}, status);
        if (status != kFtOk) return kSpiTransferFailed;
        if (!buffer) return kSpiOk;
        WaitRxAtLeast(status, block, kReadMinPolls);
        if (status != kFtOk) return kSpiTransferFailed;
        // Never more than the caller asked for in all: a surplus is read and dropped.
        const uint32_t got = ReadRxBytes(binding::RxQueueBytes(), buffer, status, count - total);
        if (status != kFtOk) return kSpiTransferFailed;
        total += got;
        buffer += got;
        if (received) *received = total;
        return kSpiOk;
    };
    return SplitByteShift(opcode, count, kReadBlockBytes, readBlock);
}

// Each block's command goes out in one write and its data, copied to StagingBuffer, in a second.
int SPI_WriteDO(kl_u8 opcode, kl_u32 count, const kl_u8* data) {
    if (count == 0) return kSpiNoBytes;
    if (!data) return kSpiTransferFailed;
    auto writeBlock = [data](const Command& head, uint32_t offset, uint32_t block) {
        FtStatus status = kFtOk;
        SendImmediate({head}, status);
        if (status != kFtOk) return kSpiTransferFailed;
        memcpy(StagingBuffer(), data + offset, block);
        WriteAllBytes(block, StagingBuffer(), status);
        return status == kFtOk ? kSpiOk : kSpiTransferFailed;
    };
    return SplitByteShift(opcode, count, kMaxBytesPerCommand, writeBlock);
}

}  // namespace kl::exports
