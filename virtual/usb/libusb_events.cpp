// Event handling as libusb's hosts drive it: the handlers (hotplug events first, then the
// transfers), the event lock and its waiters for hosts with several threads, and the poll
// descriptor and time-outs for hosts with an event loop of their own.
#include <cstdlib>

#include <sys/time.h>

#ifndef _WIN32
#include <poll.h>
#endif

#include "entry_points/model_lock.h"
#include "usb/event_loop.h"
#include "usb/usb_api.h"
#include "usb/usb_objects.h"
#include "vc_export.h"

using namespace vcable;
using namespace vcable::usb;

namespace {

// How long a handler that finds another thread handling events waits for it at most, when the
// host gives no time-out (libusb_handle_events), and how often a host with hotplug callbacks
// should come back to let the face look at the bus.
constexpr timeval kDefaultWait{60, 0};
constexpr timeval kBusCheck{0, 100000};

// One round of event handling, with the event lock held.
int RunEvents(int* completed) {
    TakeInterruption();
    DeliverHotplugEvents();
    if (RunTransfers(completed) > 0) Events().Notify();
    RefreshWake();
    return LIBUSB_SUCCESS;
}

int HandleEvents(const timeval* tv, int* completed) {
    if (tv != nullptr && !ValidTimeval(*tv)) return LIBUSB_ERROR_INVALID_PARAM;
    EventLock& events = Events();
    if (events.HeldByCaller()) return RunEvents(completed);
    if (events.TryLock()) {
        const int result = RunEvents(completed);
        events.Unlock();
        return result;
    }
    // Another thread handles events: wait until it completes something or lets go.
    events.LockWaiters();
    if (completed == nullptr || !*completed) events.Wait(tv != nullptr ? tv : &kDefaultWait);
    events.UnlockWaiters();
    return LIBUSB_SUCCESS;
}

}  // namespace

extern "C" {

VC_API int libusb_handle_events(libusb_context*) { return HandleEvents(nullptr, nullptr); }
VC_API int libusb_handle_events_completed(libusb_context*, int* completed) {
    return HandleEvents(nullptr, completed);
}
VC_API int libusb_handle_events_timeout(libusb_context*, timeval* tv) {
    return HandleEvents(tv, nullptr);
}
VC_API int libusb_handle_events_timeout_completed(libusb_context*, timeval* tv, int* completed) {
    return HandleEvents(tv, completed);
}
VC_API int libusb_handle_events_locked(libusb_context*, timeval* tv) {
    if (tv != nullptr && !ValidTimeval(*tv)) return LIBUSB_ERROR_INVALID_PARAM;
    return RunEvents(nullptr);
}

// 0 when the caller now holds the event lock, 1 when another thread does.
VC_API int libusb_try_lock_events(libusb_context*) { return Events().TryLock() ? 0 : 1; }
VC_API void libusb_lock_events(libusb_context*) { Events().Lock(); }
VC_API void libusb_unlock_events(libusb_context*) { Events().Unlock(); }
// The face never needs a handler to step aside (closing a device waits for nothing).
VC_API int libusb_event_handling_ok(libusb_context*) { return 1; }
VC_API int libusb_event_handler_active(libusb_context*) { return Events().Held() ? 1 : 0; }
VC_API void libusb_interrupt_event_handler(libusb_context*) { InterruptEventHandler(); }
VC_API void libusb_lock_event_waiters(libusb_context*) { Events().LockWaiters(); }
VC_API void libusb_unlock_event_waiters(libusb_context*) { Events().UnlockWaiters(); }
VC_API int libusb_wait_for_event(libusb_context*, timeval* tv) {
    if (tv != nullptr && !ValidTimeval(*tv)) return LIBUSB_ERROR_INVALID_PARAM;
    return Events().Wait(tv);
}

// The face has no timer descriptor: hosts ask libusb_get_next_timeout when to call in.
VC_API int libusb_pollfds_handle_timeouts(libusb_context*) { return 0; }

// Work waiting: handle events now. Hotplug callbacks registered: within kBusCheck, since the face
// learns of the bus changing only when it looks. Otherwise no time-out.
VC_API int libusb_get_next_timeout(libusb_context*, timeval* tv) {
    if (tv == nullptr) return LIBUSB_ERROR_INVALID_PARAM;
    RefreshWake();
    if (EventsWaiting()) {
        *tv = timeval{0, 0};
        return 1;
    }
    if (!HotplugArmed()) return 0;
    *tv = kBusCheck;
    return 1;
}

// One descriptor, readable while an event handler has work; none on Windows.
VC_API const libusb_pollfd** libusb_get_pollfds(libusb_context*) {
#ifndef _WIN32
    const int fd = WakeDescriptor();
    if (fd < 0) return nullptr;
    RefreshWake();
    void* block = std::calloc(1, 2 * sizeof(libusb_pollfd*) + sizeof(libusb_pollfd));
    if (block == nullptr) return nullptr;
    auto** list = static_cast<const libusb_pollfd**>(block);
    auto* entry = reinterpret_cast<libusb_pollfd*>(list + 2);
    *entry = {fd, POLLIN};
    list[0] = entry;
    return list;
#else
    return nullptr;
#endif
}

VC_API void libusb_free_pollfds(const libusb_pollfd** pollfds) {
    std::free(static_cast<void*>(pollfds));
}

// The descriptor set never changes once made, so the notifiers have nothing to report.
VC_API void libusb_set_pollfd_notifiers(libusb_context*, libusb_pollfd_added_cb,
                                        libusb_pollfd_removed_cb, void*) {}

}  // extern "C"
