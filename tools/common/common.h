// Pieces every command of the kestrel tool shares: exit codes, the record of the first library
// call that failed, text conversions and a stopwatch.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

// The exit codes (ExitCode), generated from common/exit_codes.tsv.
#include "kestrel_exit_codes.h"
#include "kestrellink.h"

namespace kestrel {

// The first library call of an operation that did not return 0, with its result code.
struct CallResult {
    int code = 0;
    std::string call;
    std::string detail;  // what went wrong when it is not a library result (a check)

    bool ok() const { return code == 0 && detail.empty(); }
    // "JTAG_RxFTDI returned 4" or the detail.
    std::string Describe() const;
};

// Records a failed call in `result`; returns true when code is 0.
bool Check(int code, const char* call, CallResult& result);
// Records a failed check that is not a library result.
bool Reject(const std::string& detail, CallResult& result);

// Prints "kestrel: <reason>" on standard error, records it for --json and returns code.
int Fail(int code, const std::string& reason);
// Fails with the exit code a failed operation's result calls for: no cable when the open found
// none, a library result (recorded for --json) when an export returned one, else a failed check.
// `context` starts the message ("read failed").
int FailCall(const CallResult& result, const std::string& context = "");

// The library's wide strings (UTF-16: char16_t on Linux, wchar_t on Windows), from UTF-8 and back.
using WideString = std::basic_string<kl_wchar>;
WideString Wide(const std::string& text);
std::string Narrow(const kl_wchar* text);

// Bytes as "A7 40 14".
std::string HexBytes(const uint8_t* data, size_t count);
std::string Hex32(uint32_t value);

class Stopwatch {
  public:
    Stopwatch() : start_(std::chrono::steady_clock::now()) {}
    double Milliseconds() const {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_)
            .count();
    }

  private:
    std::chrono::steady_clock::time_point start_;
};

// How long transfers show their progress (--progress): a bar on standard output, drawn only when
// standard output is a terminal (or --progress bar asked for it) and the transfer is long enough
// to be worth one (64 Ki of its units); JSON events on standard error, one object a line, at most
// ten a second, the last of a phase at done == total; or nothing.
enum class ProgressMode { kBar, kJson, kNone };
void SetProgressMode(ProgressMode mode, bool chosen);

// One phase's progress. The bar's line ends when it is destroyed, or earlier through EndLine,
// which everything that prints a message calls first.
class Progress {
  public:
    Progress(const char* label, uint64_t total, const char* unit = "bytes");
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;
    void Update(uint64_t done);
    void EndLine();

  private:
    const char* label_;
    const char* unit_;
    uint64_t total_;
    bool shown_;
    int lastPercent_ = -1;
    Stopwatch watch_;
    uint64_t lastDone_ = 0;
    bool finalSent_ = false;

    void Event(uint64_t done);
};

// Ends the line of the progress bar being drawn, if any, so that the next output starts a line.
void EndProgressLine();

}  // namespace kestrel
