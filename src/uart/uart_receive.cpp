// The receivers: Read_UART, which discards what arrives, and the two file receivers, which wait
// for a given number of bytes and store them in a raw binary file.
#include <cmath>
#include <cstdio>

#include "binding/d2xx.h"
#include "kestrellink.h"
#include "mpsse/stream.h"
#include "platform/platform.h"
#include "uart/transfer_resources.h"
#include "uart/uart.h"

namespace kl::uart {
namespace {

// Polls without pause until something is waiting; the poll status is not examined. Gives up
// after the stream's no-progress limit with nothing received.
bool WaitForAnyByte() {
    const uint64_t start = platform::MonotonicMs();
    for (;;) {
        FtStatus ignored = kFtOk;
        binding::PollRxQueue(ignored);
        if (binding::RxQueueBytes() != 0) return true;
        if (platform::MonotonicMs() - start >= mpsse::NoProgressLimitMs()) return false;
    }
}

// The file receivers' polls, which also watch for a cable that is gone: once every poll has
// failed for the stream's no-progress limit, the receiver stops waiting however long its own
// time-out is (a large one would otherwise spin for ever).
class ReceivePolls {
  public:
    void Poll() {
        FtStatus status = kFtOk;
        binding::PollRxQueue(status);
        const uint64_t now = platform::MonotonicMs();
        if (status == kFtOk || !failing_) failingSince_ = now;
        failing_ = status != kFtOk;
    }
    bool CableGone() const {
        return failing_ && platform::MonotonicMs() - failingSince_ >= mpsse::NoProgressLimitMs();
    }

  private:
    bool failing_ = false;
    uint64_t failingSince_ = 0;
};

// Read_FILE_UART: waits until the queue holds exactly size bytes, polling at most
// ReadFilePassLimit() - 1 times.
bool WaitForExactCount(uint32_t size) {
    ReceivePolls polls;
    for (uint32_t pass = 1; pass < ReadFilePassLimit(); ++pass) {
        polls.Poll();
        if (binding::RxQueueBytes() == size) return true;
        if (polls.CableGone()) return false;
    }
    return false;
}

// Read_FILE_UART_2: waits until the queue holds at least size bytes or more than timeoutSeconds
// whole calendar seconds have passed since the start. A NaN time-out counts as 0 (wait until the
// calendar second moves on): no elapsed time compares above NaN, so it would never end.
bool WaitForAtLeast(uint32_t size, double timeoutSeconds) {
    if (std::isnan(timeoutSeconds)) timeoutSeconds = 0.0;
    SetReceiveStartSeconds(platform::CalendarSeconds());
    ReceivePolls polls;
    for (;;) {
        double elapsed = static_cast<double>(platform::CalendarSeconds() - ReceiveStartSeconds());
        if (elapsed > timeoutSeconds) return false;
        polls.Poll();
        if (binding::RxQueueBytes() >= size) return true;
        if (polls.CableGone()) return false;
    }
}

int TimedOut() {
    uint32_t waiting = binding::RxQueueBytes();
    return waiting != 0 ? static_cast<int>(waiting) : kNothingArrived;
}

// The common part of the file receivers once the wait has ended: reads what is waiting (the
// first size bytes kept, any surplus drained), then has the file opened and writes size bytes.
template <typename OpenFile>
int StoreReceivedBytes(const TransferBuffer& buffer, uint32_t size, OpenFile openFile) {
    FtStatus status = kFtOk;
    uint32_t stored = mpsse::ReadRxBytes(binding::RxQueueBytes(), buffer.get(), status, size);
    if (stored == 0 || status != kFtOk) return kReadFailed;
    TransferFile file(openFile());
    if (!file) return kCannotCreateFile;
    fwrite(buffer.get(), 1, size, file.get());
    return kTransferOk;
}

}  // namespace
}  // namespace kl::uart

namespace kl::exports {

using namespace uart;

int Read_UART() {
    if (!WaitForAnyByte()) return kReadFailed;
    FtStatus status = kFtOk;
    uint32_t read = mpsse::ReadRxBytes(binding::RxQueueBytes(), mpsse::ReadBuffer(), status,
                                       mpsse::kBufferSize);
    return read != 0 && status == kFtOk ? kTransferOk : kReadFailed;
}

int Read_FILE_UART(const char* fileName, kl_u32 size) {
    TransferBuffer buffer = AllocateTransferBuffer(size);
    if (!buffer) return kNoMemory;
    if (!WaitForExactCount(size)) return TimedOut();
    return StoreReceivedBytes(buffer, size,
                              [&] { return platform::OpenFileNarrow(fileName, "wb"); });
}

int Read_FILE_UART_2(const kl_wchar* fileName, kl_u32 size, kl_u32 deleteFirst,
                     double timeoutSeconds) {
    TransferBuffer buffer = AllocateTransferBuffer(size);
    if (!buffer) return kNoMemory;
    if (!WaitForAtLeast(size, timeoutSeconds)) return TimedOut();
    return StoreReceivedBytes(buffer, size, [&] {
        if (deleteFirst == 1) platform::RemoveFileWide(fileName);
        return platform::OpenFileWide(fileName, "wb");
    });
}

}  // namespace kl::exports
