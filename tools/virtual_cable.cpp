#include "virtual_cable.h"

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "os.h"

namespace kestrel {
namespace {

constexpr uint32_t kScenarioErrorCapacity = 1024;

// Where the virtual cable's library may be, relative to the tool: where it is installed
// (bin/kestrel -> lib/kestrellink/virtual-cable/libftd2xx.so; the build computes the relative
// path), the build tree's folder (build/tools/kestrel -> build/virtual-cable/), a virtual-cable
// folder beside the tool, and beside the tool itself.
std::vector<std::string> Candidates() {
    const std::string folder = os::ExecutableFolder();
    const std::string name = std::string("/") + os::kVendorLibraryName;
    std::vector<std::string> candidates;
    for (const char* relative :
         {"/" KESTREL_INSTALLED_VIRTUAL_CABLE, "/../virtual-cable", "/virtual-cable", ""}) {
        candidates.push_back(
            std::filesystem::path(folder + relative + name).lexically_normal().string());
    }
    return candidates;
}

}  // namespace

std::string FindVirtualLibrary() {
    if (const char* env = std::getenv("KESTREL_VIRTUAL_LIB"); env && *env) return env;
    const std::vector<std::string> candidates = Candidates();
    for (const std::string& candidate : candidates) {
        if (os::IsFile(candidate)) return candidate;
    }
    return candidates.front();
}

bool VirtualCable::Load(std::string& error) {
    path_ = FindVirtualLibrary();
    std::string reason;
    handle_ = os::LoadLibraryFile(path_, reason);
    if (!handle_) {
        error = "cannot load the virtual cable " + path_ + ": " + reason +
                " (set KESTREL_VIRTUAL_LIB to its " + os::kVendorLibraryName + ")";
        return false;
    }
#define KESTREL_VC_RESOLVE(name) \
    api_.name = reinterpret_cast<decltype(api_.name)>(os::FindSymbol(handle_, #name));
    KESTREL_VC_REQUIRED(KESTREL_VC_RESOLVE)
    KESTREL_VC_OPTIONAL(KESTREL_VC_RESOLVE)
    KESTREL_VC_RESOLVE(vc_uart_received_count)
    KESTREL_VC_RESOLVE(vc_uart_received_read)
#undef KESTREL_VC_RESOLVE
#define KESTREL_VC_REQUIRE(name)                                          \
    if (!api_.name) {                                                     \
        error = path_ + " is not the virtual cable (it lacks " #name ")"; \
        return false;                                                     \
    }
    KESTREL_VC_REQUIRED(KESTREL_VC_REQUIRE)
#undef KESTREL_VC_REQUIRE
    return true;
}

bool VirtualCable::LoadScenario(const std::string& path, std::string& error) {
    if (path.empty()) return true;
    if (!api_.vc_load_scenario_file) {
        error = "this build of the virtual cable cannot load scenario files";
        return false;
    }
    char message[kScenarioErrorCapacity];
    if (api_.vc_load_scenario_file(path.c_str(), message, sizeof message) != 0) {
        error = message;
        return false;
    }
    return true;
}

}  // namespace kestrel
