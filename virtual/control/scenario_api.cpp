// The control API of scenario and state files (vcable_scenario.h).
#include <algorithm>
#include <cstring>
#include <string>

#include "entry_points/model_lock.h"
#include "scenario/default_scenario.h"
#include "scenario/scenario_file.h"
#include "scenario/state_file.h"
#include "vcable_scenario.h"

namespace {

using vcable::ModelLock;

int Report(bool ok, const std::string& message, char* error, uint32_t capacity) {
    if (error && capacity > 0) {
        const size_t n = std::min<size_t>(ok ? 0 : message.size(), capacity - 1);
        std::memcpy(error, message.data(), n);
        error[n] = '\0';
    }
    return ok ? 0 : -1;
}

}  // namespace

extern "C" {

VC_API int vc_load_scenario_file(const char* path, char* error, uint32_t error_capacity) {
    const ModelLock lock;
    std::string message;
    const bool ok = path != nullptr && vcable::scenario_file::LoadFile(path, message);
    if (path == nullptr) message = "no scenario file named";
    return Report(ok, message, error, error_capacity);
}

VC_API int vc_load_scenario_text(const char* text, char* error, uint32_t error_capacity) {
    const ModelLock lock;
    std::string message;
    const bool ok =
        text != nullptr && vcable::scenario_file::LoadText(text, "scenario", "", message);
    if (text == nullptr) message = "no scenario text given";
    return Report(ok, message, error, error_capacity);
}

VC_API int vc_set_reset_scenario(const char* text, char* error, uint32_t error_capacity) {
    const ModelLock lock;
    vcable::scenario_file::ScenarioDesc scenario;
    std::string message;
    if (text != nullptr && !vcable::scenario_file::Parse(text, "scenario", "", scenario, message)) {
        return Report(false, message, error, error_capacity);
    }
    vcable::SetResetScenario(text != nullptr ? &scenario : nullptr);
    vcable::ResetScenario();
    return Report(true, message, error, error_capacity);
}

VC_API int vc_state_save(const char* path, char* error, uint32_t error_capacity) {
    const ModelLock lock;
    std::string message = "no state file named";
    const bool ok = path != nullptr && vcable::state_file::Save(path, message);
    return Report(ok, message, error, error_capacity);
}

VC_API int vc_state_load(const char* path, char* error, uint32_t error_capacity) {
    const ModelLock lock;
    std::string message = "no state file named";
    const bool ok = path != nullptr && vcable::state_file::Load(path, message);
    return Report(ok, message, error, error_capacity);
}

VC_API int vc_scenario_files_supported(void) {
    const ModelLock lock;
    return vcable::scenario_file::ParserAvailable() ? 1 : 0;
}

}  // extern "C"
