// The senders: Write_UART's fixed four bytes, and the two file senders, which send a file's first
// size bytes (zero-padded when the file is shorter) at once or one byte per pacing interval.
#include <cstdio>
#include <cstring>

#include "binding/d2xx.h"
#include "kestrellink.h"
#include "mpsse/commands.h"
#include "mpsse/pins.h"
#include "mpsse/stream.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "uart/transfer_resources.h"
#include "uart/uart.h"

namespace kl::uart {
namespace {

constexpr const WChar* kWriteErrorMessage =
    KL_W("E11.11 Write I/O error. Please unplug cable and re-try");

static_assert(kSendPieceBytes <= mpsse::kBufferSize);

int WriteFailed() {
    platform::ShowMessage(kWriteErrorMessage);
    return kWriteFailed;
}

void WaitPacingInterval() {
    const uint64_t start = platform::MonotonicMs();
    while (platform::MonotonicMs() - start < PacingIntervalMs()) {
    }
}

// Sends one piece from StagingBuffer, whole or one byte at a time; false after a failed write.
bool SendStagedPiece(uint32_t count, bool paced) {
    const uint8_t* staged = mpsse::StagingBuffer();
    FtStatus status = kFtOk;
    if (!paced) {
        mpsse::WriteAllBytes(count, staged, status);
        return status == kFtOk;
    }
    for (uint32_t i = 0; i < count; ++i) {
        WaitPacingInterval();
        mpsse::WriteAllBytes(1, staged + i, status);
        if (status != kFtOk) return false;
    }
    return true;
}

// The file senders: reads up to size bytes of the file into a zero-filled buffer, closes the file,
// then sends through StagingBuffer in pieces of at most its size.
int SendFile(FILE* opened, uint32_t size, bool paced) {
    TransferFile file(opened);
    if (!file) return kCannotReadFile;
    TransferBuffer buffer = AllocateTransferBuffer(size);
    if (!buffer) return kNoMemory;
    size_t ignored = fread(buffer.get(), 1, size, file.get());
    (void)ignored;  // a shorter file leaves zeros in the rest
    file.reset();
    for (uint32_t sent = 0; sent < size;) {
        uint32_t piece = size - sent < kSendPieceBytes ? size - sent : kSendPieceBytes;
        memcpy(mpsse::StagingBuffer(), buffer.get() + sent, piece);
        if (!SendStagedPiece(piece, paced)) return WriteFailed();
        sent += piece;
    }
    return kTransferOk;
}

}  // namespace
}  // namespace kl::uart

namespace kl::exports {

using namespace uart;

// The low pins at their default levels but TDI low, with the directions an open gives them, then
// loopback off.
int Write_UART() {
    using namespace mpsse;
    FtStatus status = kFtOk;
    SendImmediate({SetLowBits(kDefaultLowLevels & ~kPinTdi, kOpenLowDirections), LoopbackOff()},
                  status);
    return status == kFtOk ? kTransferOk : WriteFailed();
}

int Write_FILE_UART(const char* fileName, kl_u32 size) {
    return SendFile(platform::OpenFileNarrow(fileName, "rb"), size, false);
}

int Write_FILE_UART_2(const kl_wchar* fileName, kl_u32 size, double pacing) {
    // Any pacing but 0 (NaN included) sends one byte at a time.
    return SendFile(platform::OpenFileWide(fileName, "rb"), size, pacing != 0.0);
}

}  // namespace kl::exports
