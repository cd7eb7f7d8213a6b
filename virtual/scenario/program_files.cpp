// The files of VCABLE_STATE, VCABLE_TRACE, VCABLE_VCD, VCABLE_CALL_LOG, VCABLE_CLOCK_REPORT and
// VCABLE_MODEL_ERRORS: which of them are refused, the state file's lock and load, the trace as it
// runs, and writing them all at the end.
#include "scenario/program_files.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "chip/devices.h"
#include "engine/mpsse_engine.h"
#include "entry_points/model_lock.h"
#include "record/call_log.h"
#include "scenario/output_file.h"
#include "scenario/program_reports.h"
#include "scenario/state_file.h"
#include "scenario/state_lock.h"
#include "scenario/vcd_file.h"

namespace vcable {
namespace {

// In this order: of two variables that name one file, the later one is refused. The scenario is
// only read, and is compared so that no file written replaces it.
enum Role { kScenario, kState, kTrace, kVcd, kCallLog, kClockReport, kModelErrors, kRoles };
constexpr const char* kVariables[kRoles] = {
    "VCABLE_SCENARIO", "VCABLE_STATE",        "VCABLE_TRACE",       "VCABLE_VCD",
    "VCABLE_CALL_LOG", "VCABLE_CLOCK_REPORT", "VCABLE_MODEL_ERRORS"};

// What the program named, located when the cable was first used (so that a change of folder
// moves nothing); an empty target is not named, or refused. Written by StartProgramFiles, read at
// the end. Only the process that first used the cable writes: a copy made by fork does not.
struct Files {
    std::string target[kRoles];
    long owner = -1;
    output_file::OutputFile trace;
    int cables[8] = {0, 1, 2, 3, 4, 5, 6, 7};  // the trace's cable numbers, as hook arguments
};
Files files;

// A file refused when the cable is first used: said on standard error, and kept as a model error
// so that tests, hosts and the model errors file see it.
void Refuse(Role role, const std::string& why) {
    std::fprintf(stderr, "virtual cable: %s: %s\n", kVariables[role], why.c_str());
    RecordModelError("%s: %s", kVariables[role], why.c_str());
    files.target[role].clear();
}

// A problem at the end, when nobody reads the model errors any more.
void Report(Role role, const std::string& why) {
    std::fprintf(stderr, "virtual cable: %s: %s\n", kVariables[role], why.c_str());
}

void LocateFiles() {
    for (int role = 0; role < kRoles; ++role) {
        const char* value = std::getenv(kVariables[role]);
        if (value == nullptr || *value == '\0') continue;
        std::string& target = files.target[role] = output_file::Locate(value);
        const std::string why = role == kScenario ? "" : output_file::NotReplaceable(target);
        if (!why.empty()) {
            Refuse(Role(role), "cannot write " + target + ": " + why + "; it is left as it is");
            continue;
        }
        for (int earlier = 0; earlier < role && !target.empty(); ++earlier) {
            if (files.target[earlier].empty()) continue;
            if (!output_file::SameFile(files.target[earlier], target)) continue;
            Refuse(Role(role), std::string("names the same file as ") + kVariables[earlier] + " (" +
                                   target + "); it is not written");
        }
    }
}

// Under the lock, the state file loads if it is there. One that does not load is left as it is
// and not saved, or the end would replace it with the scenario's fresh memory.
void StartState() {
    const std::string& target = files.target[kState];
    std::string why;
    if (!state_lock::Acquire(target, state_lock::kWaitSeconds, why)) {
        return Refuse(kState, why + "; the state file is neither loaded nor saved");
    }
    std::error_code code;
    if (std::filesystem::exists(target, code) && !state_file::Load(target, why)) {
        state_lock::Release();
        Refuse(kState, why + "; it is left as it is and not saved at the end");
    }
}

void SaveState() {
    const std::string& target = files.target[kState];
    if (target.empty()) return;
    std::string why;
    std::error_code code;
    // A host that put other devices in place since (another scenario) would replace the saved
    // ones with them.
    if (std::filesystem::exists(target, code) && !state_file::Fits(target, why)) {
        Report(kState, why + "; the devices changed since it was loaded, so it is left as it is");
    } else if (!state_file::Save(target, why)) {
        Report(kState, why);
    }
    state_lock::Release();
}

void TraceLine(void* user, const char* line) {
    files.trace.Printf("cable %d: %s\n", *static_cast<int*>(user), line);
}

void StartTrace() {
    std::string why;
    if (!files.trace.Open(files.target[kTrace], why)) return Refuse(kTrace, why);
    for (int c = 0; c < DeviceCount() && c < 8; ++c) {
        if (auto* engine = dynamic_cast<MpsseEngine*>(CableMpssePort(c))) {
            engine->SetTrace(&TraceLine, &files.cables[c]);
        }
    }
}

void WriteReport(Role role, void (*write)(output_file::OutputFile&)) {
    if (files.target[role].empty()) return;
    output_file::OutputFile file;
    std::string why;
    if (file.Open(files.target[role], why)) write(file);
    if (!file.isOpen() || !file.Commit(why)) Report(role, why);
}

void WriteProgramFiles() {
    if (files.owner != static_cast<long>(getpid())) return;
    ModelLock lock;
    SaveState();
    WriteReport(kClockReport, &WriteClockReport);
    WriteReport(kModelErrors, &WriteModelErrors);
    WriteReport(kCallLog, &WriteCallLog);
    std::string why;
    if (files.trace.isOpen() && !files.trace.Commit(why)) Report(kTrace, why);
    if (!FinishVcdFile(why)) Report(kVcd, why);
}

}  // namespace

void StartProgramFiles() {
    LocateFiles();
    bool any = false;
    for (int role = kState; role < kRoles; ++role) any = any || !files.target[role].empty();
    if (!any) return;
    if (!files.target[kState].empty()) StartState();
    if (!files.target[kTrace].empty()) StartTrace();
    std::string why;
    if (!files.target[kVcd].empty() && !StartVcdFile(files.target[kVcd], why)) Refuse(kVcd, why);
    // The call log's storage is made now, so it outlives the handler registered after it.
    ModelErrorCount();
    files.owner = static_cast<long>(getpid());
    std::atexit(&WriteProgramFiles);
}

}  // namespace vcable
