// kestrel eeprom program|erase: the factory procedures, with the lines they add to Log.txt.
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "commands.h"

namespace kestrel {
namespace {

struct EepromOptions {
    std::string description = "ZV7300LNK";
    std::string serial = "ZV000001";
    std::string text;
    std::string logDir = ".";
};

int RunEeprom(const GlobalOptions& options, const EepromOptions& o, bool program) {
    const ProvisionExports* provision = FindProvisionExports();
    if (!provision) {
        return Fail(kExitUnavailable,
                    "eeprom: not available in this build (the library has no provisioning "
                    "exports)");
    }
    Session session(options);
    if (const int code = session.Start()) return code;
    const WideString dir = Wide(o.logDir);
    provision->directoryB(dir.c_str());
    const std::string log = o.logDir + "/Log.txt";
    const long before = FileSize(log);
    Stopwatch watch;
    int code = 0;
    const char* call = program ? "ProgramDevice" : "Erase_ProgedEEPROM";
    if (program) {
        const WideString description = Wide(o.description);
        const WideString serial = Wide(o.serial);
        const WideString text = Wide(o.text);
        code = provision->ProgramDevice(description.c_str(), serial.c_str(), text.c_str());
    } else {
        code = provision->Erase_ProgedEEPROM();
    }
    std::printf("%s returned %d after %.1f ms; %s:\n", call, code, watch.Milliseconds(),
                log.c_str());
    PrintLogLines(log, before, "  ");
    if (session.isVirtual()) {
        // Device 0 of the scenario: the procedures take whatever single cable is attached.
        VcEepromView view{};
        if (session.virtualCable()->api().vc_eeprom_view(0, &view) == 0) {
            std::printf("virtual cable's EEPROM: %s\n",
                        view.programmed ? ("programmed, \"" + std::string(view.description) +
                                           "\" serial \"" + view.serial_number + "\"")
                                              .c_str()
                                        : "blank");
        }
    }
    if (code != 0)
        return session.Finish(
            Fail(kExitFailed, std::string(call) + " returned " + std::to_string(code)));
    return session.Finish(kExitOk);
}

}  // namespace

long FileSize(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? static_cast<long>(info.st_size) : 0;
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
    CLI::App* program = app->add_subcommand("program", "Program identity and user area");
    program->add_option("--name", o->description, "Description to program")->capture_default_str();
    program->add_option("--program-serial", o->serial, "Serial number to program")
        ->capture_default_str();
    program->add_option("--text", o->text, "User-area text");
    app->add_subcommand("erase", "Erase the EEPROM");
    return {app, [o, program](const GlobalOptions& options) {
                return RunEeprom(options, *o, program->parsed());
            }};
}

}  // namespace kestrel
