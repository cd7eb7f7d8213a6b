// The files of VCABLE_STATE, VCABLE_CLOCK_REPORT, VCABLE_MODEL_ERRORS, VCABLE_TRACE,
// VCABLE_CALL_LOG and VCABLE_VCD.
#include "scenario/program_files.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "chip/devices.h"
#include "engine/mpsse_engine.h"
#include "entry_points/model_lock.h"
#include "record/call_log.h"
#include "record/wire_clock.h"
#include "scenario/state_file.h"
#include "scenario/vcd_file.h"

namespace vcable {
namespace {

constexpr double kPsPerMs = 1e9;

const char* Named(const char* variable) {
    const char* value = std::getenv(variable);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

bool Exists(const char* path) {
    struct stat info;
    return stat(path, &info) == 0;
}

void WriteClockReport(const char* path) {
    std::FILE* file = std::fopen(path, "w");
    if (file == nullptr) {
        std::fprintf(stderr, "virtual cable: VCABLE_CLOCK_REPORT: cannot write %s\n", path);
        return;
    }
    const char* const names[kWireSpeeds] = {"full_speed", "high_speed"};
    std::fprintf(file, "{");
    for (int s = 0; s < kWireSpeeds; ++s) {
        const WireClockTotals t = ReadWireClock(s);
        std::fprintf(file,
                     "%s\n  \"%s\": {\"elapsed_ms\": %.6f, \"wire_ms\": %.6f, \"limit_ms\": %.6f, "
                     "\"tck_cycles\": %llu, \"writes\": %llu, \"reads\": %llu}",
                     s == 0 ? "" : ",", names[s], t.elapsedPs / kPsPerMs, t.wirePs / kPsPerMs,
                     t.limitPs / kPsPerMs, static_cast<unsigned long long>(t.tckCycles),
                     static_cast<unsigned long long>(t.writes),
                     static_cast<unsigned long long>(t.reads));
    }
    std::fprintf(file, "\n}\n");
    std::fclose(file);
}

void WriteModelErrors(const char* path) {
    std::FILE* file = std::fopen(path, "w");
    if (file == nullptr) {
        std::fprintf(stderr, "virtual cable: VCABLE_MODEL_ERRORS: cannot write %s\n", path);
        return;
    }
    for (uint32_t i = 0; i < ModelErrorCount(); ++i) std::fprintf(file, "%s\n", ModelErrorAt(i));
    std::fclose(file);
}

// The trace file, open from the start to the end; each cable's lines carry its number.
struct TraceFile {
    std::FILE* file = nullptr;
    int cables[8] = {0, 1, 2, 3, 4, 5, 6, 7};
};
TraceFile traceFile;

void TraceLine(void* user, const char* line) {
    std::fprintf(traceFile.file, "cable %d: %s\n", *static_cast<int*>(user), line);
}

void StartTrace(const char* path) {
    traceFile.file = std::fopen(path, "w");
    if (traceFile.file == nullptr) {
        std::fprintf(stderr, "virtual cable: VCABLE_TRACE: cannot write %s\n", path);
        return;
    }
    for (int c = 0; c < DeviceCount() && c < 8; ++c) {
        if (auto* engine = dynamic_cast<MpsseEngine*>(CableMpssePort(c))) {
            engine->SetTrace(&TraceLine, &traceFile.cables[c]);
        }
    }
}

void WriteCallLog(const char* path) {
    std::FILE* file = std::fopen(path, "w");
    if (file == nullptr) {
        std::fprintf(stderr, "virtual cable: VCABLE_CALL_LOG: cannot write %s\n", path);
        return;
    }
    for (uint32_t i = 0; i < CallCount(); ++i) {
        const CallRecord& call = *CallAt(i);
        std::fprintf(file, "%s(", EntryName(static_cast<uint32_t>(call.entry)));
        for (uint32_t a = 0; a < call.argCount; ++a) {
            std::fprintf(file, "%s0x%llX", a == 0 ? "" : ", ",
                         static_cast<unsigned long long>(call.args[a]));
        }
        std::fprintf(file, ") = %u, %u bytes%s\n", call.status, call.transferred,
                     call.faulted ? " (fault rule)" : "");
    }
    std::fclose(file);
}

void WriteProgramFiles() {
    ModelLock lock;
    if (const char* path = Named("VCABLE_STATE")) {
        std::string error;
        if (!state_file::Save(path, error)) {
            std::fprintf(stderr, "virtual cable: VCABLE_STATE: %s\n", error.c_str());
        }
    }
    if (const char* path = Named("VCABLE_CLOCK_REPORT")) WriteClockReport(path);
    if (const char* path = Named("VCABLE_MODEL_ERRORS")) WriteModelErrors(path);
    if (const char* path = Named("VCABLE_CALL_LOG")) WriteCallLog(path);
    if (traceFile.file != nullptr) std::fclose(traceFile.file);
    traceFile.file = nullptr;
    FinishVcdFile();
}

}  // namespace

void StartProgramFiles() {
    const char* state = Named("VCABLE_STATE");
    if (state == nullptr && Named("VCABLE_CLOCK_REPORT") == nullptr &&
        Named("VCABLE_MODEL_ERRORS") == nullptr && Named("VCABLE_TRACE") == nullptr &&
        Named("VCABLE_CALL_LOG") == nullptr && Named("VCABLE_VCD") == nullptr) {
        return;
    }
    if (state != nullptr && Exists(state)) {
        std::string error;
        if (!state_file::Load(state, error)) {
            std::fprintf(stderr, "virtual cable: VCABLE_STATE: %s\n", error.c_str());
        }
    }
    if (const char* path = Named("VCABLE_TRACE")) StartTrace(path);
    if (const char* path = Named("VCABLE_VCD")) StartVcdFile(path);
    // The call log's storage is made now, so it outlives the handler registered after it.
    ModelErrorCount();
    std::atexit(&WriteProgramFiles);
}

}  // namespace vcable
