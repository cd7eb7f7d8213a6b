// Hotplug: the face looks at the bus when events are handled and tells the registered callbacks
// which devices left and which arrived since it last looked: a cable unplugged or plugged back
// (vc_unplug, vc_replug, the unplug fault rule), a port reset that brought a new identity, a port
// cycle's absence, a new scenario. A device that comes back is a new device, as on a real bus.
#include <algorithm>
#include <vector>

#include "entry_points/model_lock.h"
#include "usb/event_loop.h"
#include "usb/usb_api.h"
#include "usb/usb_objects.h"
#include "vc_export.h"

using namespace vcable;
using namespace vcable::usb;

namespace {

struct Registration {
    libusb_hotplug_callback_handle handle = 0;
    libusb_context* ctx = nullptr;
    int events = 0, vendorId = 0, productId = 0, deviceClass = 0;
    libusb_hotplug_callback_fn fn = nullptr;
    void* userData = nullptr;
};

// Guarded by the model lock.
struct HotplugState {
    std::vector<Registration> registrations;
    std::vector<libusb_device*> seen;  // what the callbacks last heard of, each referenced
    libusb_hotplug_callback_handle nextHandle = 1;
};

HotplugState& State() {
    static HotplugState state;
    return state;
}

struct BusEvent {
    libusb_device* dev;  // referenced for the event
    libusb_hotplug_event event;
};

bool Contains(const std::vector<libusb_device*>& devices, const libusb_device* dev) {
    return std::find(devices.begin(), devices.end(), dev) != devices.end();
}

// What left and arrived since the last look, departures first.
std::vector<BusEvent> LookAtBus() {
    std::vector<libusb_device*> now = ListDevices();
    std::vector<libusb_device*>& seen = State().seen;
    std::vector<BusEvent> events;
    for (libusb_device* dev : seen) {
        if (Contains(now, dev)) {
            UnrefDevice(dev);  // `now` holds it
        } else {
            events.push_back({dev, LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT});
        }
    }
    for (libusb_device* dev : now) {
        if (!Contains(seen, dev))
            events.push_back({libusb_ref_device(dev), LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED});
    }
    seen = std::move(now);
    return events;
}

// Forgets what the callbacks heard before: the bus as it is now is their starting point.
void StartFromTheBusNow() {
    for (libusb_device* dev : State().seen) UnrefDevice(dev);
    State().seen = ListDevices();
}

bool Matches(const Registration& r, const libusb_device* dev, libusb_hotplug_event event) {
    const libusb_device_descriptor& d = dev->descriptor;
    auto any_or = [](int wanted, int value) {
        return wanted == LIBUSB_HOTPLUG_MATCH_ANY || wanted == value;
    };
    return (r.events & event) != 0 && any_or(r.vendorId, d.idVendor) &&
           any_or(r.productId, d.idProduct) && any_or(r.deviceClass, d.bDeviceClass) &&
           !r.ctx->noDeviceDiscovery;
}

void Deregister(libusb_hotplug_callback_handle handle) {
    ModelLock lock;
    std::erase_if(State().registrations, [&](const Registration& r) { return r.handle == handle; });
}

// Calls one callback, if still registered and interested; one that returns 1 is deregistered.
// The model lock is not held while it runs, so it may call the face from any thread.
void Tell(libusb_hotplug_callback_handle handle, libusb_device* dev, libusb_hotplug_event event) {
    Registration r;
    {
        ModelLock lock;
        auto& all = State().registrations;
        auto it = std::find_if(all.begin(), all.end(), [&](auto& x) { return x.handle == handle; });
        if (it == all.end() || !Matches(*it, dev, event)) return;
        r = *it;
    }
    if (r.fn(r.ctx, dev, event, r.userData) == 1) Deregister(handle);
}

void TellEveryone(libusb_device* dev, libusb_hotplug_event event) {
    std::vector<libusb_hotplug_callback_handle> handles;
    {
        ModelLock lock;
        for (const Registration& r : State().registrations) handles.push_back(r.handle);
    }
    for (libusb_hotplug_callback_handle handle : handles) Tell(handle, dev, event);
}

bool ValidMatch(int value, int mask) {
    return value == LIBUSB_HOTPLUG_MATCH_ANY || (value & ~mask) == 0;
}

}  // namespace

namespace vcable::usb {

void DeliverHotplugEvents() {
    std::vector<BusEvent> events;
    {
        ModelLock lock;
        if (State().registrations.empty()) return;
        events = LookAtBus();
    }
    for (const BusEvent& e : events) {
        TellEveryone(e.dev, e.event);
        UnrefDevice(e.dev);
    }
}

bool HotplugArmed() {
    ModelLock lock;
    return !State().registrations.empty();
}

bool HotplugEventsWaiting() {
    ModelLock lock;
    if (State().registrations.empty()) return false;
    const std::vector<libusb_device*>& seen = State().seen;
    size_t visible = 0;
    for (int i = 0; i < DeviceCount(); ++i) {
        const Device* device = DeviceAt(i);
        if (!device->Visible()) continue;
        ++visible;
        const bool heardOf = std::any_of(seen.begin(), seen.end(), [&](const libusb_device* dev) {
            return dev->device == device && dev->enumeration == device->enumeration;
        });
        if (!heardOf) return true;
    }
    return visible != seen.size();
}

void ForgetHotplugCallbacks(libusb_context* ctx) {
    ModelLock lock;
    std::erase_if(State().registrations, [&](const Registration& r) { return r.ctx == ctx; });
}

}  // namespace vcable::usb

extern "C" {

VC_API int libusb_hotplug_register_callback(libusb_context* ctx, int events, int flags,
                                            int vendor_id, int product_id, int dev_class,
                                            libusb_hotplug_callback_fn cb_fn, void* user_data,
                                            libusb_hotplug_callback_handle* callback_handle) {
    constexpr int kEvents = LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT;
    if (events == 0 || (events & ~kEvents) != 0 || (flags & ~LIBUSB_HOTPLUG_ENUMERATE) != 0 ||
        !ValidMatch(vendor_id, 0xFFFF) || !ValidMatch(product_id, 0xFFFF) ||
        !ValidMatch(dev_class, 0xFF) || cb_fn == nullptr) {
        return LIBUSB_ERROR_INVALID_PARAM;
    }
    libusb_hotplug_callback_handle handle = 0;
    std::vector<libusb_device*> present;
    {
        ModelLock lock;
        HotplugState& state = State();
        if (state.registrations.empty()) StartFromTheBusNow();
        handle = state.nextHandle++;
        state.registrations.push_back(
            {handle, Named(ctx), events, vendor_id, product_id, dev_class, cb_fn, user_data});
        if (flags & LIBUSB_HOTPLUG_ENUMERATE) {
            for (libusb_device* dev : state.seen) present.push_back(libusb_ref_device(dev));
        }
    }
    if (callback_handle != nullptr) *callback_handle = handle;
    for (libusb_device* dev : present) {
        Tell(handle, dev, LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED);
        UnrefDevice(dev);
    }
    RefreshWake();
    return LIBUSB_SUCCESS;
}

VC_API void libusb_hotplug_deregister_callback(libusb_context*,
                                               libusb_hotplug_callback_handle callback_handle) {
    Deregister(callback_handle);
    RefreshWake();
}

VC_API void* libusb_hotplug_get_user_data(libusb_context*,
                                          libusb_hotplug_callback_handle callback_handle) {
    ModelLock lock;
    for (const Registration& r : State().registrations) {
        if (r.handle == callback_handle) return r.userData;
    }
    return nullptr;
}

}  // extern "C"
