// Builds without the TOML reader (the Windows cross build, when toml++ is not installed for it):
// the scenario-file entry points exist and say why they cannot load anything.
#include "scenario/scenario_file.h"

namespace vcable::scenario_file {

bool ParserAvailable() { return false; }

bool Parse(const std::string&, const std::string& origin, const std::string&, ScenarioDesc&,
           std::string& error) {
    error = origin +
            ": scenario files are not supported by this build of the virtual cable "
            "(it was built without the toml++ headers)";
    return false;
}

}  // namespace vcable::scenario_file
