// Entry points of the device list and of the library itself.
#include <cstring>
#include <mutex>
#include <vector>

#include "device_list.h"
#include "entry_points.h"
#include "handles.h"

using namespace ftl;

namespace {

// The vendor release whose behaviour the entry points follow, so that a host's minimum-version
// check passes as it would with that release.
constexpr uint32_t kLibraryVersion = 0x00030216;

// The list the last FT_CreateDeviceInfoList built, for FT_GetDeviceInfoList.
std::mutex infoMutex;
std::vector<FtDeviceListInfoNode> infoList;

// Copies text with its NUL, cut to fit a buffer of the given size.
void CopyText(const std::string& text, char* out, size_t size) {
    const size_t n = std::min(text.size(), size - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

FtDeviceListInfoNode NodeOf(const ListedChannel& entry) {
    FtDeviceListInfoNode node{};
    node.ftHandle = HandleAt(entry.location);
    node.Flags = (node.ftHandle ? kListFlagOpened : 0) | (entry.highSpeed ? kListFlagHighSpeed : 0);
    node.Type = entry.type;
    node.ID = static_cast<uint32_t>(entry.vendorId) << 16 | entry.productId;
    node.LocId = entry.location;
    CopyText(entry.serial, node.SerialNumber, sizeof node.SerialNumber);
    CopyText(entry.description, node.Description, sizeof node.Description);
    return node;
}

// One field of an entry into a caller's buffer: the serial number unless another is asked for.
FtStatus ListOne(const ListedChannel& entry, uint32_t what, void* out) {
    if (out == nullptr) return kFtInvalidParameter;
    switch (what) {
        case 0:
        case kOpenBySerialNumber:
            CopyText(entry.serial, static_cast<char*>(out), kSerialSize);
            return kFtOk;
        case kOpenByDescription:
            CopyText(entry.description, static_cast<char*>(out), kDescriptionSize);
            return kFtOk;
        case kOpenByLocation:
            *static_cast<uint32_t*>(out) = entry.location;
            return kFtOk;
        default:
            return kFtInvalidParameter;
    }
}

FtStatus ListAll(const std::vector<ListedChannel>& channels, uint32_t what, void* arg1,
                 void* arg2) {
    if (arg1 == nullptr || arg2 == nullptr) return kFtInvalidParameter;
    for (size_t i = 0; i < channels.size(); ++i) {
        // Strings go to the buffers of a pointer array, locations to a word array.
        void* out = what == kOpenByLocation ? static_cast<void*>(static_cast<uint32_t*>(arg1) + i)
                                            : static_cast<void**>(arg1)[i];
        if (FtStatus status = ListOne(channels[i], what, out)) return status;
    }
    *static_cast<uint32_t*>(arg2) = static_cast<uint32_t>(channels.size());
    return kFtOk;
}

}  // namespace

FTL_API FtStatus FT_ListDevices(void* arg1, void* arg2, uint32_t flags) {
    ChannelList list;
    if (FtStatus status = ListChannels(UsbContext(), list)) return status;
    const uint32_t what = flags & (kOpenBySerialNumber | kOpenByDescription | kOpenByLocation);
    if (flags & kListNumberOnly) {
        if (arg1 == nullptr) return kFtInvalidParameter;
        *static_cast<uint32_t*>(arg1) = static_cast<uint32_t>(list.channels.size());
        return kFtOk;
    }
    if (flags & kListByIndex) {
        const auto index = reinterpret_cast<uintptr_t>(arg1);
        if (index >= list.channels.size()) return kFtDeviceNotFound;
        return ListOne(list.channels[index], what, arg2);
    }
    if (flags & kListAll) return ListAll(list.channels, what, arg1, arg2);
    return kFtInvalidParameter;
}

FTL_API FtStatus FT_CreateDeviceInfoList(uint32_t* count) {
    if (count == nullptr) return kFtInvalidParameter;
    ChannelList list;
    if (FtStatus status = ListChannels(UsbContext(), list)) return status;
    std::lock_guard<std::mutex> lock(infoMutex);
    infoList.clear();
    for (const ListedChannel& entry : list.channels) infoList.push_back(NodeOf(entry));
    *count = static_cast<uint32_t>(infoList.size());
    return kFtOk;
}

FTL_API FtStatus FT_GetDeviceInfoList(FtDeviceListInfoNode* nodes, uint32_t* count) {
    if (nodes == nullptr || count == nullptr) return kFtInvalidParameter;
    std::lock_guard<std::mutex> lock(infoMutex);
    std::copy(infoList.begin(), infoList.end(), nodes);
    *count = static_cast<uint32_t>(infoList.size());
    return kFtOk;
}

// libusb lists the bus afresh on every call: there is nothing to rescan.
FTL_API FtStatus FT_Rescan() { return UsbContext() ? kFtOk : kFtIoError; }

// Drivers are not reloaded on this platform; the pair joins the IDs the list recognises.
FTL_API FtStatus FT_Reload(uint16_t vendorId, uint16_t productId) {
    AddRecognisedPair(vendorId, productId);
    return kFtOk;
}

FTL_API FtStatus FT_GetLibraryVersion(uint32_t* version) {
    if (version == nullptr) return kFtInvalidParameter;
    *version = kLibraryVersion;
    return kFtOk;
}
