#include "virtual_cable.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

namespace kestrel {
namespace {

constexpr uint32_t kScenarioErrorCapacity = 1024;

bool Exists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string ExecutableFolder() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    const std::string exe(path, static_cast<size_t>(n));
    const size_t slash = exe.rfind('/');
    return slash == std::string::npos ? "." : exe.substr(0, slash);
}

}  // namespace

std::string FindVirtualLibrary() {
    if (const char* env = std::getenv("KESTREL_VIRTUAL_LIB"); env && *env) return env;
    const std::string folder = ExecutableFolder();
    for (const char* relative :
         {"/../virtual-cable/libftd2xx.so", "/virtual-cable/libftd2xx.so", "/libftd2xx.so"}) {
        if (Exists(folder + relative)) return folder + relative;
    }
    return folder + "/../virtual-cable/libftd2xx.so";
}

bool VirtualCable::Load(std::string& error) {
    path_ = FindVirtualLibrary();
    // Global, so that the KestrelLink library's dlopen("libftd2xx.so") resolves to this copy.
    handle_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_GLOBAL);
    if (!handle_) {
        const char* reason = dlerror();
        error = "cannot load the virtual cable " + path_ + ": " + (reason ? reason : "?") +
                " (set KESTREL_VIRTUAL_LIB to its libftd2xx.so)";
        return false;
    }
#define KESTREL_VC_RESOLVE(name) \
    api_.name = reinterpret_cast<decltype(api_.name)>(dlsym(handle_, #name));
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
