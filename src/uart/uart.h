// Serial transfers on the current channel (channel B after a UART open) and the DTR line. The
// exports live in uart_receive.cpp, uart_send.cpp and dtr.cpp; this header holds their shared
// state, result codes and the seams through which tests shorten the waits.
#pragma once

#include <cstdint>

namespace kl::uart {

// Result codes of the transfers.
enum : int {
    kTransferOk = 0,
    kReadFailed = 1,        // receivers and Read_UART: the read failed or gave nothing
    kWriteFailed = 1,       // senders: the write failed (message shown)
    kCannotCreateFile = 2,  // receivers: the received bytes could not be stored
    kNothingArrived = 6,    // receivers: time-out with no byte waiting
    kCannotReadFile = 7,    // senders: the file cannot be opened
    kNoMemory = 8,
};

// Polling passes of Read_FILE_UART; the pass that reaches it stops waiting without polling.
constexpr uint32_t kReadFilePassLimit = 2500000;
// Pause before each byte of a paced send.
constexpr uint32_t kPacingIntervalMs = 1000;
// A piece of a send larger than StagingBuffer.
constexpr uint32_t kSendPieceBytes = 131072;

uint32_t ReadFilePassLimit();
uint32_t PacingIntervalMs();

// Start of the current Read_FILE_UART_2 wait, in calendar seconds.
int64_t ReceiveStartSeconds();
void SetReceiveStartSeconds(int64_t seconds);

// Test seams. Read_UART's bound is the stream's no-progress limit (mpsse::NoProgressLimitMs).
void SetReadFilePassLimitForTests(uint32_t passes);
void SetPacingIntervalMsForTests(uint32_t ms);
void ResetUartForTests();

}  // namespace kl::uart
