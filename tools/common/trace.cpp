#include "common/trace.h"

#include <cerrno>
#include <cstring>
#include <string_view>

#include "common/common.h"

namespace kestrel {
namespace {

// Bytes of a call listed in the trace; the rest are counted.
constexpr uint32_t kBytesShown = 16;

// The vendor's status names, by value.
const char* const kStatusNames[] = {
    "FT_OK",
    "FT_INVALID_HANDLE",
    "FT_DEVICE_NOT_FOUND",
    "FT_DEVICE_NOT_OPENED",
    "FT_IO_ERROR",
    "FT_INSUFFICIENT_RESOURCES",
    "FT_INVALID_PARAMETER",
    "FT_INVALID_BAUD_RATE",
    "FT_DEVICE_NOT_OPENED_FOR_ERASE",
    "FT_DEVICE_NOT_OPENED_FOR_WRITE",
    "FT_FAILED_TO_WRITE_DEVICE",
    "FT_EEPROM_READ_FAILED",
    "FT_EEPROM_WRITE_FAILED",
    "FT_EEPROM_ERASE_FAILED",
    "FT_EEPROM_NOT_PRESENT",
    "FT_EEPROM_NOT_PROGRAMMED",
    "FT_INVALID_ARGS",
    "FT_NOT_SUPPORTED",
    "FT_OTHER_ERROR",
};

// Names of the numeric arguments the virtual cable records, per entry point.
struct ArgNames {
    const char* entry;
    const char* names[4];
};
const ArgNames kArgNames[] = {
    {"FT_ListDevices", {"arg1", "arg2", "flags"}},
    {"FT_Open", {"index"}},
    {"FT_OpenEx", {"location", "flags"}},
    {"FT_Reload", {"vid", "pid"}},
    {"FT_EE_UARead", {"length"}},
    {"FT_EE_UAWrite", {"length"}},
    {"FT_Read", {"count"}},
    {"FT_Write", {"count"}},
    {"FT_Purge", {"mask"}},
    {"FT_SetTimeouts", {"read_ms", "write_ms"}},
    {"FT_SetBaudRate", {"baud"}},
    {"FT_SetChars", {"event", "event_on", "error", "error_on"}},
    {"FT_SetEventNotification", {"mask", "param"}},
    {"FT_SetBitMode", {"mask", "mode"}},
    {"FT_SetLatencyTimer", {"ms"}},
    {"FT_SetDataCharacteristics", {"bits", "stop", "parity"}},
    {"FT_SetFlowControl", {"flow", "xon", "xoff"}},
};

// Entry points whose recorded bytes are what the host sent rather than what it got back.
bool SendsData(std::string_view entry) {
    return entry == "FT_Write" || entry == "FT_EE_UAWrite" || entry == "FT_OpenEx";
}

std::string Arguments(const VcCall& call) {
    const char* const* names = nullptr;
    for (const ArgNames& row : kArgNames) {
        if (std::strcmp(row.entry, call.entry) == 0) names = row.names;
    }
    std::string out;
    char value[32];
    for (uint32_t i = 0; i < call.arg_count && i < 4; ++i) {
        const char* name = names && names[i] ? names[i] : "arg";
        const bool hex = std::strcmp(name, "location") == 0 || std::strcmp(name, "mask") == 0 ||
                         std::strcmp(name, "mode") == 0 || std::strcmp(name, "flags") == 0;
        std::snprintf(value, sizeof value, hex ? "0x%llX" : "%llu",
                      static_cast<unsigned long long>(call.args[i]));
        out += std::string(out.empty() ? "" : " ") + name + "=" + value;
    }
    return out;
}

bool SameCall(const VcCall& a, const VcCall& b) {
    return std::strcmp(a.entry, b.entry) == 0 && a.handle == b.handle &&
           a.arg_count == b.arg_count && std::memcmp(a.args, b.args, sizeof a.args) == 0 &&
           a.status == b.status && a.transferred == b.transferred && a.data_length == 0 &&
           b.data_length == 0 && a.faulted == b.faulted;
}

}  // namespace

TraceRecorder::~TraceRecorder() {
    if (file_) std::fclose(file_);
}

bool TraceRecorder::Open(const std::string& path, std::string& error) {
    file_ = std::fopen(path.c_str(), "w");
    if (!file_) error = "cannot write the trace file " + path + ": " + std::strerror(errno);
    return file_ != nullptr;
}

void TraceRecorder::Attach(const VirtualCable& cable) {
    api_ = &cable.api();
    firstCall_ = api_->vc_log_count();
    cables_ = api_->vc_device_count();
    for (int c = 0; c < cables_; ++c) {
        hooks_.push_back(std::make_unique<Hook>(Hook{this, c}));
        api_->vc_mpsse_set_trace(c, &TraceRecorder::OnLine, hooks_.back().get());
    }
    std::fprintf(file_,
                 "# kestrel trace: vendor calls in order, with the MPSSE commands each write "
                 "carried indented below it\n");
}

void TraceRecorder::OnLine(void* user, const char* line) {
    auto* hook = static_cast<Hook*>(user);
    TraceRecorder& self = *hook->recorder;
    const uint32_t count = self.api_->vc_log_count();
    self.lines_.push_back({count ? count - 1 : 0, hook->cable, line});
}

void TraceRecorder::WriteCall(uint32_t index, const VcCall& call, uint32_t repeats) {
    const char* status = call.status < std::size(kStatusNames) ? kStatusNames[call.status] : "?";
    std::fprintf(file_, "%6u  %-26s h=%-12p %s -> %s (%u)", index, call.entry, call.handle,
                 Arguments(call).c_str(), status, call.status);
    if (call.transferred) std::fprintf(file_, " n=%u", call.transferred);
    if (call.faulted) std::fprintf(file_, " [fault]");
    if (call.data_length) {
        const uint32_t shown = call.data_length < kBytesShown ? call.data_length : kBytesShown;
        std::fprintf(file_, " %s: %s%s", SendsData(call.entry) ? "sent" : "got",
                     HexBytes(call.data, shown).c_str(), call.data_length > shown ? " ..." : "");
    }
    if (repeats > 1) std::fprintf(file_, "  (x%u)", repeats);
    std::fputc('\n', file_);
}

void TraceRecorder::Finish() {
    if (!file_ || !api_) return;
    for (int c = 0; c < cables_; ++c) api_->vc_mpsse_set_trace(c, nullptr, nullptr);
    const uint32_t count = api_->vc_log_count();
    size_t line = 0;
    for (uint32_t i = firstCall_; i < count;) {
        VcCall call{};
        api_->vc_log_get(i, &call);
        while (line < lines_.size() && lines_[line].call < i) ++line;  // before tracing began
        // Identical calls in a row without engine output (a polling loop) are listed once.
        const uint32_t nextWithLines = line < lines_.size() ? lines_[line].call : count;
        uint32_t repeats = 1;
        VcCall next{};
        while (nextWithLines > i && i + repeats < count && i + repeats < nextWithLines &&
               api_->vc_log_get(i + repeats, &next) == 0 && SameCall(call, next)) {
            ++repeats;
        }
        WriteCall(i, call, repeats);
        for (; line < lines_.size() && lines_[line].call < i + repeats; ++line) {
            const EngineLine& l = lines_[line];
            if (cables_ > 1) {
                std::fprintf(file_, "          [cable %d] %s\n", l.cable, l.text.c_str());
            } else {
                std::fprintf(file_, "          %s\n", l.text.c_str());
            }
        }
        i += repeats;
    }
    const uint32_t errors = api_->vc_model_error_count();
    for (uint32_t e = 0; e < errors; ++e) {
        std::fprintf(file_, "! model error: %s\n", api_->vc_model_error(e));
    }
    std::fclose(file_);
    file_ = nullptr;
}

}  // namespace kestrel
