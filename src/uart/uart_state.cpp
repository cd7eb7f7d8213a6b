// The UART subsystem's state between calls.
#include "uart/uart.h"

namespace kl::uart {
namespace {

// Written by Read_FILE_UART_2 (start time) and by tests (limits).
struct UartState {
    int64_t receiveStartSeconds = 0;
    uint32_t readFilePassLimit = kReadFilePassLimit;
    uint32_t pacingIntervalMs = kPacingIntervalMs;
};
UartState state;

}  // namespace

uint32_t ReadFilePassLimit() { return state.readFilePassLimit; }
uint32_t PacingIntervalMs() { return state.pacingIntervalMs; }
int64_t ReceiveStartSeconds() { return state.receiveStartSeconds; }
void SetReceiveStartSeconds(int64_t seconds) { state.receiveStartSeconds = seconds; }
void SetReadFilePassLimitForTests(uint32_t passes) { state.readFilePassLimit = passes; }
void SetPacingIntervalMsForTests(uint32_t ms) { state.pacingIntervalMs = ms; }
void ResetUartForTests() { state = UartState{}; }

}  // namespace kl::uart
