// The cables a D2XX library sees, asked of that library directly: the KestrelLink exports open a
// cable pair but have no listing. Used by `kestrel list` on a real cable, for listing only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel {

// One node of the library's device list: a channel of a cable, or a single-channel device.
struct D2xxChannel {
    std::string description;
    std::string serial;
    uint32_t location = 0;
    uint32_t flags = 0;  // bit 0: opened by a process; bit 1: high speed
};

// A dual-channel cable is two nodes whose descriptions end in " A" and " B" and whose serials end
// in "A" and "B" around the same stem; anything else stands alone.
struct D2xxCable {
    std::string description;  // without the channel letter
    std::string serial;
    std::vector<D2xxChannel> channels;
};

// Lists the devices the loaded D2XX library `path` sees (FT_CreateDeviceInfoList and
// FT_GetDeviceInfoList); false with a message.
bool ListD2xxChannels(const std::string& path, std::vector<D2xxChannel>& channels,
                      std::string& error);

std::vector<D2xxCable> GroupCables(const std::vector<D2xxChannel>& channels);

}  // namespace kestrel
