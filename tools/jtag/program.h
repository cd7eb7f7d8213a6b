// A parsed SVF or XSVF file: a plain list of JTAG operations, each with the place in the file it
// came from, that the player carries out in order. Parsing resolves everything the file leaves
// implicit (values carried over from earlier commands, header and trailer padding, end states),
// so an operation says exactly what to clock.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "jtag/bits.h"
#include "jtag/tap.h"

namespace kestrel::jtag {

// Moves the chain to `target`: along `path` (every state one TCK after the one before, but
// Test-Logic-Reset, which five TMS ones reach from anywhere) when the file gave one, else by the
// shortest way (five TMS ones for Test-Logic-Reset).
struct MoveOp {
    Tap target = Tap::kIdle;
    std::vector<Tap> path;
};

// An IR or DR scan: into Shift-IR/Shift-DR, `tdi` shifted in (bit 0 first) while TDO is
// captured, out again to `end` (or staying in the shift state).
struct ScanOp {
    bool ir = false;
    Bits tdi;
    Bits tdiCare;            // SMASK: the TDI bits that matter (empty: all of them)
    Bits expected;           // TDO to compare; empty when nothing is compared
    Bits mask;               // the compared bits of `expected` (empty: all of them)
    bool capture = false;    // keep what TDO gave for the caller (one-device scans)
    bool leaveShift = true;  // false: the last bit is shifted with TMS 0, the chain stays
    Tap end = Tap::kIdle;
    // Where the command's own bits sit between the header and the trailer (for reports).
    uint32_t headerBits = 0;
    uint32_t trailerBits = 0;
    // XSVF: after a mismatch, retry this many times while waitUs is set; wait in Run-Test/Idle
    // for waitUs microseconds after the scan (0: go to `end`).
    uint32_t retries = 0;
    uint32_t waitUs = 0;
};

// Holds the chain in the stable state `state` for `clocks` TCK cycles and at least `minSeconds`,
// then moves it to `end`. With `timeAsClocks` the minimum time becomes clocks at the TCK rate of
// the moment; otherwise it is waited out after everything before it has been clocked.
struct RunOp {
    Tap state = Tap::kIdle;
    uint64_t clocks = 0;
    double minSeconds = 0;
    double maxSeconds = -1;  // negative: no maximum
    bool timeAsClocks = true;
    Tap end = Tap::kIdle;
};

// Sets TCK to the fastest rate not above `hz`; 0 returns to the connection's own rate.
struct FrequencyOp {
    double hz = 0;
};

// TRST ON (`assert`) or OFF: the chain's test reset.
struct TrstOp {
    bool assert = true;
};

// A remark for the user at this point of the playback (commands accepted but ignored).
struct NoteOp {
    std::string text;
};

struct Op {
    uint32_t where = 0;   // line of an SVF file, byte offset of an XSVF command
    std::string command;  // how reports name it: "SDR 32", "XSDRTDO"
    std::variant<MoveOp, ScanOp, RunOp, FrequencyOp, NoteOp, TrstOp> what;
};

struct Program {
    bool binary = false;    // XSVF: `where` is a byte offset
    uint64_t commands = 0;  // commands in the file (some make no operation, some several)
    std::vector<Op> ops;
};

// "12" for an SVF line, "byte 419" for an XSVF offset: what follows "FILE:" in a report.
std::string Where(const Program& program, const Op& op);

// A file the parser cannot take: a syntax or value error (exit 2), or a command the cable cannot
// carry out (refused).
struct ParseError {
    bool refused = false;
    uint32_t line = 0;  // SVF: 1-based line and column; XSVF: byte offset in `line`
    uint32_t column = 0;
    std::string message;
};

// "FILE:12:5: message" or "FILE:byte 419: message".
std::string Describe(const ParseError& error, const std::string& file, bool binary);

// What a program will do, for --dry-run and the final report.
struct ProgramTotals {
    uint64_t scans = 0;
    uint64_t scanBits = 0;
    uint64_t checks = 0;
    uint64_t runClocks = 0;
    double runSeconds = 0;  // the minimum times of run-tests and the waits after XSVF scans
};
ProgramTotals Totals(const Program& program);

}  // namespace kestrel::jtag
