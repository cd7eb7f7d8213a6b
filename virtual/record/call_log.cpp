// Storage of the call log and the model errors.
#include "record/call_log.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace vcable {
namespace {

constexpr size_t kMaxModelErrors = 1000;

// The copied bytes live in blocks that never move; a call's bytes stay within one block.
constexpr size_t kDataBlockSize = 1u << 20;
static_assert(kDataBlockSize >= kMaxDataPerCall);

// Owned by this file; written by the entry points (through Call) and cleared by the control API.
// Deques, so that records and error texts keep their addresses as the log grows.
struct CallLog {
    std::deque<CallRecord> calls;
    std::vector<std::unique_ptr<uint8_t[]>> dataBlocks;  // the first is kept across clears
    size_t blockUsed = 0;                                // bytes used in the last block
    size_t dataTotal = 0;                                // bytes copied in all
    std::deque<std::string> modelErrors;
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
    log.calls.push_back(record);
    return static_cast<uint32_t>(log.calls.size() - 1);
}

void AttachCallData(uint32_t index, const void* data, size_t length) {
    CallLog& log = Log();
    if (index >= log.calls.size() || data == nullptr) return;
    CallRecord& record = log.calls[index];
    // Data of one call stays contiguous: only the newest record may append.
    if (index + 1 != log.calls.size()) return;
    const size_t room = kMaxLoggedData - std::min(kMaxLoggedData, log.dataTotal);
    const size_t n = std::min({length, kMaxDataPerCall - record.dataLength, room});
    if (n == 0) return;
    if (record.data == nullptr) {
        // A call's first bytes start a new block when a whole call's worth might not fit.
        if (log.dataBlocks.empty() || kDataBlockSize - log.blockUsed < kMaxDataPerCall) {
            log.dataBlocks.push_back(std::make_unique<uint8_t[]>(kDataBlockSize));
            log.blockUsed = 0;
        }
        record.data = log.dataBlocks.back().get() + log.blockUsed;
    }
    std::memcpy(record.data + record.dataLength, data, n);
    record.dataLength += static_cast<uint32_t>(n);
    log.blockUsed += n;
    log.dataTotal += n;
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

void ClearCallLog() {
    CallLog& log = Log();
    log.calls.clear();
    log.dataBlocks.resize(std::min<size_t>(log.dataBlocks.size(), 1));
    log.blockUsed = 0;
    log.dataTotal = 0;
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
