#include "commands/many_cables.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "commands/commands.h"
#include "common/common.h"
#include "common/d2xx_list.h"
#include "common/os.h"
#include "common/report.h"

namespace kestrel {
namespace {

constexpr const char* kSerialMark = "{serial}";

struct CableRun {
    std::string serial;
    long child = -1;
    int exitCode = 1;
    std::string out;  // the child's standard output: its document with --json
    std::string err;  // its messages for people
};

std::string Replace(std::string text, const std::string& serial) {
    for (size_t at = text.find(kSerialMark); at != std::string::npos;
         at = text.find(kSerialMark, at + serial.size())) {
        text.replace(at, std::string(kSerialMark).size(), serial);
    }
    return text;
}

// The temporary folder's name is UTF-8 as the os layer gives it, which on Windows is not what
// a narrow file name means.
std::filesystem::path Utf8Path(const std::string& path) {
    return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

std::string ReadWhole(const std::string& path) {
    std::ifstream in(Utf8Path(path), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
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

// Two processes must never write one file: with several cables, every file the run writes
// names the cable.
int CheckFilesNameTheCable(const GlobalOptions& global, size_t cables) {
    if (cables < 2) return kExitOk;
    const std::pair<const char*, const std::string*> files[] = {
        {"--state", &global.state}, {"--trace", &global.trace}, {"--vcd", &global.vcd}};
    for (const auto& [option, path] : files) {
        if (!path->empty() && path->find(kSerialMark) == std::string::npos) {
            return Fail(kExitUsage, std::string(option) + " \"" + *path +
                                        "\" must contain {serial} when several cables run");
        }
    }
    return kExitOk;
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

// The lines of what a process wrote; a process on Windows ends them with "\r\n".
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// The last thing the cable's process said went wrong: which stage failed.
std::string LastError(const CableRun& run) {
    std::string last;
    for (const std::string& line : Lines(run.err)) {
        if (line.rfind("kestrel: ", 0) == 0) last = line.substr(9);
    }
    return last;
}

// Each cable's outcome and its messages for people, prefixed with its serial (on standard error
// with --json, as everything for people is).
void PrintCable(const CableRun& run, bool json) {
    std::printf("cable %s: exit code %d (%s)\n", run.serial.c_str(), run.exitCode,
                report::ExitClass(run.exitCode));
    for (const std::string& line : Lines(run.err + (json ? "" : run.out)))
        std::printf("  [%s] %s\n", run.serial.c_str(), line.c_str());
}

std::string CableJson(const CableRun& run, bool json) {
    std::string document = run.out;
    while (!document.empty() && (document.back() == '\n' || document.back() == '\r'))
        document.pop_back();
    const bool whole = json && !document.empty() && document.front() == '{';
    return json::Object({{"serial", json::String(run.serial)},
                         {"exit_code", json::Number(run.exitCode)},
                         {"result", json::String(report::ExitClass(run.exitCode))},
                         {"document", whole ? document : "null"}});
}

// How many succeeded, and each one that failed with the stage it failed at.
void PrintSummary(const std::vector<CableRun>& runs) {
    size_t failed = 0;
    for (const CableRun& run : runs) failed += run.exitCode != kExitOk;
    std::printf("%zu of %zu cable(s) succeeded\n", runs.size() - failed, runs.size());
    for (const CableRun& run : runs) {
        if (run.exitCode != kExitOk)
            std::printf("  failed: %s (exit code %d, %s): %s\n", run.serial.c_str(), run.exitCode,
                        report::ExitClass(run.exitCode), LastError(run).c_str());
    }
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

int RunManyCables(const ManyCablesOptions& many, const GlobalOptions& global, bool json, int argc,
                  char** argv) {
    if (many.all && many.cablesGiven)
        return Fail(kExitUsage, "--cables and --all-cables exclude each other");
    if (!global.serial.empty()) return Fail(kExitUsage, "--serial and --cables exclude each other");
    std::vector<std::string> serials;
    if (many.cablesGiven) serials = SplitSerials(many.cables);
    if (many.all && !AllSerials(global, serials))
        return Fail(kExitNoLibrary, "cannot list the cables for --all-cables");
    if (serials.empty()) return Fail(kExitNoCable, "no cable to run on");
    if (const int code = CheckSerialsApart(serials)) return code;
    if (const int code = CheckFilesNameTheCable(global, serials.size())) return code;
    const std::string folder = os::MakeTemporaryFolder("kestrel-cables-");
    if (folder.empty()) return Fail(kExitFile, "cannot make a temporary folder");

    std::vector<CableRun> runs(serials.size());
    for (size_t c = 0; c < serials.size(); ++c) {
        CableRun& run = runs[c];
        run.serial = serials[c];
        std::string error;
        // Tells the command that other processes run beside it (CheckCommandFiles).
        const std::string variable =
            runs.size() > 1 ? std::string(kCableOfManyVariable) + "=" + run.serial : "";
        run.child = os::StartSelf(ChildArguments(argc, argv, run.serial), variable,
                                  folder + "/" + std::to_string(c) + ".out",
                                  folder + "/" + std::to_string(c) + ".err", error);
        if (run.child < 0) {
            run.exitCode = kExitUnavailable;
            run.err = "kestrel: cannot start: " + error + "\n";
        }
    }
    int combined = kExitOk;
    std::vector<std::string> cables;
    for (size_t c = 0; c < runs.size(); ++c) {
        CableRun& run = runs[c];
        const std::string base = folder + "/" + std::to_string(c);
        if (run.child >= 0) {
            run.exitCode = os::WaitChild(run.child);
            run.out = ReadWhole(base + ".out");
            run.err = ReadWhole(base + ".err");
        }
        std::error_code ignored;
        std::filesystem::remove(Utf8Path(base + ".out"), ignored);
        std::filesystem::remove(Utf8Path(base + ".err"), ignored);
        PrintCable(run, json);
        cables.push_back(CableJson(run, json));
        if (run.exitCode > combined) combined = run.exitCode;
    }
    os::RemoveFolder(folder);
    PrintSummary(runs);
    report::SetCables(json::Array(cables));
    return combined;
}

}  // namespace kestrel
