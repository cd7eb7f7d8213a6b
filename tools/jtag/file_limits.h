// What one SVF or XSVF file may ask of the parser and of the cable. A file a tool wrote never
// comes near these limits; a broken or hostile one (a 3 KB file of scans of 2^27 bits, waits of
// hours) is refused at the command that passes one, before that command allocates or clocks
// anything.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrel::jtag {

// One scan: header, command and trailer together.
constexpr uint32_t kMaxScanBits = 1u << 28;
// All scans of a file together, with the padding that HIR, HDR, TIR and TDR hold. A file spells
// its bits out, four to a hex digit or eight to an XSVF byte; values kept from the command before
// and short hex values padded with zeros add some, but not 64 bits for every byte of the file.
// The floor lets a small file shift long runs of zeros ("SDR 1048576 TDI (0);").
constexpr uint64_t kScanBitsPerFileByte = 64;
constexpr uint64_t kMinFileScanBits = uint64_t{1} << 24;
// One wait, as a time or as TCK periods (over three hours at the fastest TCK): a longer one is a
// broken file, not a slow device, and would hold the cable for hours.
constexpr double kMaxRunSeconds = 3600;
constexpr uint64_t kMaxRunClocks = uint64_t{1} << 36;
// All waits of a file together.
constexpr double kMaxFileRunSeconds = 4 * kMaxRunSeconds;
constexpr uint64_t kMaxFileRunClocks = 2 * kMaxRunClocks;

// The scan bits a file of `fileBytes` bytes may hold.
uint64_t FileScanBits(size_t fileBytes);

// What a file has asked for so far. Each Take adds to the totals, or leaves them as they were
// and says in `problem` which limit the request would pass.
struct FileBudget {
    uint64_t fileBytes = 0;
    uint64_t scanBits = 0;
    double runSeconds = 0;
    uint64_t runClocks = 0;

    bool TakeScanBits(uint64_t bits, std::string& problem);
    bool TakeWait(double seconds, uint64_t clocks, std::string& problem);
};

}  // namespace kestrel::jtag
