// The rest of libusb's interface on the USB face: event handling (poll descriptor, time-outs,
// the event lock across threads), hotplug, what the chip cannot do, and wrapped system devices.
#include <sys/time.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <poll.h>
#include <unistd.h>
#endif

#include "usb/usb_api.h"
#include "vcable_fixture.h"
#include "vcable_scenario.h"
#include "vcable_usb.h"

namespace {

class UsbAbiTest : public VcableTest {
  protected:
    void SetUp() override {
        VcableTest::SetUp();
        ASSERT_EQ(libusb_init(&ctx_), 0);
        handle_ = libusb_open_device_with_vid_pid(ctx_, 0x0403, 0x6010);
        ASSERT_NE(handle_, nullptr);
        ASSERT_EQ(libusb_claim_interface(handle_, 0), 0);
    }
    void TearDown() override {
        libusb_close(handle_);
        libusb_exit(ctx_);
    }

    // A bulk OUT transfer of `bytes` on channel A; `done` is set when its callback ran.
    libusb_transfer* Transfer(uint8_t type, std::vector<uint8_t>& bytes, int* done) {
        libusb_transfer* t = libusb_alloc_transfer(0);
        t->dev_handle = handle_;
        t->endpoint = 0x02;
        t->type = type;
        t->buffer = bytes.data();
        t->length = static_cast<int>(bytes.size());
        t->user_data = done;
        t->callback = [](libusb_transfer* x) { *static_cast<int*>(x->user_data) = 1; };
        return t;
    }

    libusb_context* ctx_ = nullptr;
    libusb_device_handle* handle_ = nullptr;
};

#ifndef _WIN32
bool Readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 0) == 1;
}

// A host with its own event loop polls the face's descriptor and asks when to call in. (Its
// transfer is a bulk stream one: the kernel ignores a stream ID on an endpoint without streams,
// so it runs as a bulk transfer.)
TEST_F(UsbAbiTest, ThePollDescriptorIsReadableWhileEventsWait) {
    const libusb_pollfd** fds = libusb_get_pollfds(ctx_);
    ASSERT_NE(fds, nullptr);
    ASSERT_NE(fds[0], nullptr);
    EXPECT_EQ(fds[1], nullptr);
    const int fd = fds[0]->fd;
    EXPECT_EQ(fds[0]->events, POLLIN);
    libusb_free_pollfds(fds);
    EXPECT_EQ(libusb_pollfds_handle_timeouts(ctx_), 0);

    timeval tv{5, 0};
    EXPECT_FALSE(Readable(fd));
    EXPECT_EQ(libusb_get_next_timeout(ctx_, &tv), 0);
    std::vector<uint8_t> bytes{0x81};
    int done = 0;
    libusb_transfer* t = Transfer(LIBUSB_TRANSFER_TYPE_BULK_STREAM, bytes, &done);
    libusb_transfer_set_stream_id(t, 7);
    EXPECT_EQ(libusb_transfer_get_stream_id(t), 7u);
    ASSERT_EQ(libusb_submit_transfer(t), 0);
    EXPECT_TRUE(Readable(fd));
    EXPECT_EQ(libusb_get_next_timeout(ctx_, &tv), 1);
    EXPECT_EQ(tv.tv_sec * 1000000 + tv.tv_usec, 0) << "handle events now";
    timeval now{0, 0};
    ASSERT_EQ(libusb_handle_events_timeout(ctx_, &now), 0);
    EXPECT_EQ(done, 1);
    EXPECT_EQ(t->status, LIBUSB_TRANSFER_COMPLETED);
    EXPECT_FALSE(Readable(fd));
    libusb_interrupt_event_handler(ctx_);
    EXPECT_TRUE(Readable(fd));
    ASSERT_EQ(libusb_handle_events_timeout_completed(ctx_, &now, nullptr), 0);
    EXPECT_FALSE(Readable(fd));
    timeval bad{0, 1000000};
    EXPECT_EQ(libusb_handle_events_timeout(ctx_, &bad), LIBUSB_ERROR_INVALID_PARAM);
    libusb_free_transfer(t);
}

// The documented pattern for several threads: one holds the event lock and handles events, the
// others wait for it as event waiters.
TEST_F(UsbAbiTest, TheEventLockMakesOthersWaitForTheHandler) {
    std::vector<uint8_t> bytes{0x81};
    static std::atomic<int> done;
    done = 0;
    libusb_transfer* t = Transfer(LIBUSB_TRANSFER_TYPE_BULK, bytes, nullptr);
    t->callback = [](libusb_transfer*) { done = 1; };
    ASSERT_EQ(libusb_submit_transfer(t), 0);

    libusb_lock_events(ctx_);
    EXPECT_EQ(libusb_event_handler_active(ctx_), 1);
    int tryLock = -1, timedWait = -1;
    std::thread([&] {
        tryLock = libusb_try_lock_events(ctx_);
        libusb_lock_event_waiters(ctx_);
        timeval shortly{0, 1000};
        timedWait = libusb_wait_for_event(ctx_, &shortly);
        libusb_unlock_event_waiters(ctx_);
    }).join();
    EXPECT_EQ(tryLock, 1) << "another thread holds the lock";
    EXPECT_EQ(timedWait, 1) << "nothing completed: the wait timed out";

    bool waiterSawIt = false;
    std::thread waiter([&] {
        libusb_lock_event_waiters(ctx_);
        while (done == 0 && libusb_event_handler_active(ctx_)) libusb_wait_for_event(ctx_, nullptr);
        waiterSawIt = done == 1;
        libusb_unlock_event_waiters(ctx_);
    });
    ASSERT_EQ(libusb_event_handling_ok(ctx_), 1);
    ASSERT_EQ(libusb_handle_events_locked(ctx_, nullptr), 0);
    libusb_unlock_events(ctx_);
    waiter.join();
    EXPECT_TRUE(waiterSawIt);
    EXPECT_EQ(libusb_event_handler_active(ctx_), 0);
    libusb_free_transfer(t);
}
#endif  // !_WIN32

struct Heard {
    std::vector<std::pair<libusb_hotplug_event, uint16_t>> events;  // with the product ID
    std::vector<libusb_device*> devices;
    int stopAfter = 0;  // returns 1 (deregistered) after this many, if not 0
};

int Hear(libusb_context*, libusb_device* dev, libusb_hotplug_event event, void* user) {
    auto* heard = static_cast<Heard*>(user);
    libusb_device_descriptor d{};
    libusb_get_device_descriptor(dev, &d);  // still answers once the device has left
    heard->events.push_back({event, d.idProduct});
    heard->devices.push_back(dev);
    return heard->stopAfter != 0 && static_cast<int>(heard->events.size()) >= heard->stopAfter;
}

constexpr auto kArrived = LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED;
constexpr auto kLeft = LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT;
constexpr int kBoth = kArrived | kLeft;

TEST_F(UsbAbiTest, HotplugReportsTheCablesArrivalsAndDepartures) {
    Heard all, other, once;
    once.stopAfter = 1;
    libusb_hotplug_callback_handle handle = 0;
    ASSERT_EQ(libusb_hotplug_register_callback(ctx_, kBoth, LIBUSB_HOTPLUG_ENUMERATE,
                                               LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
                                               LIBUSB_HOTPLUG_MATCH_ANY, Hear, &all, &handle),
              0);
    ASSERT_EQ(libusb_hotplug_register_callback(ctx_, kBoth, 0, 0x1234, LIBUSB_HOTPLUG_MATCH_ANY,
                                               LIBUSB_HOTPLUG_MATCH_ANY, Hear, &other, nullptr),
              0);
    ASSERT_EQ(libusb_hotplug_register_callback(ctx_, kArrived, 0, LIBUSB_HOTPLUG_MATCH_ANY,
                                               LIBUSB_HOTPLUG_MATCH_ANY, 0, Hear, &once, nullptr),
              0);
    EXPECT_EQ(libusb_hotplug_get_user_data(ctx_, handle), &all);
    ASSERT_EQ(all.events.size(), 1u) << "the cable already there, enumerated";
    libusb_handle_events(ctx_);
    EXPECT_EQ(all.events.size(), 1u) << "nothing changed";
    // The face hears of the bus changing only when it looks: an event loop is asked back soon.
    timeval tv{};
    EXPECT_EQ(libusb_get_next_timeout(ctx_, &tv), 1);
    EXPECT_EQ(tv.tv_sec * 1000000 + tv.tv_usec, 100000);

    const struct {
        const char* change;
        std::function<void()> act;
        std::vector<std::pair<libusb_hotplug_event, uint16_t>> heard;
    } rows[] = {
        {"unplug", [] { vc_unplug(0); }, {{kLeft, 0x6010}}},
        {"replug", [] { vc_replug(0); }, {{kArrived, 0x6010}}},
        {"unplug fault rule",
         [&] {
             vc_fault_unplug("FT_Write", 1, 0);
             uint8_t byte = 0x81;
             int n = 0;
             libusb_device_handle* h = libusb_open_device_with_vid_pid(ctx_, 0x0403, 0x6010);
             libusb_bulk_transfer(h, 0x02, &byte, 1, &n, 0);
             libusb_close(h);
             vc_replug(0);
         },
         {{kLeft, 0x6010}, {kArrived, 0x6010}}},
        {"port reset with new strings",
         [&] {
             vc_eeprom_program(0, "Zelvorinex", "ZV", "OTHER", "ZV000009");
             libusb_device_handle* h = libusb_open_device_with_vid_pid(ctx_, 0x0403, 0x6010);
             EXPECT_EQ(libusb_reset_device(h), LIBUSB_ERROR_NOT_FOUND);
             libusb_close(h);
         },
         {{kLeft, 0x6010}, {kArrived, 0x6010}}},
        {"new scenario",
         [] {
             ASSERT_EQ(vc_load_scenario_text("[[device]]\ndescription = \"P\"\nserial = \"S\"\n"
                                             "vendor_id = 0x1209\nproduct_id = 0x7301\n",
                                             nullptr, 0),
                       0);
         },
         {{kLeft, 0x6010}, {kArrived, 0x7301}}},
    };
    for (const auto& row : rows) {
        all.events.clear();
        row.act();
        timeval tv{};
        EXPECT_EQ(libusb_get_next_timeout(ctx_, &tv), 1) << row.change;
        libusb_handle_events(ctx_);
        EXPECT_EQ(all.events, row.heard) << row.change;
    }
    EXPECT_TRUE(other.events.empty()) << "another vendor ID hears nothing";
    EXPECT_EQ(once.events, (decltype(once.events){{kArrived, 0x6010}}))
        << "the first arrival alone: it hears no departure, and returning 1 deregisters it";
    EXPECT_EQ(all.devices[1], all.devices[0]) << "the device that left is the one that came";
    libusb_hotplug_deregister_callback(ctx_, handle);
    EXPECT_EQ(libusb_hotplug_get_user_data(ctx_, handle), nullptr);
    vc_unplug(0);
    libusb_handle_events(ctx_);
    EXPECT_EQ(all.events.size(), 2u) << "a deregistered callback hears no more";

    const int invalid[][5] = {{0, 0, -1, -1, -1},     {4, 0, -1, -1, -1},
                              {kBoth, 2, -1, -1, -1}, {kBoth, 0, 0x10000, -1, -1},
                              {kBoth, 0, -1, -2, -1}, {kBoth, 0, -1, -1, 0x100}};
    for (const auto& r : invalid) {
        EXPECT_EQ(libusb_hotplug_register_callback(ctx_, r[0], r[1], r[2], r[3], r[4], Hear, &all,
                                                   nullptr),
                  LIBUSB_ERROR_INVALID_PARAM);
    }
}

// What a full-speed bulk-only chip cannot do fails as on Linux, recorded as a model error; the
// rest of the interface answers for the chip as it is.
TEST_F(UsbAbiTest, TheChipsLimitsAnswerAsOnLinux) {
    libusb_device* dev = libusb_get_device(handle_);
    unsigned char endpoints[] = {0x81, 0x02};
    uint8_t buffer[8] = {};
    int transferred = -1;
    libusb_bos_descriptor* bos = nullptr;
    libusb_config_descriptor* config = nullptr;
    libusb_transfer* iso = libusb_alloc_transfer(1);
    iso->dev_handle = handle_;
    iso->endpoint = 0x81;
    iso->type = LIBUSB_TRANSFER_TYPE_ISOCHRONOUS;
    iso->buffer = buffer;
    iso->length = 8;
    // A control transfer whose setup packet asks for 64 bytes it has no room for.
    uint8_t setup[LIBUSB_CONTROL_SETUP_SIZE + 2] = {0xC0, 0x0A, 0, 0, 1, 0, 64, 0};
    libusb_transfer* control = libusb_alloc_transfer(0);
    control->dev_handle = handle_;
    control->type = LIBUSB_TRANSFER_TYPE_CONTROL;
    control->buffer = setup;
    control->length = sizeof setup;
    const struct {
        const char* call;
        std::function<int()> run;
        int result;
        uint32_t modelErrors;
    } rows[] = {
        {"alloc_streams", [&] { return libusb_alloc_streams(handle_, 4, endpoints, 2); },
         LIBUSB_ERROR_INVALID_PARAM, 1},
        {"free_streams", [&] { return libusb_free_streams(handle_, endpoints, 2); },
         LIBUSB_ERROR_INVALID_PARAM, 1},
        {"interrupt_transfer",
         [&] { return libusb_interrupt_transfer(handle_, 0x81, buffer, 8, &transferred, 0); },
         LIBUSB_ERROR_IO, 1},
        {"submit isochronous", [&] { return libusb_submit_transfer(iso); },
         LIBUSB_ERROR_INVALID_PARAM, 1},
        {"submit control, data past the buffer", [&] { return libusb_submit_transfer(control); },
         LIBUSB_ERROR_IO, 1},
        {"bulk on endpoint 0x85",
         [&] { return libusb_bulk_transfer(handle_, 0x85, buffer, 8, &transferred, 0); },
         LIBUSB_ERROR_IO, 0},
        {"claim interface 2", [&] { return libusb_claim_interface(handle_, 2); },
         LIBUSB_ERROR_NOT_FOUND, 0},
        {"set_configuration with interface 0 claimed",
         [&] { return libusb_set_configuration(handle_, 1); }, LIBUSB_ERROR_BUSY, 0},
        {"claim interface 32", [&] { return libusb_claim_interface(handle_, 32); },
         LIBUSB_ERROR_INVALID_PARAM, 0},
        {"get_bos_descriptor: the chip stalls",
         [&] { return libusb_get_bos_descriptor(handle_, &bos); }, LIBUSB_ERROR_PIPE, 0},
        {"config by value 2",
         [&] { return libusb_get_config_descriptor_by_value(dev, 2, &config); },
         LIBUSB_ERROR_NOT_FOUND, 0},
        {"max packet size 0x83", [&] { return libusb_get_max_packet_size(dev, 0x83); }, 64, 0},
        {"max packet size 0x85", [&] { return libusb_get_max_packet_size(dev, 0x85); },
         LIBUSB_ERROR_NOT_FOUND, 0},
        {"max iso packet size 0x02", [&] { return libusb_get_max_iso_packet_size(dev, 0x02); }, 64,
         0},
        {"port numbers", [&] { return libusb_get_port_numbers(dev, buffer, 8); }, 1, 0},
        {"port numbers into nothing", [&] { return libusb_get_port_numbers(dev, buffer, 0); },
         LIBUSB_ERROR_INVALID_PARAM, 0},
        {"port path", [&] { return libusb_get_port_path(ctx_, dev, buffer, 8); }, 1, 0},
        {"speed", [&] { return libusb_get_device_speed(dev); }, LIBUSB_SPEED_FULL, 0},
    };
    for (const auto& row : rows) {
        const uint32_t before = vc_model_error_count();
        EXPECT_EQ(row.run(), row.result) << row.call;
        EXPECT_EQ(vc_model_error_count() - before, row.modelErrors) << row.call;
    }
    EXPECT_EQ(transferred, 0);
    EXPECT_EQ(bos, nullptr);
    EXPECT_EQ(libusb_get_parent(dev), nullptr);
    ASSERT_EQ(libusb_get_config_descriptor_by_value(dev, 1, &config), 0);
    libusb_ss_endpoint_companion_descriptor* companion = nullptr;
    EXPECT_EQ(libusb_get_ss_endpoint_companion_descriptor(
                  ctx_, &config->interface[0].altsetting[0].endpoint[0], &companion),
              LIBUSB_ERROR_NOT_FOUND);
    libusb_free_config_descriptor(config);
    libusb_free_transfer(iso);
    libusb_free_transfer(control);
}

#ifndef _WIN32
// A host on a platform that keeps the bus to itself: no discovery, a device node from the
// platform (vc_usb_sys_device here), wrapped into a handle; device memory as its buffer.
TEST_F(UsbAbiTest, AWrappedDeviceNodeReachesTheCable) {
    libusb_context* ctx = nullptr;
    ASSERT_EQ(libusb_init(&ctx), 0);
    ASSERT_EQ(libusb_set_option(ctx, LIBUSB_OPTION_NO_DEVICE_DISCOVERY), 0);
    libusb_device** list = nullptr;
    EXPECT_EQ(libusb_get_device_list(ctx, &list), 0);
    libusb_free_device_list(list, 1);

    const int fd = vc_usb_sys_device(0);
    ASSERT_GE(fd, 0);
    uint8_t node[18] = {};
    ASSERT_EQ(read(fd, node, sizeof node), 18);
    EXPECT_EQ(node[1], LIBUSB_DT_DEVICE);
    libusb_device_handle* wrapped = nullptr;
    libusb_close(handle_);  // channel A is free again
    handle_ = nullptr;
    ASSERT_EQ(libusb_wrap_sys_device(ctx, fd, &wrapped), 0);
    ASSERT_EQ(libusb_claim_interface(wrapped, 0), 0);
    unsigned char* memory = libusb_dev_mem_alloc(wrapped, 64);
    ASSERT_NE(memory, nullptr);
    int n = 0;
    ASSERT_EQ(libusb_control_transfer(wrapped, 0x40, 0x0B, 0x020B, 1, nullptr, 0, 0), 0);
    memory[0] = 0x81;  // read the low pins
    EXPECT_EQ(libusb_bulk_transfer(wrapped, 0x02, memory, 1, &n, 0), 0);
    EXPECT_EQ(libusb_bulk_transfer(wrapped, 0x81, memory, 64, &n, 0), 0);
    EXPECT_EQ(n, 3) << "the status bytes and the pin byte";
    EXPECT_EQ(libusb_dev_mem_free(wrapped, memory, 64), 0);
    libusb_close(wrapped);
    EXPECT_EQ(vc_model_error_count(), 0u);

    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    EXPECT_EQ(libusb_wrap_sys_device(ctx, pipe_fds[0], &wrapped), LIBUSB_ERROR_IO);
    EXPECT_EQ(vc_model_error_count(), 1u) << "only the face's own nodes can be wrapped";
    vc_unplug(0);
    EXPECT_EQ(libusb_wrap_sys_device(ctx, fd, &wrapped), LIBUSB_ERROR_NO_DEVICE);
    EXPECT_EQ(vc_usb_sys_device(0), -1) << "no node for a device off the bus";
    for (int f : {fd, pipe_fds[0], pipe_fds[1]}) close(f);
    libusb_exit(ctx);
}
#endif  // !_WIN32

}  // namespace
