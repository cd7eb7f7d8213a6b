#include "targets/jtag/tap_plugin.h"

#include <algorithm>
#include <vector>

#include "targets/bit_stream.h"
#include "targets/jtag/jtag_setup.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace vcable {
namespace {

#ifdef _WIN32
void* OpenLibrary(const std::string& path) { return LoadLibraryA(path.c_str()); }
void* FindEntry(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}
void CloseLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }
std::string LastLoadError() { return "error " + std::to_string(GetLastError()); }
#else
void* OpenLibrary(const std::string& path) { return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }
void* FindEntry(void* library, const char* name) { return dlsym(library, name); }
void CloseLibrary(void* library) { dlclose(library); }
std::string LastLoadError() {
    const char* text = dlerror();
    return text ? text : "unknown error";
}
#endif

constexpr uint32_t kFirstVersion = 1;

}  // namespace

std::unique_ptr<TapPlugin> TapPlugin::Load(const std::string& path, const std::string& config,
                                           const std::string& name, TargetEvents* events,
                                           std::string& error) {
    void* library = OpenLibrary(path);
    if (!library) {
        error = "cannot load " + path + ": " + LastLoadError();
        return nullptr;
    }
    auto entry = reinterpret_cast<vc_tap_plugin_entry_fn>(FindEntry(library, VC_TAP_PLUGIN_ENTRY));
    const vc_tap_plugin* table = entry ? entry() : nullptr;
    if (!table || table->version < kFirstVersion || table->version > VC_PLUGIN_CURRENT_VERSION ||
        !table->create || !table->destroy || !table->instruction || !table->capture ||
        !table->update) {
        error = path + " is not a target plug-in of version " + std::to_string(kFirstVersion) +
                " to " + std::to_string(VC_PLUGIN_CURRENT_VERSION) +
                " (" VC_TAP_PLUGIN_ENTRY " and its entries)";
        CloseLibrary(library);
        return nullptr;
    }
    std::unique_ptr<TapPlugin> plugin(new TapPlugin(library, table, name, events));
    plugin->device_ = table->create(config.c_str(), &plugin->host_);
    if (!plugin->device_) {
        error = path + " declined the device (plugin_config \"" + config + "\")";
        return nullptr;
    }
    return plugin;
}

TapPlugin::TapPlugin(void* library, const vc_tap_plugin* table, std::string name,
                     TargetEvents* events)
    : library_(library), table_(table), name_(std::move(name)), events_(events) {
    // A table of an earlier version ends before the entries it does not have.
    if (table->version >= 2) instructionCapture_ = table->instruction_capture;
    host_.context = this;
    host_.now_ns = &TapPlugin::HostNow;
    host_.note = &TapPlugin::HostNote;
}

TapPlugin::~TapPlugin() {
    if (device_) table_->destroy(device_);
    CloseLibrary(library_);
}

uint64_t TapPlugin::HostNow(void* context) {
    auto* self = static_cast<TapPlugin*>(context);
    return self->events_ ? self->events_->NowNs() : 0;
}

void TapPlugin::HostNote(void* context, const char* text) {
    auto* self = static_cast<TapPlugin*>(context);
    if (self->events_ && text) self->events_->Note(self->name_ + ": " + text);
}

int TapPlugin::Select(uint32_t opcode) {
    const uint32_t length = table_->instruction(device_, opcode);
    return static_cast<int>(std::min<uint32_t>(length, kMaxRegisterBits));
}

void TapPlugin::Capture(int length, ShiftRegister& dr) {
    std::vector<uint8_t> value(bits::StreamBytes(length), 0);
    table_->capture(device_, value.data(), static_cast<uint32_t>(length));
    dr.Load(length, value.data());
}

void TapPlugin::Shifted(uint32_t periods) {
    if (table_->shift) table_->shift(device_, periods);
}

void TapPlugin::Update(const ShiftRegister& dr) {
    const std::vector<uint8_t> value = dr.Value();
    table_->update(device_, value.data(), static_cast<uint32_t>(dr.Length()));
}

void TapPlugin::Idle(uint64_t periods) {
    if (table_->idle) table_->idle(device_, periods);
}

uint32_t TapPlugin::InstructionCapture(uint32_t scenarioCapture) {
    return instructionCapture_ ? instructionCapture_(device_, scenarioCapture) : scenarioCapture;
}

void TapPlugin::Reset() {
    if (table_->reset) table_->reset(device_);
}

}  // namespace vcable
