#include "handles.h"

#include <libusb-1.0/libusb.h>

#include <cstdint>
#include <map>
#include <mutex>

namespace ftl {
namespace {

struct HandleTable {
    std::mutex mutex;
    std::map<uintptr_t, std::shared_ptr<Channel>> channels;
    uintptr_t next = 0x1000;
};

// Kept for the life of the process, like the USB context: handles a host never closed stay open
// (and reachable) until the process ends, and no call racing the exit finds the table destroyed.
HandleTable& Table() {
    static HandleTable* const table = new HandleTable;
    return *table;
}

}  // namespace

libusb_context* UsbContext() {
    // Created once and kept for the life of the process: handles may outlive any one call.
    static libusb_context* context = [] {
        libusb_context* created = nullptr;
        return libusb_init(&created) == 0 ? created : nullptr;
    }();
    return context;
}

FtHandle AddChannel(std::unique_ptr<Channel> channel) {
    HandleTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    const uintptr_t handle = table.next++;
    table.channels.emplace(handle, std::move(channel));
    return reinterpret_cast<FtHandle>(handle);
}

std::shared_ptr<Channel> FindChannel(FtHandle handle) {
    HandleTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto found = table.channels.find(reinterpret_cast<uintptr_t>(handle));
    return found == table.channels.end() ? nullptr : found->second;
}

std::shared_ptr<Channel> RemoveChannel(FtHandle handle) {
    HandleTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto found = table.channels.find(reinterpret_cast<uintptr_t>(handle));
    if (found == table.channels.end()) return nullptr;
    std::shared_ptr<Channel> channel = std::move(found->second);
    table.channels.erase(found);
    return channel;
}

FtHandle HandleAt(uint32_t location) {
    HandleTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    for (const auto& [handle, channel] : table.channels) {
        // A handle left over from before an unplug or a cycle does not hold the location.
        if (channel->location == location && !Gone(*channel)) {
            return reinterpret_cast<FtHandle>(handle);
        }
    }
    return nullptr;
}

void MarkChipCycled(const Channel& cycled) {
    HandleTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    for (const auto& [handle, channel] : table.channels) {
        if (channel->device == cycled.device) channel->cycled = true;
    }
}

}  // namespace ftl
