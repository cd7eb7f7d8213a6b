#include "commands/cable_runs.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/common.h"
#include "common/os.h"
#include "common/report.h"

namespace kestrel {
namespace {

// How long the processes get to end once a stop signal is passed on. Each ends at its next safe
// point, after putting back a flash's protection, which on a loaded machine can take seconds;
// killing it sooner would leave the protection off. Only a stuck process waits this long, and
// the bound stays well under the 90 s a service manager usually allows a stop.
constexpr int kStopGraceSeconds = 30;
// How often the run looks at its processes and at the signals it caught.
constexpr int kPollMilliseconds = 50;
// How long a killed process is waited for.
constexpr int kKillWaitMilliseconds = 2000;

std::string StreamPath(const std::string& folder, size_t cable, const char* suffix) {
    return folder + "/" + std::to_string(cable) + suffix;
}

const char* SignalName(int signal) {
    for (const os::StopSignal& stop : os::kStopSignals) {
        if (stop.number == signal) return stop.name;
    }
    return "a signal";
}

// A process that ended by a stop signal (on Windows, exited as one would) was interrupted.
void Ended(CableRun& run, int code) {
    run.state = CableState::kFinished;
    run.exitCode = code;
    for (const os::StopSignal& stop : os::kStopSignals) {
        if (code == 128 + stop.number) {
            run.state = CableState::kInterrupted;
            run.exitCode = kExitInterrupted;
        }
    }
}

// Collects the processes that have ended, pausing up to `milliseconds` on the first one still
// running; true while any still runs.
bool CollectEnded(std::vector<CableRun>& runs, int milliseconds) {
    bool running = false;
    for (CableRun& run : runs) {
        if (run.state != CableState::kRunning) continue;
        int code = 0;
        if (os::ChildEnded(run.child, running ? 0 : milliseconds, code)) {
            Ended(run, code);
        } else {
            running = true;
        }
    }
    return running;
}

std::string Serials(const std::vector<CableRun>& runs, CableState state) {
    std::string serials;
    for (const CableRun& run : runs) {
        if (run.state == state) serials += (serials.empty() ? "" : ", ") + run.serial;
    }
    return serials;
}

void Say(const std::string& text) {
    std::fprintf(stderr, "kestrel: %s\n", text.c_str());
    report::Warning(text);
}

void PassOn(std::vector<CableRun>& runs, int signal) {
    const std::string running = Serials(runs, CableState::kRunning);
    for (const CableRun& run : runs) {
        if (run.state == CableState::kRunning) os::SignalChild(run.child, signal);
    }
    Say(std::string(SignalName(signal)) + ": stopping the cables still running (" + running +
        "); waiting up to " + std::to_string(kStopGraceSeconds) + " s for them");
}

void KillLeft(std::vector<CableRun>& runs) {
    for (CableRun& run : runs) {
        if (run.state != CableState::kRunning) continue;
        os::KillChild(run.child);
        int code = 0;
        os::ChildEnded(run.child, kKillWaitMilliseconds, code);
        run.state = CableState::kUnknown;
        run.exitCode = kExitInterrupted;
        Say(run.serial + " did not stop within " + std::to_string(kStopGraceSeconds) +
            " s: killed");
    }
}

// The temporary folder's name is UTF-8 as the os layer gives it, which on Windows is not what
// a narrow file name means.
std::filesystem::path Utf8Path(const std::string& path) {
    return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

// Reads a file whole and removes it.
std::string TakeFile(const std::string& path) {
    std::stringstream text;
    {
        std::ifstream in(Utf8Path(path), std::ios::binary);
        text << in.rdbuf();
    }
    std::error_code ignored;
    std::filesystem::remove(Utf8Path(path), ignored);
    return text.str();
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

// What became of a cable that did not finish by itself; empty for one that did.
std::string StateText(const CableRun& run) {
    switch (run.state) {
        case CableState::kNotStarted:
            return "never started, the run was stopped first; nothing was done on it";
        case CableState::kInterrupted:
            return "its command stopped part way; the cable may hold part of what it was doing";
        case CableState::kUnknown:
            return "did not stop within " + std::to_string(kStopGraceSeconds) +
                   " s and was killed; what it did to the cable is unknown";
        default:
            return {};
    }
}

// The last thing the cable's process said went wrong (which stage failed), or its state.
std::string LastError(const CableRun& run) {
    if (run.state != CableState::kFinished) return StateText(run);
    std::string last;
    for (const std::string& line : Lines(run.err)) {
        if (line.rfind("kestrel: ", 0) == 0) last = line.substr(9);
    }
    return last;
}

// Each cable's outcome and its messages for people, prefixed with its serial (on standard error
// with --json, as everything for people is).
void PrintCable(const CableRun& run, bool json) {
    const std::string state = StateText(run);
    std::printf("cable %s: exit code %d (%s)%s\n", run.serial.c_str(), run.exitCode,
                report::ExitClass(run.exitCode), state.empty() ? "" : (": " + state).c_str());
    for (const std::string& line : Lines(run.err + (json ? "" : run.out)))
        std::printf("  [%s] %s\n", run.serial.c_str(), line.c_str());
}

const char* StateName(CableState state) {
    switch (state) {
        case CableState::kNotStarted:
            return "not-started";
        case CableState::kInterrupted:
            return "interrupted";
        case CableState::kUnknown:
            return "unknown";
        default:
            return "finished";
    }
}

std::string CableJson(const CableRun& run, bool json) {
    std::string document = run.out;
    while (!document.empty() && (document.back() == '\n' || document.back() == '\r'))
        document.pop_back();
    const bool whole = json && !document.empty() && document.front() == '{';
    return json::Object({{"serial", json::String(run.serial)},
                         {"exit_code", json::Number(run.exitCode)},
                         {"result", json::String(report::ExitClass(run.exitCode))},
                         {"state", json::String(StateName(run.state))},
                         {"document", whole ? document : "null"}});
}

// How many succeeded, each one that failed with the stage it failed at, and after a stop signal
// which cables finished, which were stopped and which were never started.
void PrintSummary(const std::vector<CableRun>& runs, int stopSignal) {
    size_t failed = 0;
    for (const CableRun& run : runs) failed += run.exitCode != kExitOk;
    std::printf("%zu of %zu cable(s) succeeded\n", runs.size() - failed, runs.size());
    for (const CableRun& run : runs) {
        if (run.exitCode != kExitOk)
            std::printf("  failed: %s (exit code %d, %s): %s\n", run.serial.c_str(), run.exitCode,
                        report::ExitClass(run.exitCode), LastError(run).c_str());
    }
    if (stopSignal == 0) return;
    std::string text = std::string("stopped by ") + SignalName(stopSignal);
    const std::pair<CableState, const char*> states[] = {
        {CableState::kFinished, "finished"},
        {CableState::kInterrupted, "interrupted part way"},
        {CableState::kUnknown, "killed, state unknown"},
        {CableState::kNotStarted, "not started, nothing done"}};
    for (const auto& [state, name] : states) {
        const std::string serials = Serials(runs, state);
        if (!serials.empty()) text += std::string("; ") + name + ": " + serials;
    }
    std::printf("%s\n", text.c_str());
}

}  // namespace

void StartCables(std::vector<CableRun>& runs, const std::string& folder, const std::string& input,
                 const std::string& variable) {
    for (size_t c = 0; c < runs.size() && os::CaughtStopSignal() == 0; ++c) {
        CableRun& run = runs[c];
        std::string error;
        const os::ChildStreams streams{input, StreamPath(folder, c, ".out"),
                                       StreamPath(folder, c, ".err")};
        run.child = os::StartSelf(run.arguments, variable, streams, error);
        run.state = CableState::kRunning;
        if (run.child < 0) {
            run.state = CableState::kFinished;
            run.exitCode = kExitUnavailable;
            run.err = "kestrel: cannot start: " + error + "\n";
        }
    }
}

int WaitForCables(std::vector<CableRun>& runs) {
    int stopSignal = 0;
    auto deadline = std::chrono::steady_clock::time_point::max();
    while (CollectEnded(runs, kPollMilliseconds)) {
        const int caught = os::CaughtStopSignal();
        if (caught != 0 && stopSignal == 0) {
            stopSignal = caught;
            PassOn(runs, caught);
            deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kStopGraceSeconds);
        } else if (std::chrono::steady_clock::now() >= deadline) {
            KillLeft(runs);
        }
    }
    return stopSignal != 0 ? stopSignal : os::CaughtStopSignal();
}

std::string ReportCables(std::vector<CableRun>& runs, const std::string& folder, bool json,
                         int stopSignal) {
    std::vector<std::string> cables;
    for (size_t c = 0; c < runs.size(); ++c) {
        CableRun& run = runs[c];
        if (run.state == CableState::kNotStarted) run.exitCode = kExitInterrupted;
        // A process that could not start may still have left its files.
        run.out = TakeFile(StreamPath(folder, c, ".out"));
        const std::string err = TakeFile(StreamPath(folder, c, ".err"));
        if (run.child >= 0) run.err = err;
        PrintCable(run, json);
        cables.push_back(CableJson(run, json));
    }
    PrintSummary(runs, stopSignal);
    return json::Array(cables);
}

}  // namespace kestrel
