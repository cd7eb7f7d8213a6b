#include "common/virtual_cable.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "common/os.h"

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

// A control function that takes a path and reports a one-line error; `lacks` completes "this
// build of the virtual cable ..." when the loaded build has no such function.
bool CallWithPath(int (*fn)(const char*, char*, uint32_t), const std::string& path,
                  const char* lacks, std::string& error) {
    if (!fn) {
        error = std::string("this build of the virtual cable ") + lacks;
        return false;
    }
    char message[kScenarioErrorCapacity];
    if (fn(path.c_str(), message, sizeof message) == 0) return true;
    error = message;
    return false;
}

}  // namespace

void Pause(const VirtualCable* cable, double seconds) {
    if (seconds <= 0) return;
    if (cable && cable->api().vc_clock_wait) {
        cable->api().vc_clock_wait(static_cast<uint64_t>(seconds * 1e9 + 0.5));
        return;
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

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
    return path.empty() ||
           CallWithPath(api_.vc_load_scenario_file, path, "cannot load scenario files", error);
}

bool VirtualCable::LoadState(const std::string& path, std::string& error) {
    return CallWithPath(api_.vc_state_load, path, "has no state files", error);
}

bool VirtualCable::SaveState(const std::string& path, std::string& error) {
    return CallWithPath(api_.vc_state_save, path, "has no state files", error);
}

VirtualCable::Memory VirtualCable::Remember() const {
    Memory memory;
    for (int d = 0; d < api_.vc_device_count(); ++d) {
        uint32_t size = 0;
        std::vector<uint8_t>& flash = memory.flash.emplace_back();
        if (api_.vc_flash_size(d, &size) == 0) {
            flash.resize(size);
            api_.vc_flash_read(d, 0, flash.data(), size);
        }
        VcEepromView& view = memory.eeprom.emplace_back();
        api_.vc_eeprom_view(d, &view);
        std::vector<uint8_t>& area = memory.userArea.emplace_back(view.user_area_size);
        api_.vc_eeprom_user_area(d, area.data(), view.user_area_size);
        std::vector<uint8_t>& jtag = memory.jtag.emplace_back();
        for (int j = 0; api_.vc_jtag_memory_info && j < api_.vc_jtag_device_count(d); ++j) {
            vc_jtag_memory info{};
            if (api_.vc_jtag_memory_info(d, j, &info) != VC_OK) continue;
            const size_t at = jtag.size();
            const uint32_t bytes = info.words * ((info.word_bits + 7) / 8);
            jtag.resize(at + bytes);
            api_.vc_jtag_memory_read(d, j, 0, jtag.data() + at, bytes);
        }
    }
    return memory;
}

std::string VirtualCable::ChangesSince(const Memory& before) const {
    const Memory now = Remember();
    std::string changes;
    auto add = [&changes](const std::string& what) {
        changes += (changes.empty() ? "" : ", ") + what;
    };
    for (size_t d = 0; d < now.flash.size() && d < before.flash.size(); ++d) {
        const std::string cable = " of cable " + std::to_string(d);
        if (now.flash[d] != before.flash[d]) add("the flash" + cable);
        const VcEepromView& a = now.eeprom[d];
        const VcEepromView& b = before.eeprom[d];
        // The counters move with every erase and program, also one that rewrites the same bytes.
        if (a.programs != b.programs || a.erases != b.erases ||
            a.user_area_size != b.user_area_size || now.userArea[d] != before.userArea[d]) {
            add("the EEPROM" + cable);
        }
        if (now.jtag[d] != before.jtag[d]) add("the JTAG memories" + cable);
    }
    return changes;
}

}  // namespace kestrel
