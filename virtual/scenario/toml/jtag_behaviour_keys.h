// The keys of [[device.jtag]] that give a device behaviour beyond fixed registers: operations that
// keep it busy and set flags, the status register that shows them, the bridge to the SPI flash,
// and the plug-in that implements the device's registers.
#pragma once

#include <string>

#include "scenario/toml/toml_reader.h"
#include "targets/jtag/jtag_setup.h"

namespace vcable::scenario_file::toml_reader {

// An instruction row's operation (busy_us, starts_on, sets, clears) and, by its register, the
// status register's layout or the bridge's chip select.
void ReadRowBehaviour(Reader& r, const toml::table& t, const std::string& at,
                      const std::vector<std::string>& flags, JtagInstruction& row);

// The device's flags, plug-in and plug-in config.
void ReadDeviceBehaviour(Reader& r, const toml::table& t, const std::string& at,
                         JtagDeviceSetup& d);

}  // namespace vcable::scenario_file::toml_reader
