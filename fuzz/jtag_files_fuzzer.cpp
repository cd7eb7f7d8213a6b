// Fuzzes the readers behind `kestrel jtag svf|xsvf`: every input is read both as SVF text and as
// XSVF bytes, as a factory floor's files from anywhere would be. Invariants: no crash, no undefined
// behaviour, no read or write past a buffer; a refused file gets a message that names its place on
// one line, so that the tool's report stays one line too.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "jtag/parsers.h"

namespace {

void CheckRefusal(const kestrel::jtag::ParseError& error, bool binary) {
    const std::string report = kestrel::jtag::Describe(error, "fuzz", binary);
    if (error.message.empty() || report.find_first_of("\r\n") != std::string::npos) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kestrel::jtag::Program program;
    kestrel::jtag::ParseError error;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (!kestrel::jtag::ParseSvf(text, program, error)) CheckRefusal(error, false);

    error = {};
    const std::vector<uint8_t> bytes(data, data + size);
    if (!kestrel::jtag::ParseXsvf(bytes, program, error)) CheckRefusal(error, true);
    return 0;
}
