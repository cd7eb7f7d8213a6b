// Byte transfers on the serial data lines: reads in 384-byte commands, writes in the engine's
// largest (65536-byte) commands through StagingBuffer. Chip select is the caller's business.
#include <cstring>

#include "kestrellink.h"
#include "mpsse/opcodes.h"
#include "mpsse/stream.h"

namespace kl::mpsse {
namespace {

constexpr int kSpiOk = 0;
constexpr int kSpiTransferFailed = 4;
constexpr int kSpiNoBytes = 5;

constexpr uint32_t kReadBlockBytes = 384;
constexpr uint32_t kWriteBlockBytes = kMaxBytesPerCommand;
constexpr uint32_t kReadMinPolls = 500;

void SendByteHeader(uint8_t opcode, uint32_t count, FtStatus& status) {
    SendImmediate({opcode, static_cast<uint8_t>(count - 1), static_cast<uint8_t>((count - 1) >> 8)},
                  status);
}

}  // namespace
}  // namespace kl::mpsse

namespace kl::exports {

using namespace mpsse;

// With a null buffer the commands are sent and their replies are left in the receive queue.
int SPI_ReadDI(kl_u8 opcode, kl_u32 count, kl_u8* buffer, kl_u32* received) {
    uint32_t total = 0;
    if (received) *received = 0;
    if (count == 0) return kSpiNoBytes;
    FtStatus status = kFtOk;
    for (uint32_t remaining = count; remaining > 0;) {
        const uint32_t k = remaining < kReadBlockBytes ? remaining : kReadBlockBytes;
        SendByteHeader(opcode, k, status);
        if (status != kFtOk) return kSpiTransferFailed;
        remaining -= k;
        if (!buffer) continue;
        WaitRxAtLeast(status, k, kReadMinPolls);
        if (status != kFtOk) return kSpiTransferFailed;
        // Never more than the caller asked for in all: a surplus is read and dropped.
        const uint32_t got = ReadRxBytes(binding::RxQueueBytes(), buffer, status, count - total);
        if (status != kFtOk) return kSpiTransferFailed;
        total += got;
        buffer += got;
        if (received) *received = total;
    }
    return kSpiOk;
}

int SPI_WriteDO(kl_u8 opcode, kl_u32 count, const kl_u8* data) {
    if (count == 0) return kSpiNoBytes;
    if (!data) return kSpiTransferFailed;
    FtStatus status = kFtOk;
    for (uint32_t remaining = count; remaining > 0;) {
        const uint32_t k = remaining < kWriteBlockBytes ? remaining : kWriteBlockBytes;
        SendByteHeader(opcode, k, status);
        if (status != kFtOk) return kSpiTransferFailed;
        memcpy(StagingBuffer(), data, k);
        WriteAllBytes(k, StagingBuffer(), status);
        if (status != kFtOk) return kSpiTransferFailed;
        data += k;
        remaining -= k;
    }
    return kSpiOk;
}

}  // namespace kl::exports
