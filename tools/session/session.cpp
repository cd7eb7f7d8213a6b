#include "session/session.h"

#include <cstdio>

#include "common/d2xx_library.h"
#include "common/os.h"
#include "common/report.h"
#include "kestrellink_result_codes.h"

namespace kestrel {

namespace {

// The virtual cable's own file variables that are set, by name.
std::vector<NamedFile> VirtualCableFiles() {
    std::vector<NamedFile> files;
    if (const char* value = std::getenv(kVirtualCableScenarioVariable); value && *value)
        files.push_back({kVirtualCableScenarioVariable, value});
    for (const char* variable : kVirtualCableFileVariables) {
        const char* value = std::getenv(variable);
        if (value && *value) files.push_back({variable, value});
    }
    return files;
}

// The virtual cable's files join the command's in the one-file-one-role check. VCABLE_STATE is
// refused on the virtual cable: the tool keeps the cable's memory with --state, and a state the
// cable loaded by itself would be replaced by the tool's scenario and saved over at the end.
int AddVirtualCableFiles(const GlobalOptions& options, std::vector<NamedFile>& files) {
    for (const NamedFile& file : VirtualCableFiles()) {
        const std::string role = file.role;
        if (role == "VCABLE_STATE" && options.virtualScenario) {
            return Fail(kExitUsage, "VCABLE_STATE is set (" + file.path +
                                        "): kestrel keeps the virtual cable's memory with --state "
                                        "FILE only; unset VCABLE_STATE");
        }
        // Read twice is no conflict: the scenario --virtual names may be VCABLE_SCENARIO's.
        const bool sameScenario =
            role == "VCABLE_SCENARIO" && options.virtualScenario &&
            !SharedFileProblem({{"", *options.virtualScenario}, {"", file.path}}).empty();
        if (!sameScenario) files.push_back(file);
    }
    return kExitOk;
}

}  // namespace

int CheckCommandFiles(const GlobalOptions& options, const CommandFiles& own) {
    std::vector<NamedFile> files = own.read;
    files.insert(files.end(), own.written.begin(), own.written.end());
    files.push_back({"--state", options.state});
    // The lock beside the state is the lock's alone: another file written over it locks nothing.
    if (!options.state.empty()) {
        files.push_back({"the lock of --state", FollowLinks(options.state) + ".lock"});
    }
    files.push_back({"--trace", options.trace});
    files.push_back({"--vcd", options.vcd});
    if (options.virtualScenario) files.push_back({"the scenario", *options.virtualScenario});
    if (const int code = AddVirtualCableFiles(options, files)) return code;
    const std::string problem = SharedFileProblem(files);
    return problem.empty() ? kExitOk : Fail(kExitUsage, problem);
}

std::string OpenResultText(int code, bool uart) {
    namespace codes = kestrellink_result_codes;
    const char* meaning =
        uart ? codes::Meaning(codes::kOpenDevice4, code) : codes::Meaning(codes::kOpenDevice, code);
    return meaning ? meaning : "unknown result";
}

Session::~Session() {
    if (loaded_) UnLoadD2XXDLL();
    if (started_) KeepVirtualMemory(kExitOk);
}

std::string Session::CableName() const {
    if (!virtual_) return d2xxPath_.empty() ? "vendor D2XX library" : "D2XX library " + d2xxPath_;
    const std::string& scenario = *options_.virtualScenario;
    return scenario.empty() ? "virtual cable (embedded default scenario)"
                            : "virtual cable (scenario " + scenario + ")";
}

std::string Session::D2xxLibraryPath() const {
    return d2xxPath_.empty() ? os::SystemVendorLibrary() : d2xxPath_;
}

int Session::LoadChosenD2xx(std::string& error) {
    D2xxChoice choice;
    if (!ChooseD2xxLibrary(options_.d2xx, choice, error)) return kExitNoLibrary;
    d2xxPath_ = choice.path;
    if (choice.path.empty()) return kExitOk;
    std::string reason;
    if (!os::LoadLibraryFile(choice.path, reason)) {
        error = "cannot load the D2XX library " + choice.path + ": " + reason;
        return kExitNoLibrary;
    }
    return kExitOk;
}

int Session::Start(bool virtualByDefault) {
    if (!options_.virtualScenario && virtualByDefault && !options_.hardware) {
        options_.virtualScenario = "";
    }
    if (const int code = CheckCommandFiles(options_)) return code;
    if (options_.virtualScenario && !options_.d2xx.empty()) {
        return Fail(kExitUsage, "--d2xx chooses the library for a real cable; not with --virtual");
    }
    std::string error;
    if (options_.virtualScenario) {
        if (const int code = StartVirtual()) return code;
    } else if (const int code = LoadChosenD2xx(error)) {
        return Fail(code, error);
    } else if (!options_.trace.empty() || !options_.vcd.empty()) {
        return Fail(kExitUsage, "--trace and --vcd record the virtual cable; add --virtual");
    } else if (!options_.state.empty()) {
        return Fail(kExitUsage, "--state keeps the virtual cable's memory; add --virtual");
    }
    if (const int code = StartRecorders()) return code;
    if (const int code = LoadLibrary()) return code;
    if (virtual_) {
        memory_ = virtual_->Remember();
        started_ = true;
    }
    report::SetCable({{"description", json::String(options_.description)},
                      {"serial", json::String(options_.serial)},
                      {"library", json::String(CableName())},
                      {"d2xx", json::String(virtual_            ? "virtual"
                                            : d2xxPath_.empty() ? "vendor"
                                                                : d2xxPath_)}});
    return kExitOk;
}

// The virtual cable's library, its scenario and, under its lock, the state file.
int Session::StartVirtual() {
    std::string error;
    const std::string& state = options_.state;
    if (!state.empty() && !CheckOutputTarget(state, "--state", false, error)) {
        return Fail(kExitFile, error);
    }
    // The scenario is a file the tool reads like its other inputs: a folder, device or FIFO is
    // refused here, unread.
    std::vector<uint8_t> scenario;
    const std::string& scenarioPath = *options_.virtualScenario;
    if (!scenarioPath.empty() && scenarioPath != "-" &&
        !ReadInputFile(scenarioPath, kMaxScenarioBytes, scenario, error)) {
        return Fail(kExitModel, "--virtual: " + error);
    }
    virtual_ = std::make_unique<VirtualCable>();
    if (!virtual_->Load(error)) return Fail(kExitNoLibrary, error);
    if (!virtual_->LoadScenario(*options_.virtualScenario, error)) {
        return Fail(kExitModel, error);
    }
    if (state.empty()) return kExitOk;
    if (!stateLock_.Acquire(state, kStateLockWaitSeconds, error)) {
        return Fail(kExitFile, "--state: " + error);
    }
    if (os::IsFile(state) && !virtual_->LoadState(state, error)) {
        return Fail(kExitFile, "--state: " + error);
    }
    return kExitOk;
}

int Session::StartRecorders() {
    std::string error;
    if (!options_.trace.empty()) {
        trace_ = std::make_unique<TraceRecorder>();
        if (!trace_->Open(options_.trace, error)) return Fail(kExitFile, error);
    }
    if (!options_.vcd.empty()) {
        vcd_ = std::make_unique<VcdRecorder>();
        if (!vcd_->Open(options_.vcd, error)) return Fail(kExitFile, error);
        if (!vcd_->Attach(*virtual_, options_.vcdCable, error))
            return Fail(kExitUnavailable, error);
    }
    if (trace_) trace_->Attach(*virtual_);
    return kExitOk;
}

int Session::LoadLibrary() {
    namespace codes = kestrellink_result_codes;
    const int loaded = LoadD2XXDLL();
    if (loaded == codes::kLoadNoLibrary) {
        return Fail(kExitNoLibrary, virtual_ ? "LoadD2XXDLL could not load the virtual cable"
                                             : std::string("no D2XX library (") +
                                                   os::kVendorLibraryName +
                                                   ") was found; install the vendor's library "
                                                   "or use --virtual");
    }
    if (loaded != codes::kLoadOk) {
        return Fail(kExitNoLibrary, "LoadD2XXDLL returned " + std::to_string(loaded) +
                                        ": the D2XX library lacks an entry point");
    }
    loaded_ = true;
    return kExitOk;
}

int Session::Finish(int code) {
    code = CheckModel(code);
    if (loaded_) {
        CloseDevice();
        UnLoadD2XXDLL();
        loaded_ = false;
    }
    if (started_) code = KeepVirtualMemory(code);
    std::string error;
    if ((trace_ && !trace_->Finish(error)) || (vcd_ && !vcd_->Finish(error))) {
        const int failed = Fail(kExitFile, error);
        if (code == kExitOk) code = failed;
    }
    return code;
}

// A virtual cable whose model saw something a real cable would not survive (a protocol the part
// does not speak, a line driven both ways) fails a command that otherwise succeeded.
int Session::CheckModel(int code) {
    if (!virtual_ || !loaded_) return code;
    const VirtualApi& api = virtual_->api();
    const uint32_t errors = api.vc_model_error_count();
    for (uint32_t e = 0; e < errors; ++e) {
        const std::string text = std::string("model error: ") + api.vc_model_error(e);
        if (code == kExitOk) {
            code = Fail(kExitModel, text);
        } else {
            EndProgressLine();
            std::fprintf(stderr, "kestrel: %s\n", text.c_str());
            report::Error(text);
        }
    }
    return code;
}

// The virtual cable saves into a name of this process's own beside the state file, which then
// replaces the state file: a reader never sees half a state, and two writers never share a name.
// A state file reached through a symbolic link is replaced where the link points.
bool Session::SaveState(std::string& error) {
    const std::string target = FollowLinks(options_.state);
    const std::string temporary = TemporaryNameBeside(target);
    const int slot = RemoveOnInterrupt(temporary);
    const bool saved =
        virtual_->SaveState(temporary, error) && RenameIntoPlace(temporary, target, error);
    if (!saved) std::remove(temporary.c_str());
    ForgetOnInterrupt(slot);
    return saved;
}

int Session::KeepVirtualMemory(int code) {
    started_ = false;
    std::string error;
    if (!options_.state.empty()) {
        if (SaveState(error)) return code;
        const int failed = Fail(kExitFile, "--state: " + error);
        return code == kExitOk ? failed : code;
    }
    const std::string changes = virtual_->ChangesSince(memory_);
    if (!changes.empty()) {
        EndProgressLine();
        std::fprintf(stderr,
                     "kestrel: note: the virtual cable's changes (%s) are dropped at exit; "
                     "--state FILE keeps them for the next command\n",
                     changes.c_str());
        report::Warning("the virtual cable's changes (" + changes + ") are dropped at exit");
    }
    return code;
}

bool Session::OpenMpsse(CallResult& result) {
    const WideString description = Wide(options_.description);
    const WideString serial = Wide(options_.serial);
    const int code = OpenDevice(description.c_str(), serial.c_str(), options_.divisor);
    if (Check(code, "OpenDevice", result)) return true;
    result.detail =
        "OpenDevice returned " + std::to_string(code) + ": " + OpenResultText(code, false);
    return false;
}

bool Session::OpenUart(uint32_t baud, CallResult& result) {
    const WideString description = Wide(options_.description);
    const WideString serial = Wide(options_.serial);
    const int code = OpenDevice4(description.c_str(), serial.c_str(), baud);
    if (Check(code, "OpenDevice4", result)) return true;
    result.detail =
        "OpenDevice4 returned " + std::to_string(code) + ": " + OpenResultText(code, true);
    return false;
}

}  // namespace kestrel
