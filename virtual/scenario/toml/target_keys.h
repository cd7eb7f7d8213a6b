// The scenario keys of each kind of target: one ReadTargetKeys per kind's setup, reading that
// kind's section (its field name in TargetSetup, passed as `key`) of one [[device]] table into its
// setup. read_scenario.cpp calls them for every kind in VC_TARGET_KINDS; an absent section leaves
// the setup at its default.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "scenario/toml/toml_reader.h"
#include "targets/target_setup.h"

namespace vcable::scenario_file::toml_reader {

// The longest busy time a scenario may give an operation, in microseconds (an hour).
constexpr int64_t kMaxBusyUs = int64_t{3600} * 1000 * 1000;

void ReadTargetKeys(Reader& r, const toml::table& device, const std::string& at,
                    std::string_view key, JtagSetup& jtag);
void ReadTargetKeys(Reader& r, const toml::table& device, const std::string& at,
                    std::string_view key, FlashSetup& flash);
void ReadTargetKeys(Reader& r, const toml::table& device, const std::string& at,
                    std::string_view key, GpioSetup& gpio);

}  // namespace vcable::scenario_file::toml_reader
