// The one event loop behind every context, as libusb's threading and polling model shows it to a
// host: the event lock and the waiters' lock with the condition they sleep on, an interruption
// of the event handler, and a descriptor the host can poll, readable exactly while an event
// handler has work (transfers to run, hotplug events to report, an interruption).
//
// Nothing runs behind the host's back: the work is done by whichever thread handles events,
// without blocking on the host's clock. Only a waiter (libusb_wait_for_event, or a handler
// that finds another thread handling events) sleeps, until that thread completes a transfer or
// lets go of the event lock.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

struct timeval;

namespace vcable::usb {

class EventLock {
  public:
    bool TryLock();  // true when the calling thread now holds the event lock
    void Lock();
    void Unlock();  // lets go and wakes the waiters
    bool Held() const { return holder_.load() != std::thread::id(); }
    bool HeldByCaller() const { return holder_.load() == std::this_thread::get_id(); }

    void LockWaiters() { waiters_.lock(); }
    void UnlockWaiters() { waiters_.unlock(); }
    // With the waiters' lock held: sleeps until an event handler completes a transfer or lets go
    // of the event lock, or `timeout` has passed (null: no limit). 1 when the time-out passed,
    // else 0; at once 0 when no thread handles events, since none would wake it.
    int Wait(const timeval* timeout);
    // Wakes the waiters: the handler completed transfers.
    void Notify();

  private:
    std::mutex events_;
    std::atomic<std::thread::id> holder_{};
    std::mutex waiters_;  // held by the host between LockWaiters and UnlockWaiters
    std::condition_variable woken_;
};

EventLock& Events();

bool ValidTimeval(const timeval& tv);

// The descriptor a host polls (POLLIN), made on first use; -1 where the platform has none.
int WakeDescriptor();
// Makes the descriptor readable exactly while an event handler has work now.
void RefreshWake();
// Asks the event handler to return; the next one that runs takes the request.
void InterruptEventHandler();
bool TakeInterruption();
// Whether an event handler has work: transfers, hotplug events or an interruption.
bool EventsWaiting();

}  // namespace vcable::usb
