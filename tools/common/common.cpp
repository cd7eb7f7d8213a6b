#include "common/common.h"

#include <cstdio>

#include "common/os.h"
#include "common/report.h"
#include "kestrellink_result_codes.h"

namespace kestrel {
namespace {

// Transfers shorter than this finish before a bar would be readable.
constexpr uint64_t kProgressMinimumUnits = 64 * 1024;
constexpr int kProgressWidth = 40;

// The bar whose line is open on standard output.
Progress* openBar = nullptr;

ProgressMode progressMode = ProgressMode::kBar;
bool progressChosen = false;  // --progress given: a bar even when not on a terminal

// Progress events (JSON) no closer together than this, but for the last one of a phase.
constexpr double kEventSpacingMs = 100;
// When the last event went out, on a clock all phases share.
const Stopwatch eventClock;
constexpr double kRateMinimumSeconds = 0.01;
double lastEventMs = -kEventSpacingMs;

}  // namespace

void EndProgressLine() {
    if (openBar) openBar->EndLine();
}

std::string CallResult::Describe() const {
    if (!detail.empty()) return detail;
    return call + " returned " + std::to_string(code);
}

bool Check(int code, const char* call, CallResult& result) {
    if (code == 0) return true;
    if (result.ok()) {
        result.code = code;
        result.call = call;
    }
    return false;
}

bool Reject(const std::string& detail, CallResult& result) {
    if (result.ok()) result.detail = detail;
    return false;
}

int Fail(int code, const std::string& reason) {
    EndProgressLine();
    std::fprintf(stderr, "kestrel: %s\n", reason.c_str());
    report::Error(reason);
    return code;
}

int FailCall(const CallResult& result, const std::string& context) {
    const std::string reason =
        context.empty() ? result.Describe() : context + ": " + result.Describe();
    if (result.code == 0) return Fail(kExitFailed, reason);
    report::LibraryCall(result.call, result.code);
    // The opens' codes of the no-cable class: none found, none matching, not one cable's pair.
    namespace codes = kestrellink_result_codes;
    const bool noCable =
        (result.call == "OpenDevice" &&
         codes::IsClass(codes::kOpenDevice, result.code, codes::Class::kNoCable)) ||
        (result.call == "OpenDevice4" &&
         codes::IsClass(codes::kOpenDevice4, result.code, codes::Class::kNoCable));
    return Fail(noCable ? kExitNoCable : kExitLibraryCall, reason);
}

WideString Wide(const std::string& text) {
    WideString out;
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        uint32_t code = c;
        int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        if (extra) code = c & (0x3F >> extra);
        ++i;
        for (; extra > 0 && i < text.size(); --extra, ++i) {
            code = (code << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<kl_wchar>(0xD800 + (code >> 10)));
            out.push_back(static_cast<kl_wchar>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<kl_wchar>(code));
        }
    }
    return out;
}

std::string Narrow(const kl_wchar* text) {
    std::string out;
    if (!text) return out;
    for (; *text; ++text) {
        uint32_t code = static_cast<uint16_t>(*text);
        if (code >= 0xD800 && code < 0xDC00 && text[1] >= 0xDC00 && text[1] < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (text[1] - 0xDC00);
            ++text;
        }
        if (code < 0x80) {
            out.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (code >> 6)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (code >> 12)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (code >> 18)));
            out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return out;
}

std::string HexBytes(const uint8_t* data, size_t count) {
    std::string out;
    char byte[4];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(byte, sizeof byte, "%02X", data[i]);
        if (i) out += ' ';
        out += byte;
    }
    return out;
}

std::string Hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

void SetProgressMode(ProgressMode mode, bool chosen) {
    progressMode = mode;
    progressChosen = chosen;
}

Progress::Progress(const char* label, uint64_t total, const char* unit)
    : label_(label),
      unit_(unit),
      total_(total),
      shown_(progressMode == ProgressMode::kBar && total >= kProgressMinimumUnits &&
             (progressChosen || os::StdoutIsTerminal())) {}

Progress::~Progress() { EndLine(); }

void Progress::Event(uint64_t done) {
    if (done > total_) done = total_;
    const bool final = done == total_;
    const double now = eventClock.Milliseconds();
    if (finalSent_ || (!final && now - lastEventMs < kEventSpacingMs)) return;
    lastEventMs = now;
    finalSent_ = final;
    // A rate needs some time behind it: the first moments of a phase give none.
    const double seconds = watch_.Milliseconds() / 1000;
    const double rate = seconds >= kRateMinimumSeconds ? static_cast<double>(done) / seconds : 0;
    std::string rateText = "null";
    std::string eta = "null";
    if (rate > 0) {
        char text[32];
        std::snprintf(text, sizeof text, "%.1f", rate);
        rateText = text;
        std::snprintf(text, sizeof text, "%.3f", static_cast<double>(total_ - done) / rate);
        eta = text;
    }
    const std::string line = json::Object({{"phase", json::String(label_)},
                                           {"done", json::Number(done)},
                                           {"total", json::Number(total_)},
                                           {"unit", json::String(unit_)},
                                           {"rate", rateText},
                                           {"eta", eta}});
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

void Progress::EndLine() {
    if (openBar != this) return;
    std::printf("\n");
    std::fflush(stdout);
    openBar = nullptr;
}

void Progress::Update(uint64_t done) {
    if (done < lastDone_) done = lastDone_;  // events never go back
    lastDone_ = done;
    if (progressMode == ProgressMode::kJson) return Event(done);
    if (!shown_ || total_ == 0) return;
    const int percent = static_cast<int>(done * 100 / total_);
    if (percent == lastPercent_) return;
    if (openBar != this) EndProgressLine();
    openBar = this;
    lastPercent_ = percent;
    const int filled = percent * kProgressWidth / 100;
    std::printf("\r%s [%s%s] %3d%% (%llu/%llu %s)", label_, std::string(filled, '#').c_str(),
                std::string(kProgressWidth - filled, '.').c_str(), percent,
                static_cast<unsigned long long>(done), static_cast<unsigned long long>(total_),
                unit_);
    std::fflush(stdout);
}

}  // namespace kestrel
