#include "jtag/file_limits.h"

#include <algorithm>

namespace kestrel::jtag {

uint64_t FileScanBits(size_t fileBytes) {
    return std::max(kMinFileScanBits, kScanBitsPerFileByte * fileBytes);
}

bool FileBudget::TakeScanBits(uint64_t bits, std::string& problem) {
    const uint64_t limit = FileScanBits(fileBytes);
    if (bits > limit - std::min(limit, scanBits)) {
        problem = "the file's scans would add up to " + std::to_string(scanBits + bits) +
                  " bits, more than a file of " + std::to_string(fileBytes) +
                  " bytes may ask for (" + std::to_string(limit) + ")";
        return false;
    }
    scanBits += bits;
    return true;
}

bool FileBudget::TakeWait(double seconds, uint64_t clocks, std::string& problem) {
    if (runSeconds + seconds > kMaxFileRunSeconds) {
        problem = "the file's waits would add up to more than " +
                  std::to_string(static_cast<int>(kMaxFileRunSeconds)) + " s";
        return false;
    }
    if (clocks > kMaxFileRunClocks - std::min(kMaxFileRunClocks, runClocks)) {
        problem = "the file's run-test clocks would add up to more than " +
                  std::to_string(kMaxFileRunClocks) + " TCK";
        return false;
    }
    runSeconds += seconds;
    runClocks += clocks;
    return true;
}

}  // namespace kestrel::jtag
