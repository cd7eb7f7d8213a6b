// State files: what outlives one run of the virtual cable, as a real cable keeps it across
// unplugging. Each device's EEPROM (programmed or blank, the programming record, its strings and
// the user area), each cable's SPI flash contents and the memories behind its JTAG devices, in one
// binary file (the layout is in
// docs/scenarios.md). Loading checks the whole file against the devices of the scenario in force
// before it changes anything; saving writes a new file beside the old one and renames it
// (output_file.h), so a state file is never half written and nothing but a file is replaced.
#pragma once

#include <string>

namespace vcable::state_file {

bool Save(const std::string& path, std::string& error);

// Loads a state saved from the same scenario: the same devices in the same order, each flash of
// the same size. The devices then enumerate from their loaded EEPROMs, as after a replug.
bool Load(const std::string& path, std::string& error);
// Whether Load would take the file, without loading it.
bool Fits(const std::string& path, std::string& error);

}  // namespace vcable::state_file
