// kestrel eeprom program|erase: the factory procedures, with the lines they add to Log.txt. The
// log must be writable before anything is programmed, and after ProgramDevice the tool reads the
// cable's identity back through the exports, because the procedure itself reports success even
// when the cable was pulled half way.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

#include "commands/commands.h"
#include "common/inputs.h"
#include "common/os.h"
#include "common/report.h"
#include "kestrellink_result_codes.h"

namespace kestrel {
namespace {

struct EepromOptions {
    std::string description = "ZV7300LNK";
    std::string serial = "ZV000001";
    std::string text;
    std::string logDir = ".";
};

// What an EEPROM field holds of a string: at most `limit` characters (the interface's 63, 15 and
// 63), one byte each; a character above U+00FF has no byte and shows as '?'.
WideString AsStored(const std::string& text, size_t limit) {
    WideString stored = Wide(text).substr(0, limit);
    for (kl_wchar& c : stored) c = c > 0xFF ? static_cast<kl_wchar>('?') : c;
    return stored;
}
constexpr size_t kDescriptionLimit = 63;
constexpr size_t kSerialLimit = 15;
constexpr size_t kTextLimit = 63;
// OpenDevice_EDP2 hands out the user area's first 32 bytes, up to the first zero byte.
constexpr size_t kUserTextShown = 32;
// After its port cycle the cable may take a moment to enumerate again.
constexpr int kReadBackAttempts = 3;
constexpr auto kReadBackPause = std::chrono::seconds(1);
namespace codes = kestrellink_result_codes;

// OpenDevice results that mean "not there (yet)": the stale close of the cycled channel failed,
// no device, no match.
bool NotThereYet(int code) {
    return code == codes::kOpenStaleCloseFailed || code == codes::kOpenNoDevice ||
           code == codes::kOpenNoMatch;
}

// Whether the log can be appended to; false with the reason.
bool CanAppend(const std::string& path, std::string& reason) {
    const int fd = os::OpenFile(path, os::FileMode::kAppendCreate);
    if (fd < 0) {
        reason = std::strerror(errno);
        return false;
    }
    os::CloseFile(fd);
    return true;
}

// A folder of its own for the two lines OpenDevice_EDP2 logs, so that Log.txt keeps only the
// procedure's lines; removed with what is in it.
class ScratchLogFolder {
  public:
    ScratchLogFolder() {
        folder_ = os::MakeTemporaryFolder("kestrel-");
        const WideString wide = Wide(folder_);
        directoryB(wide.c_str());
    }
    ~ScratchLogFolder() {
        if (folder_.empty()) return;
        std::remove((folder_ + "/Log.txt").c_str());
        os::RemoveFolder(folder_);
    }

  private:
    std::string folder_;
};

int OpenEdp2(const WideString& description, const WideString& serial, uint32_t divisor,
             WideString* text) {
    kl_bstr out = nullptr;
    const int code = OpenDevice_EDP2(description.c_str(), serial.c_str(), divisor, &out);
    if (out && text) *text = out;
    os::FreeLibraryString(out);
    return code;
}

// Reads the cable's identity back through the exports: an open with the programmed description
// and serial must find exactly the cable's two channels, and OpenDevice_EDP2 hands out the user
// area. Returns empty when the cable shows what was programmed, else what it shows.
std::string ReadBack(const EepromOptions& o, uint32_t divisor) {
    const ScratchLogFolder scratch;
    const WideString description = AsStored(o.description, kDescriptionLimit);
    const WideString serial = AsStored(o.serial, kSerialLimit);
    WideString text;
    int code = 0;
    for (int attempt = 1;; ++attempt) {
        code = OpenEdp2(description, serial, divisor, &text);
        if (!NotThereYet(code) || attempt == kReadBackAttempts) break;
        std::this_thread::sleep_for(kReadBackPause);
    }
    std::string shows;
    if (code == codes::kOpenOk) {
        const WideString expected = AsStored(o.text, kTextLimit).substr(0, kUserTextShown);
        if (text != expected) {
            shows = "\"" + o.description + "\" serial \"" + o.serial + "\" with user area \"" +
                    Narrow(text.c_str()) + "\"";
        }
    } else if (OpenEdp2(Wide("Dual RS232"), WideString(), divisor, nullptr) == codes::kOpenOk) {
        shows = "blank (it enumerates as \"Dual RS232 A\" and \"Dual RS232 B\")";
    } else if (OpenDevice(description.c_str(), WideString().c_str(), divisor) == codes::kOpenOk) {
        shows = "\"" + o.description + "\" with another serial number than \"" + o.serial + "\"";
    } else {
        shows = "nothing that matches (OpenDevice_EDP2 returned " + std::to_string(code) + ": " +
                OpenResultText(code, false) + ")";
    }
    CloseDevice();
    return shows;
}

// What the EEPROM would keep of a field that differs from what was given, or empty when it keeps
// all of it: the command refuses such a field rather than program something else.
std::string CutShort(const char* option, const std::string& text, size_t limit) {
    const WideString wide = Wide(text);
    const WideString stored = AsStored(text, limit);
    if (stored == wide) return {};
    const std::string why = wide.size() > limit
                                ? "keeps at most " + std::to_string(limit) + " characters of"
                                : "keeps no characters above U+00FF in";
    return std::string(option) + " \"" + text + "\": the EEPROM " + why +
           " it, so it would be cut short to \"" + Narrow(stored.c_str()) +
           "\"; nothing was programmed";
}

// The checks before anything is called: the fields fit the EEPROM and the log can be appended to.
int CheckEeprom(const GlobalOptions& options, const EepromOptions& o, bool program,
                const std::string& log) {
    if (const int code = CheckCommandFiles(options, {{}, {{"the log", log}}})) return code;
    if (program) {
        for (const std::string& problem : {CutShort("--name", o.description, kDescriptionLimit),
                                           CutShort("--program-serial", o.serial, kSerialLimit),
                                           CutShort("--text", o.text, kTextLimit)}) {
            if (!problem.empty()) return Fail(kExitUsage, problem);
        }
    }
    const char* call = program ? "ProgramDevice" : "Erase_ProgedEEPROM";
    std::string reason;
    if (!CheckOutputTarget(log, "the log", false, reason)) {
        return Fail(kExitFile, reason + "; " + call + " was not called, the EEPROM is unchanged");
    }
    if (!CanAppend(log, reason)) {
        return Fail(kExitFile, "cannot write the log " + log + ": " + reason + "; " + call +
                                   " was not called, the EEPROM is unchanged");
    }
    return kExitOk;
}

void ShowVirtualEeprom(Session& session) {
    if (!session.isVirtual()) return;
    // Device 0 of the scenario: the procedures take whatever single cable is attached.
    VcEepromView view{};
    if (session.virtualCable()->api().vc_eeprom_view(0, &view) != 0) return;
    report::Set(
        "eeprom",
        json::Object({{"programmed", json::Bool(view.programmed)},
                      {"description", view.programmed ? json::String(view.description) : "null"},
                      {"serial", view.programmed ? json::String(view.serial_number) : "null"}}));
    std::printf("virtual cable's EEPROM: %s\n",
                view.programmed ? ("programmed, \"" + std::string(view.description) +
                                   "\" serial \"" + view.serial_number + "\"")
                                      .c_str()
                                : "blank");
}

// The exit code once the procedure ran: the log must show it, and a programming must read back.
int Outcome(const char* call, int code, bool program, bool logged, const std::string& log,
            const std::string& shows) {
    if (!logged) {
        std::string reason;
        CanAppend(log, reason);
        const bool done = code == codes::kProgramOk && shows.empty();
        return Fail(kExitFile, "the log " + log + " was not written (" + reason + "); " + call +
                                   " returned " + std::to_string(code) + ", so the " +
                                   (program ? "programming" : "erase") + " itself " +
                                   (done ? "succeeded" : "did not succeed"));
    }
    if (code != codes::kProgramOk) {
        report::LibraryCall(call, code);
        return Fail(kExitLibraryCall, std::string(call) + " returned " + std::to_string(code));
    }
    if (!shows.empty()) {
        return Fail(kExitFailed, "programming reported success but the cable reads back " + shows);
    }
    if (program)
        std::printf("read back through the exports: the cable shows what was programmed\n");
    return kExitOk;
}

std::string LogPath(const EepromOptions& o) { return o.logDir + "/Log.txt"; }

int RunEeprom(const GlobalOptions& options, const EepromOptions& o, bool program) {
    const std::string log = LogPath(o);
    if (const int code = CheckEeprom(options, o, program, log)) return code;
    const char* call = program ? "ProgramDevice" : "Erase_ProgedEEPROM";
    Session session(options);
    if (const int code = session.Start()) return code;
    const WideString dir = Wide(o.logDir);
    directoryB(dir.c_str());
    const long before = FileSize(log);
    Stopwatch watch;
    int code = 0;
    if (program) {
        const WideString description = Wide(o.description);
        const WideString serial = Wide(o.serial);
        const WideString text = Wide(o.text);
        code = ProgramDevice(description.c_str(), serial.c_str(), text.c_str());
    } else {
        code = Erase_ProgedEEPROM();
    }
    std::printf("%s returned %d after %.1f ms; %s:\n", call, code, watch.Milliseconds(),
                log.c_str());
    PrintLogLines(log, before, "  ");
    const bool logged = FileSize(log) > before;
    const std::string shows =
        program && code == codes::kProgramOk ? ReadBack(o, options.divisor) : "";
    ShowVirtualEeprom(session);
    return session.Finish(Outcome(call, code, program, logged, log, shows));
}

}  // namespace

long FileSize(const std::string& path) {
    os::FileFacts facts{};
    return os::PathFactsOf(path, facts) ? static_cast<long>(facts.size) : 0;
}

void PrintLogLines(const std::string& logPath, long sizeBefore, const char* indent) {
    std::ifstream file(logPath, std::ios::binary);
    if (!file) {
        std::printf("%s(no log written)\n", indent);
        return;
    }
    file.seekg(sizeBefore);
    const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::printf("%s%s\n", indent, line.c_str());
        start = end + 1;
    }
}

Command AddEepromCommand(CLI::App& root) {
    auto o = std::make_shared<EepromOptions>();
    CLI::App* app = root.add_subcommand(
        "eeprom", "Program or erase the cable's EEPROM (ProgramDevice / Erase_ProgedEEPROM)");
    app->require_subcommand(1);
    app->add_option("--log-dir", o->logDir, "Folder of Log.txt (directoryB)")
        ->capture_default_str();
    CLI::App* program = app->add_subcommand(
        "program", "Program identity and user area, then read the identity back");
    program->add_option("--name", o->description, "Description to program")->capture_default_str();
    program->add_option("--program-serial", o->serial, "Serial number to program")
        ->capture_default_str();
    program->add_option("--text", o->text, "User-area text");
    app->add_subcommand("erase", "Erase the EEPROM");
    return {app,
            [o, program](const GlobalOptions& options) {
                return RunEeprom(options, *o, program->parsed());
            },
            [o]() -> CommandFiles {
                return {{}, {{"the log", LogPath(*o)}}};
            }};
}

}  // namespace kestrel
