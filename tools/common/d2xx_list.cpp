#include "common/d2xx_list.h"

#include <cstddef>
#include <cstring>

#include "common/os.h"

#ifdef _WIN32
#define KESTREL_D2XX_CALL __stdcall
#else
#define KESTREL_D2XX_CALL
#endif

namespace kestrel {
namespace {

// A node of the device list as the library writes it.
struct ListNode {
    uint32_t flags;
    uint32_t type;
    uint32_t id;
    uint32_t location;
    char serial[16];
    char description[64];
    void* handle;
};
static_assert(offsetof(ListNode, serial) == 16 && offsetof(ListNode, description) == 32);

using CreateListFn = uint32_t(KESTREL_D2XX_CALL*)(uint32_t* count);
using GetListFn = uint32_t(KESTREL_D2XX_CALL*)(ListNode* nodes, uint32_t* count);

// More nodes than this is a library that reports nonsense.
constexpr uint32_t kMaxNodes = 256;

std::string Bounded(const char* text, size_t size) {
    return std::string(text, strnlen(text, size));
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

bool ListD2xxChannels(const std::string& path, std::vector<D2xxChannel>& channels,
                      std::string& error) {
    channels.clear();
    void* library = os::LoadLibraryFile(path, error);
    if (!library) return false;
    const auto create =
        reinterpret_cast<CreateListFn>(os::FindSymbol(library, "FT_CreateDeviceInfoList"));
    const auto get = reinterpret_cast<GetListFn>(os::FindSymbol(library, "FT_GetDeviceInfoList"));
    if (!create || !get) {
        error = path + " has no FT_CreateDeviceInfoList or FT_GetDeviceInfoList";
        return false;
    }
    uint32_t count = 0;
    if (const uint32_t status = create(&count)) {
        error = "FT_CreateDeviceInfoList returned " + std::to_string(status);
        return false;
    }
    if (count == 0) return true;
    if (count > kMaxNodes) {
        error = "FT_CreateDeviceInfoList reported " + std::to_string(count) + " devices";
        return false;
    }
    std::vector<ListNode> nodes(count);
    if (const uint32_t status = get(nodes.data(), &count)) {
        error = "FT_GetDeviceInfoList returned " + std::to_string(status);
        return false;
    }
    for (uint32_t i = 0; i < count && i < nodes.size(); ++i) {
        const ListNode& n = nodes[i];
        channels.push_back({Bounded(n.description, sizeof n.description),
                            Bounded(n.serial, sizeof n.serial), n.location, n.flags});
    }
    return true;
}

std::vector<D2xxCable> GroupCables(const std::vector<D2xxChannel>& channels) {
    std::vector<D2xxCable> cables;
    std::vector<bool> used(channels.size(), false);
    for (size_t a = 0; a < channels.size(); ++a) {
        if (used[a]) continue;
        const D2xxChannel& first = channels[a];
        used[a] = true;
        D2xxCable cable{first.description, first.serial, {first}};
        if (EndsWith(first.description, " A") && EndsWith(first.serial, "A")) {
            const std::string stem = first.description.substr(0, first.description.size() - 2);
            const std::string serial = first.serial.substr(0, first.serial.size() - 1);
            for (size_t b = a + 1; b < channels.size(); ++b) {
                if (used[b] || channels[b].description != stem + " B" ||
                    channels[b].serial != serial + "B")
                    continue;
                used[b] = true;
                cable = {stem, serial, {first, channels[b]}};
                break;
            }
        }
        cables.push_back(cable);
    }
    return cables;
}

}  // namespace kestrel
