// Every export once, with a reference call on the virtual cable and the result codes it may give
// when the cable misbehaves. The fault-path and pulled-cable tests replay each reference call
// with one vendor call failing or the cable pulled at that call; the fuzzer checks its calls'
// results against the same code sets.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kl::hardening {

// The state a reference call starts from.
enum class Start {
    Loaded,     // vendor library loaded, nothing open
    MpsseOpen,  // OpenDevice(u"ZV7300LNK", u"", 5) done: channel A current
    ChannelA,   // OpenDevice5(u"ZV7300LNK", u"", 5) done: only channel A open, and current
    UartOpen,   // OpenDevice2() done: channel B current
};

// Which open proves the library usable again after a fault.
enum class Recovery {
    Mpsse,     // OpenDevice(u"ZV7300LNK", u"", 5)
    Uart,      // OpenDevice2()
    AnyCable,  // OpenDevice(u"", u"", 5): whatever identity provisioning left the cable with
};

struct ExportRow {
    const char* name;
    Start start;
    Recovery recovery;
    // Puts the cable and the library into the reference state after the start (queued commands,
    // waiting bytes, files); may be null.
    void (*prepare)();
    // The reference call; exports without a result give 0.
    int (*call)();
    // The codes the export may give, whatever the vendor library does. A receiver that times out
    // gives the number of bytes waiting: timeoutCountUpTo allows 1 to that number as well.
    std::vector<int> codes;
    uint32_t timeoutCountUpTo = 0;
    // Vendor calls the export may still make once the cable is gone (0: bounded by time instead:
    // the no-progress limit or the receiver's own time-out).
    uint32_t callsAfterUnplug = 4;
};

const std::vector<ExportRow>& Exports();

bool CodeAllowed(const ExportRow& row, int code);

// Codes as "{0, 4, 5}" for failure messages.
std::string CodeList(const ExportRow& row);

// Where the reference calls keep their files (one set per process).
std::string ScratchPath(const char* name);

// Allowed result codes of each export by name, for callers that do not run the reference calls
// (the fuzzer); null for an unknown name.
const ExportRow* FindExport(const std::string& name);

}  // namespace kl::hardening
