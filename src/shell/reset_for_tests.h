// One reset for tests, benchmarks and the fuzzer, which run many library lifetimes in one
// process. It lives at the top of the layers because it is the one place that sees them all.
#pragma once

namespace kl {

// Puts every subsystem back to the state it has when the library is loaded: no vendor library
// (and its default name), no device list or connection, an empty queue with zeroed buffers and pin
// state, the default waits and UART limits, no log directory, the EEPROM template's initial
// values, and real sleeps. Handles the vendor library still holds are not closed.
void ResetForTests();

}  // namespace kl
