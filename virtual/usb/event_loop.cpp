// The event lock, its waiters and the descriptor hosts poll (an eventfd on Linux; none on
// Windows, where libusb hands out no poll descriptors either).
#include "usb/event_loop.h"

#include <chrono>

#include <sys/time.h>

#ifndef _WIN32
#include <sys/eventfd.h>
#include <unistd.h>
#endif

#include "entry_points/model_lock.h"
#include "usb/usb_objects.h"

namespace vcable::usb {
namespace {

// The wake descriptor and the interruption; guarded by the model lock.
struct WakeState {
    int fd = -2;  // not made yet
    bool readable = false;
    bool interrupted = false;
};

WakeState& Wake() {
    static WakeState state;
    return state;
}

void SetReadable(int fd, bool readable) {
#ifndef _WIN32
    uint64_t count = 1;
    ssize_t done = readable ? write(fd, &count, sizeof count) : read(fd, &count, sizeof count);
    (void)done;  // a full or empty counter is already in the state asked for
#else
    (void)fd, (void)readable;
#endif
}

}  // namespace

bool EventLock::TryLock() {
    if (!events_.try_lock()) return false;
    holder_ = std::this_thread::get_id();
    return true;
}

void EventLock::Lock() {
    events_.lock();
    holder_ = std::this_thread::get_id();
}

void EventLock::Unlock() {
    holder_ = std::thread::id();
    events_.unlock();
    Notify();
}

int EventLock::Wait(const timeval* timeout) {
    std::unique_lock<std::mutex> lock(waiters_, std::adopt_lock);
    int result = 0;
    if (Held()) {
        if (timeout == nullptr) {
            woken_.wait(lock);
        } else {
            const auto limit =
                std::chrono::seconds(timeout->tv_sec) + std::chrono::microseconds(timeout->tv_usec);
            result = woken_.wait_for(lock, limit) == std::cv_status::timeout ? 1 : 0;
        }
    }
    lock.release();  // the host still holds the waiters' lock
    return result;
}

void EventLock::Notify() {
    // Taking the waiters' lock orders this after a waiter's check of Held() and its sleep.
    { std::lock_guard<std::mutex> lock(waiters_); }
    woken_.notify_all();
}

EventLock& Events() {
    static EventLock lock;
    return lock;
}

bool ValidTimeval(const timeval& tv) {
    return tv.tv_sec >= 0 && tv.tv_usec >= 0 && tv.tv_usec < 1000000;
}

int WakeDescriptor() {
    ModelLock lock;
    WakeState& wake = Wake();
#ifndef _WIN32
    if (wake.fd == -2) wake.fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
#else
    wake.fd = -1;
#endif
    return wake.fd;
}

void RefreshWake() {
    ModelLock lock;
    WakeState& wake = Wake();
    if (wake.fd < 0) return;
    const bool readable = EventsWaiting();
    if (readable != wake.readable) SetReadable(wake.fd, readable);
    wake.readable = readable;
}

void InterruptEventHandler() {
    {
        ModelLock lock;
        Wake().interrupted = true;
    }
    RefreshWake();
}

bool TakeInterruption() {
    ModelLock lock;
    const bool interrupted = Wake().interrupted;
    Wake().interrupted = false;
    return interrupted;
}

bool EventsWaiting() {
    ModelLock lock;
    return Wake().interrupted || TransfersWaiting() || HotplugEventsWaiting();
}

}  // namespace vcable::usb
