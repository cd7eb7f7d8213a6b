// The tool's subcommands. Each Add function adds its subcommand (with its own options) to the
// root and returns what to run when the command line chose it; the command runs after parsing,
// when the global options are known.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <vector>

#include "session/session.h"

namespace kestrel {

struct Command {
    CLI::App* app;
    std::function<int(const GlobalOptions&)> run;
    // The files the parsed command line names for the command, which it checks with
    // CheckCommandFiles and a run on several cables checks before any cable's process starts;
    // empty for a command that names none.
    std::function<CommandFiles()> files = nullptr;
};
// The files of whichever of `commands` the command line chose.
CommandFiles ChosenFiles(const std::vector<Command>& commands);

Command AddDemoCommand(CLI::App& root);
Command AddListCommand(CLI::App& root);
Command AddScanCommand(CLI::App& root);
Command AddSpiCommand(CLI::App& root);
Command AddUartCommand(CLI::App& root);
Command AddEepromCommand(CLI::App& root);
Command AddGpioCommand(CLI::App& root);
Command AddJtagCommand(CLI::App& root);

// The subcommands of `jtag`: file playback (svf, xsvf) and the chain scans (idcode, ir, dr).
std::vector<Command> AddJtagFileCommands(CLI::App& jtag);
std::vector<Command> AddJtagChainCommands(CLI::App& jtag);

// The device index in the virtual cable whose EEPROM identity matches the description and serial
// options (the cable OpenDevice pairs), or -1.
int VirtualDeviceIndex(Session& session);

// What `kestrel --version` prints: the version and which KestrelLink and D2XX libraries it uses.
std::string VersionText();
// The same as the document's "version" field (--json --version).
void ReportVersion();

// Prints the lines appended to `logPath` since it was `sizeBefore` bytes long, each indented.
void PrintLogLines(const std::string& logPath, long sizeBefore, const char* indent);
// The size of a file, or 0 when it does not exist.
long FileSize(const std::string& path);

}  // namespace kestrel
