// Entry points of enumeration, open and close, bus events and the library itself.
#include <cstring>
#include <string>

#include "chip/model_options.h"
#include "entry_points/call.h"
#include "vendor_api/ft_api.h"

using namespace vcable;

namespace {

// Copies a string with its NUL into a caller's buffer; the vendor's contract makes the caller
// size the buffer (16 bytes for serial numbers, 64 for descriptions).
void CopyString(const std::string& text, void* out) {
    std::memcpy(out, text.c_str(), text.size() + 1);
}

FtStatus ListOne(const ChannelRef& ref, uint32_t what, void* out) {
    if (out == nullptr) return kFtInvalidParameter;
    switch (what) {
        case 0:  // no field asked for: the serial number
        case kOpenBySerialNumber:
            CopyString(ChannelSerial(*ref.device, ref.channel), out);
            return kFtOk;
        case kOpenByDescription:
            CopyString(ChannelDescription(*ref.device, ref.channel), out);
            return kFtOk;
        case kOpenByLocation:
            *static_cast<uint32_t*>(out) = ListedLocation(*ref.device, ref.channel);
            return kFtOk;
        default:
            return kFtInvalidParameter;
    }
}

FtStatus OpenChannelRef(const ChannelRef& ref, void** handle) {
    if (ref.device == nullptr) return kFtDeviceNotFound;
    // A channel has one owner at a time.
    if (ref.Get().IsOpen()) return kFtDeviceNotOpened;
    *handle = OpenByRef(ref);
    return kFtOk;
}

}  // namespace

extern "C" {

VC_API uint32_t FT_ListDevices(void* arg1, void* arg2, uint32_t flags) {
    Call call(Entry::FT_ListDevices, nullptr, {Arg(arg1), Arg(arg2), flags});
    return call.Run([&]() -> FtStatus {
        std::vector<ChannelRef> visible = VisibleChannels();
        uint32_t what = flags & (kOpenBySerialNumber | kOpenByDescription | kOpenByLocation);
        if (flags & kListNumberOnly) {
            if (arg1 == nullptr) return kFtInvalidParameter;
            *static_cast<uint32_t*>(arg1) = static_cast<uint32_t>(visible.size());
            call.Transferred(static_cast<uint32_t>(visible.size()));
            return kFtOk;
        }
        if (flags & kListByIndex) {
            uintptr_t index = reinterpret_cast<uintptr_t>(arg1);
            if (index >= visible.size()) return kFtDeviceNotFound;
            return ListOne(visible[index], what, arg2);
        }
        if (flags & kListAll) {
            if (arg1 == nullptr || arg2 == nullptr) return kFtInvalidParameter;
            for (size_t i = 0; i < visible.size(); ++i) {
                // Strings go to the buffers of a pointer array; locations to a word array.
                void* out = what == kOpenByLocation ? static_cast<uint32_t*>(arg1) + i
                                                    : static_cast<void**>(arg1)[i];
                if (FtStatus status = ListOne(visible[i], what, out)) return status;
            }
            *static_cast<uint32_t*>(arg2) = static_cast<uint32_t>(visible.size());
            call.Transferred(static_cast<uint32_t>(visible.size()));
            return kFtOk;
        }
        return kFtInvalidParameter;
    });
}

VC_API uint32_t FT_Open(int device_number, void** handle) {
    Call call(Entry::FT_Open, nullptr, {static_cast<uint64_t>(device_number)});
    return call.Run([&]() -> FtStatus {
        if (handle == nullptr) return kFtInvalidParameter;
        std::vector<ChannelRef> visible = VisibleChannels();
        if (device_number < 0 || static_cast<size_t>(device_number) >= visible.size()) {
            return kFtDeviceNotFound;
        }
        return OpenChannelRef(visible[static_cast<size_t>(device_number)], handle);
    });
}

VC_API uint32_t FT_OpenEx(void* arg, uint32_t flags, void** handle) {
    bool byLocation = flags == kOpenByLocation;
    Call call(Entry::FT_OpenEx, nullptr, {byLocation ? Arg(arg) : 0, flags});
    if (!byLocation && arg != nullptr) call.Data(arg, std::strlen(static_cast<char*>(arg)));
    return call.Run([&]() -> FtStatus {
        if (handle == nullptr) return kFtInvalidParameter;
        if (!byLocation && flags != kOpenBySerialNumber && flags != kOpenByDescription) {
            return kFtInvalidParameter;
        }
        if (!byLocation && arg == nullptr) return kFtInvalidParameter;
        for (const ChannelRef& ref : VisibleChannels()) {
            bool match = false;
            if (byLocation) {
                match = ref.Get().location == static_cast<uint32_t>(Arg(arg));
            } else if (flags == kOpenBySerialNumber) {
                match = ChannelSerial(*ref.device, ref.channel) == static_cast<char*>(arg);
            } else {
                match = ChannelDescription(*ref.device, ref.channel) == static_cast<char*>(arg);
            }
            if (match) return OpenChannelRef(ref, handle);
        }
        return kFtDeviceNotFound;
    });
}

VC_API uint32_t FT_Close(void* handle) {
    Call call(Entry::FT_Close, handle, {});
    return call.Run([&]() -> FtStatus {
        if (ReleaseOrphanedHandle(handle)) return kFtOk;  // its channel was closed by a cycle
        ChannelRef ref = FindHandle(handle);
        if (ref.device == nullptr) return kFtInvalidHandle;
        CloseChannel(ref.Get(), ref.Engine());
        // The handle is released either way; a device that is gone reports the failed transfer.
        return ref.device->plugged ? kFtOk : kFtIoError;
    });
}

VC_API uint32_t FT_ResetDevice(void* handle) {
    Call call(Entry::FT_ResetDevice, handle, {});
    return call.OnChannel(handle, [&](ChannelRef ref) -> FtStatus {
        ResetChannel(ref.Get(), ref.Engine());
        return kFtOk;
    });
}

VC_API uint32_t FT_ResetPort(void* handle) {
    Call call(Entry::FT_ResetPort, handle, {});
    return call.OnChannel(handle, [](ChannelRef) -> FtStatus { return kFtOk; });
}

VC_API uint32_t FT_CyclePort(void* handle) {
    Call call(Entry::FT_CyclePort, handle, {});
    return call.OnChannel(handle, [](ChannelRef ref) -> FtStatus {
        // The Linux vendor library cannot cycle a port.
        if (CurrentPlatform() == Platform::kLinux) return kFtNotSupported;
        CycleDevice(*ref.device);
        return kFtOk;
    });
}

VC_API uint32_t FT_Rescan(void) {
    Call call(Entry::FT_Rescan, nullptr, {});
    return call.Run([]() -> FtStatus { return kFtOk; });
}

VC_API uint32_t FT_Reload(uint16_t vendor_id, uint16_t product_id) {
    Call call(Entry::FT_Reload, nullptr, {vendor_id, product_id});
    return call.Run([]() -> FtStatus { return kFtOk; });
}

VC_API uint32_t FT_GetLibraryVersion(uint32_t* version) {
    Call call(Entry::FT_GetLibraryVersion, nullptr, {});
    return call.Run([&]() -> FtStatus {
        if (version == nullptr) return kFtInvalidParameter;
        *version = LibraryVersion();
        return kFtOk;
    });
}

VC_API uint32_t FT_CreateDeviceInfoList(uint32_t* count) {
    Call call(Entry::FT_CreateDeviceInfoList, nullptr, {});
    return call.Run([&]() -> FtStatus {
        if (count == nullptr) return kFtInvalidParameter;
        *count = CreateDeviceList();
        call.Transferred(*count);
        return kFtOk;
    });
}

VC_API uint32_t FT_GetDeviceInfoList(void* nodes, uint32_t* count) {
    Call call(Entry::FT_GetDeviceInfoList, nullptr, {});
    return call.Run([&]() -> FtStatus {
        if (nodes == nullptr || count == nullptr) return kFtInvalidParameter;
        const std::vector<FtDeviceListInfoNode>& list = DeviceList();
        if (!list.empty()) {
            std::memcpy(nodes, list.data(), list.size() * sizeof(FtDeviceListInfoNode));
        }
        *count = static_cast<uint32_t>(list.size());
        call.Transferred(*count);
        return kFtOk;
    });
}

VC_API uint32_t FT_GetDeviceInfo(void* handle, uint32_t* type, uint32_t* id, char* serial_number,
                                 char* description, void* reserved) {
    Call call(Entry::FT_GetDeviceInfo, handle, {});
    (void)reserved;
    return call.OnChannel(handle, [&](ChannelRef ref) -> FtStatus {
        FtDeviceListInfoNode node;
        FillNode(*ref.device, ref.channel, node);
        if (type != nullptr) *type = node.type;
        if (id != nullptr) *id = node.id;
        if (serial_number != nullptr) std::memcpy(serial_number, node.serialNumber, 16);
        if (description != nullptr) std::memcpy(description, node.description, 64);
        return kFtOk;
    });
}

}  // extern "C"
