// Storage of the call log and the model errors.
#include "record/call_log.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace vcable {
namespace {

constexpr size_t kMaxModelErrors = 1000;

// Owned by this file; written by the entry points (through Call) and cleared by the control API.
struct CallLog {
    std::vector<CallRecord> calls;
    std::vector<uint8_t> data;  // all copied bytes, back to back
    std::vector<std::string> modelErrors;
};

CallLog& Log() {
    static CallLog log;
    return log;
}

}  // namespace

uint32_t BeginCall(Entry entry, void* handle, std::initializer_list<uint64_t> args) {
    CallLog& log = Log();
    if (log.calls.size() >= kMaxLoggedCalls) return kNoRecord;
    CallRecord record{};
    record.entry = entry;
    record.handle = handle;
    for (uint64_t arg : args) {
        if (record.argCount == 4) break;
        record.args[record.argCount++] = arg;
    }
    record.dataOffset = log.data.size();
    log.calls.push_back(record);
    return static_cast<uint32_t>(log.calls.size() - 1);
}

void AttachCallData(uint32_t index, const void* data, size_t length) {
    CallLog& log = Log();
    if (index >= log.calls.size() || data == nullptr) return;
    CallRecord& record = log.calls[index];
    size_t room = kMaxLoggedData - std::min(kMaxLoggedData, log.data.size());
    size_t n = std::min({length, kMaxDataPerCall - record.dataLength, room});
    const auto* bytes = static_cast<const uint8_t*>(data);
    // Data of one call stays contiguous: only the newest record may append.
    if (record.dataOffset + record.dataLength != log.data.size()) return;
    log.data.insert(log.data.end(), bytes, bytes + n);
    record.dataLength += static_cast<uint32_t>(n);
}

void FinishCall(uint32_t index, uint32_t status, uint32_t transferred, bool faulted) {
    CallLog& log = Log();
    if (index >= log.calls.size()) return;
    CallRecord& record = log.calls[index];
    record.status = status;
    record.transferred = transferred;
    record.faulted = faulted;
}

uint32_t CallCount() { return static_cast<uint32_t>(Log().calls.size()); }

const CallRecord* CallAt(uint32_t index) {
    CallLog& log = Log();
    return index < log.calls.size() ? &log.calls[index] : nullptr;
}

const uint8_t* CallData(const CallRecord& record) {
    return record.dataLength == 0 ? nullptr : Log().data.data() + record.dataOffset;
}

void ClearCallLog() {
    CallLog& log = Log();
    log.calls.clear();
    log.data.clear();
}

void RecordModelError(const char* format, ...) {
    CallLog& log = Log();
    if (log.modelErrors.size() >= kMaxModelErrors) return;
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    log.modelErrors.emplace_back(text);
}

uint32_t ModelErrorCount() { return static_cast<uint32_t>(Log().modelErrors.size()); }

const char* ModelErrorAt(uint32_t index) {
    CallLog& log = Log();
    return index < log.modelErrors.size() ? log.modelErrors[index].c_str() : nullptr;
}

void ClearModelErrors() { Log().modelErrors.clear(); }

}  // namespace vcable
