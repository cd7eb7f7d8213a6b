// kestrel: drives the ZV7300LNK cable through the KestrelLink library's exports, on the real cable
// (the vendor's D2XX library) or on the virtual cable (--virtual).
#include <cstdio>
#include <sstream>
#include <vector>

#include "commands/commands.h"
#include "commands/many_cables.h"
#include "commands/options.h"
#include "common/report.h"

#ifdef _WIN32
#define KESTREL_PROGRAM_EXPORT __declspec(dllexport)
#else
#define KESTREL_PROGRAM_EXPORT __attribute__((visibility("default")))
#endif

// The library shows its message boxes through this function when the program defines it; the
// tool turns them into terminal messages instead of waiting for a key.
extern "C" KESTREL_PROGRAM_EXPORT void KestrelLinkMessageBox(const kl_wchar* text) {
    kestrel::EndProgressLine();
    const std::string message = kestrel::Narrow(text);
    std::fprintf(stderr, "kestrel: message: %s\n", message.c_str());
    kestrel::report::Warning("message: " + message);
}

namespace kestrel {
CommandFiles ChosenFiles(const std::vector<Command>& commands) {
    for (const Command& command : commands) {
        if (command.app->parsed() && command.files) return command.files();
    }
    return {};
}
}  // namespace kestrel

namespace {
// --vcd-cable's bound; the scenario says how many there are.
constexpr uint64_t kMaxVirtualCables = 64;

// --json is known before the command line is parsed, so that a parse error is a document too.
bool AsksForJson(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--") return false;
        if (std::string(argv[i]) == "--json") return true;
    }
    return false;
}

// "spi read", "jtag svf": the names of the subcommands the command line chose.
std::string CommandName(const CLI::App& root) {
    std::string name;
    for (const CLI::App* at = &root; !at->get_subcommands().empty();) {
        at = at->get_subcommands().front();
        name += (name.empty() ? "" : " ") + at->get_name();
    }
    return name;
}

// The options that choose the cable and its library, and what the virtual cable records.
void AddCableOptions(CLI::App& app, kestrel::GlobalOptions& global) {
    using kestrel::Number;
    app.add_flag("--hardware", global.hardware,
                 "demo: use the vendor's D2XX library instead of the virtual cable");
    app.add_option("--d2xx", global.d2xx,
                   "Real cable: the D2XX library to use, vendor (the system's, the default), "
                   "libftdi (the one over libftdi1) or a path; default $KESTREL_D2XX")
        ->type_name("LIBRARY");
    app.add_option("--state", global.state,
                   "Virtual cable: load the flash contents and EEPROMs from FILE when it exists, "
                   "and save them there when the command ends")
        ->type_name("FILE");
    app.add_option("--trace", global.trace,
                   "Write every vendor call and MPSSE command to FILE (virtual cable only)")
        ->type_name("FILE");
    app.add_option("--vcd", global.vcd,
                   "Write channel A's lines as a VCD waveform to FILE (virtual cable only)")
        ->type_name("FILE");
    app.add_option("--vcd-cable", global.vcdCable, "Which virtual cable --vcd records (0 first)")
        ->transform(Number(0, kMaxVirtualCables - 1));
    app.add_option("--description", global.description,
                   "Description substring that finds the cable's channels")
        ->capture_default_str();
    app.add_option("--serial", global.serial, "Serial-number substring (empty matches any)");
    app.add_option("--divisor", global.divisor, "MPSSE clock divisor: 12 MHz / ((1 + divisor) * 2)")
        ->capture_default_str()
        ->transform(Number(0, 0xFFFF));
}

// --json (read ahead of parsing, by AsksForJson) and --progress.
void AddOutputOptions(CLI::App& app, bool& json, std::string& progress) {
    app.add_flag("--json", json,
                 "Print the result as one JSON document on standard output, and everything else "
                 "on standard error");
    app.add_option("--progress", progress,
                   "Progress of long transfers: bar (the default on a terminal), json (one object "
                   "a line on standard error) or none")
        ->check(CLI::IsMember({"bar", "json", "none"}));
}

// --help and --version with --json: a document like every command's, its command "help" or
// "version"; the help text (of the command the line named, as CLI11 chose it) in a field.
int FinishHelpOrVersion(const CLI::App& app, const CLI::Success& success,
                        const std::vector<std::string>& arguments) {
    using namespace kestrel;
    std::ostringstream text;
    const int code = app.exit(success, text, text);
    if (success.get_name() == "CallForVersion") {
        report::SetCommand("version", arguments);
        ReportVersion();
    } else {
        report::SetCommand("help", arguments);
        report::Set("help_command", json::String(CommandName(app)));
        report::Set("help", json::String(text.str()));
    }
    return report::Finish(code);
}

void ApplyProgress(const std::string& progress) {
    using kestrel::ProgressMode;
    if (progress.empty()) return;
    kestrel::SetProgressMode(progress == "json"   ? ProgressMode::kJson
                             : progress == "none" ? ProgressMode::kNone
                                                  : ProgressMode::kBar,
                             true);
}
}  // namespace

int main(int argc, char** argv) {
    using namespace kestrel;
    CLI::App app{"kestrel: drives the ZV7300LNK programming cable through the KestrelLink library"};
    app.fallthrough();
    app.require_subcommand(1);
    app.set_version_flag("--version", VersionText, "Print the version and the libraries in use");
    GlobalOptions global;
    bool json = false;  // known already: AsksForJson
    std::string progress;
    AddOutputOptions(app, json, progress);
    if (AsksForJson(argc, argv)) report::Enable();
    report::SetCommand("", std::vector<std::string>(argv + 1, argv + argc));
    std::string scenario;
    CLI::Option* virtualOption =
        app.add_option("--virtual", scenario,
                       "Use the virtual cable, with the embedded default scenario or the "
                       "scenario file given")
            ->expected(0, 1)
            ->type_name("[SCENARIO]");
    AddCableOptions(app, global);
    ManyCablesOptions many;
    AddManyCablesOptions(app, many);

    // An output stopped half way by ^C is removed; what it would have replaced stays.
    InstallInterruptCleanup();
    StopWithRun();
    const std::vector<Command> commands = {
        AddDemoCommand(app), AddListCommand(app),   AddScanCommand(app), AddSpiCommand(app),
        AddUartCommand(app), AddEepromCommand(app), AddGpioCommand(app), AddJtagCommand(app)};
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {  // --help, --version
        if (report::Enabled())
            return FinishHelpOrVersion(app, e, std::vector<std::string>(argv + 1, argv + argc));
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        report::Error(e.what());
        return report::Finish(kExitUsage);
    }
    report::SetCommand(CommandName(app), std::vector<std::string>(argv + 1, argv + argc));
    ApplyProgress(progress);
    if (virtualOption->count() > 0) global.virtualScenario = scenario;
    global.divisorGiven = app.count("--divisor") > 0;
    if (many.asked()) {
        return report::Finish(RunManyCables(many, global, ChosenFiles(commands), json, argc, argv));
    }
    for (const Command& command : commands) {
        if (command.app->parsed()) return report::Finish(command.run(global));
    }
    return report::Finish(Fail(kExitUsage, "no command given (try --help)"));
}
