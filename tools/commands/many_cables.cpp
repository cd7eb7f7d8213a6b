#include "commands/many_cables.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "commands/cable_runs.h"
#include "commands/commands.h"
#include "common/common.h"
#include "common/d2xx_list.h"
#include "common/os.h"
#include "common/report.h"

namespace kestrel {
namespace {

constexpr const char* kSerialMark = "{serial}";

// In the environment of each cable's process: the id of the run's process, which it ends with.
constexpr const char* kRunVariable = "KESTREL_CABLES_RUN";
// Said of every refusal before the cables' processes start.
constexpr const char* kNoCableTouched = "; no cable was touched";

std::string Replace(std::string text, const std::string& serial) {
    for (size_t at = text.find(kSerialMark); at != std::string::npos;
         at = text.find(kSerialMark, at + serial.size())) {
        text.replace(at, std::string(kSerialMark).size(), serial);
    }
    return text;
}

// The serials the cable library in use sees: the scenario's cables through the control API on the
// virtual cable, the D2XX library's listing on a real one.
bool AllSerials(const GlobalOptions& global, std::vector<std::string>& serials) {
    GlobalOptions listing = global;  // the files name one cable each: not for the listing
    listing.state.clear();
    listing.trace.clear();
    listing.vcd.clear();
    Session session(listing);
    if (session.Start() != kExitOk) return false;
    if (session.isVirtual()) {
        const VirtualApi& api = session.virtualCable()->api();
        for (int d = 0; d < api.vc_device_count(); ++d) {
            VcEepromView view{};
            if (api.vc_eeprom_view(d, &view) == 0 && view.programmed && view.serial_number[0])
                serials.push_back(view.serial_number);
        }
        return true;
    }
    std::vector<D2xxChannel> channels;
    std::string error;
    if (!ListD2xxChannels(session.D2xxLibraryPath(), channels, error)) {
        std::fprintf(stderr, "kestrel: cannot list the cables: %s\n", error.c_str());
        return false;
    }
    for (const D2xxCable& cable : GroupCables(channels)) {
        if (!cable.serial.empty()) serials.push_back(cable.serial);
    }
    return true;
}

// Two processes must never write one file: with several cables, every file the run writes names
// the cable. Nor can any cable's process write to standard output, which is its own file whose
// lines the run prints: a file streamed there would be lost.
int CheckWrittenFiles(const GlobalOptions& global, const CommandFiles& files, size_t cables) {
    std::vector<NamedFile> written = {
        {"--state", global.state}, {"--trace", global.trace}, {"--vcd", global.vcd}};
    written.insert(written.end(), files.written.begin(), files.written.end());
    for (const NamedFile& file : written) {
        const std::string name = std::string(file.role) + " \"" + file.path + "\"";
        if (file.path == "-") {
            return Fail(kExitUsage, name +
                                        ": a cable's process cannot stream to standard output "
                                        "when --cables runs; name a file with {serial} in it" +
                                        kNoCableTouched);
        }
        if (cables > 1 && !file.path.empty() && file.path.find(kSerialMark) == std::string::npos) {
            return Fail(kExitUsage,
                        name + " must contain {serial} when several cables run" + kNoCableTouched);
        }
    }
    return kExitOk;
}

// The virtual cable's own files, named in the environment that every cable's process inherits,
// would be one file for all of them.
int CheckVirtualCableFiles() {
    for (const char* variable : kVirtualCableFileVariables) {
        const char* value = std::getenv(variable);
        if (value && *value) {
            return Fail(kExitUsage, std::string(variable) + "=" + value +
                                        " would be one file for every cable's process; unset "
                                        "it for --cables (--state, --trace and --vcd with "
                                        "{serial} keep one file per cable)" +
                                        kNoCableTouched);
        }
    }
    return kExitOk;
}

bool ReadsStandardInput(const CommandFiles& files) {
    for (const NamedFile& file : files.read) {
        if (file.path == "-") return true;
    }
    return false;
}

// The serial numbers of --cables, an empty one wherever two commas meet or one starts or ends the
// list, so that CheckSerialsApart can refuse it instead of it vanishing.
std::vector<std::string> SplitSerials(const std::string& text) {
    std::vector<std::string> serials;
    size_t start = 0;
    for (size_t comma; (comma = text.find(',', start)) != std::string::npos; start = comma + 1) {
        serials.push_back(text.substr(start, comma - start));
    }
    serials.push_back(text.substr(start));
    return serials;
}

// Each child opens its cable by a serial-number part, as --serial does: a serial named twice, or
// one that is part of another, would let two processes reach one cable.
int CheckSerialsApart(const std::vector<std::string>& serials) {
    for (size_t a = 0; a < serials.size(); ++a) {
        if (serials[a].empty()) return Fail(kExitUsage, "--cables: an empty serial number");
        for (size_t b = 0; b < serials.size(); ++b) {
            if (a != b && serials[b].find(serials[a]) != std::string::npos) {
                return Fail(kExitUsage, "--cables: \"" + serials[a] + "\" would also open \"" +
                                            serials[b] + "\" (opens go by a part of the serial)");
            }
        }
    }
    return kExitOk;
}

// The child's command line: this one without the cable choice, with --serial and {serial}.
std::vector<std::string> ChildArguments(int argc, char** argv, const std::string& serial) {
    std::vector<std::string> arguments = {"--serial", serial};
    bool afterDashes = false;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (!afterDashes && word == "--all-cables") continue;
        if (!afterDashes && word == "--cables") {
            ++i;
            continue;
        }
        if (!afterDashes && word.rfind("--cables=", 0) == 0) continue;
        if (word == "--") afterDashes = true;
        arguments.push_back(Replace(word, serial));
    }
    return arguments;
}

// The checks that hold before anything starts, in the order a user would fix them.
int CheckRun(const ManyCablesOptions& many, const GlobalOptions& global) {
    if (many.all && many.cablesGiven)
        return Fail(kExitUsage, "--cables and --all-cables exclude each other");
    if (!global.serial.empty()) return Fail(kExitUsage, "--serial and --cables exclude each other");
    return CheckVirtualCableFiles();
}

int CombinedExitCode(const std::vector<CableRun>& runs) {
    int combined = kExitOk;
    for (const CableRun& run : runs) combined = std::max(combined, run.exitCode);
    return combined;
}

// Reads the command's standard input once, here, so that each cable's process reads the same
// bytes from a file of its own; then starts the processes, waits for them and reports them. Sets
// the stop signal that ended the run, if one did.
int RunCables(std::vector<CableRun>& runs, const CommandFiles& files, bool json, int& stopSignal) {
    std::vector<uint8_t> bytes;
    std::string error;
    if (ReadsStandardInput(files) && !ReadInputFile("-", kMaxInputBytes, bytes, error))
        return Fail(kExitFile, error + kNoCableTouched);
    os::CatchStopSignals();  // from here on the run ends only after it has cleaned up
    StandardInputCopy input;
    if (ReadsStandardInput(files) && !input.Write(bytes, error))
        return Fail(kExitFile, error + kNoCableTouched);
    const std::string folder = os::MakeTemporaryFolder("kestrel-cables-");
    if (folder.empty())
        return Fail(kExitFile, std::string("cannot make a temporary folder") + kNoCableTouched);
    StartCables(runs, folder, input.path(),
                std::string(kRunVariable) + "=" + std::to_string(os::ProcessId()));
    stopSignal = WaitForCables(runs);
    report::SetCables(ReportCables(runs, folder, json, stopSignal));
    os::RemoveFolder(folder);
    return kExitOk;
}

}  // namespace

void AddManyCablesOptions(CLI::App& app, ManyCablesOptions& many) {
    // One word, split here: CLI11's own splitting drops empty items and, for a word of commas
    // alone, takes the command's name as a serial.
    app.add_option("--cables", many.cables,
                   "Run the command on each of these cables (serial numbers) at once, one "
                   "process each; {serial} in --state and file names becomes the cable's serial")
        ->each([&many](const std::string&) { many.cablesGiven = true; })
        ->type_name("SERIAL,...");
    app.add_flag("--all-cables", many.all, "Like --cables, with every cable attached");
}

int RunManyCables(const ManyCablesOptions& many, const GlobalOptions& global,
                  const CommandFiles& files, bool json, int argc, char** argv) {
    if (const int code = CheckRun(many, global)) return code;
    std::vector<std::string> serials;
    if (many.cablesGiven) serials = SplitSerials(many.cables);
    if (many.all && !AllSerials(global, serials))
        return Fail(kExitNoLibrary, "cannot list the cables for --all-cables");
    if (serials.empty()) return Fail(kExitNoCable, "no cable to run on");
    if (const int code = CheckSerialsApart(serials)) return code;
    if (const int code = CheckWrittenFiles(global, files, serials.size())) return code;
    std::vector<CableRun> runs(serials.size());
    for (size_t c = 0; c < serials.size(); ++c) {
        runs[c].serial = serials[c];
        runs[c].arguments = ChildArguments(argc, argv, serials[c]);
    }
    int stopSignal = 0;
    if (const int code = RunCables(runs, files, json, stopSignal)) return code;
    if (stopSignal == 0) return CombinedExitCode(runs);
    // Stopped: the report and the run's document first, then the end a stop signal gives.
    report::Finish(kExitInterrupted);
    std::fflush(nullptr);
    os::StopBySignal(stopSignal);
    return kExitInterrupted;
}

void StopWithRun() {
    const char* run = std::getenv(kRunVariable);
    if (run && *run) os::StopWithParent(std::strtol(run, nullptr, 10));
}

}  // namespace kestrel
