// The library on libftdi1 over the virtual cable's USB face: read time-outs, an unplug during a
// long read, DTR, and the receive queue under two threads (the ThreadSanitizer stage runs this
// program too). The program links the library and the USB face; libftdi1 is the system's.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "entry_points.h"
#include "vcable.h"
#include "vcable_uart.h"

namespace ftl {
namespace {

using Clock = std::chrono::steady_clock;

class LibftdiChain : public ::testing::Test {
  protected:
    void SetUp() override {
        vc_reset();
        ASSERT_EQ(FT_OpenEx(const_cast<char*>("ZV7300LNK A"), kOpenByDescription, &a), kFtOk);
        ASSERT_EQ(FT_OpenEx(const_cast<char*>("ZV000001B"), kOpenBySerialNumber, &b), kFtOk);
        ASSERT_EQ(FT_SetBaudRate(b, 115200), kFtOk);
    }
    void TearDown() override {
        if (a) FT_Close(a);
        if (b) FT_Close(b);
    }
    FtStatus Send(FtHandle handle, const std::string& text) {
        uint32_t written = 0;
        FtStatus status =
            FT_Write(handle, text.data(), static_cast<uint32_t>(text.size()), &written);
        EXPECT_EQ(written, text.size());
        return status;
    }

    FtHandle a = nullptr;
    FtHandle b = nullptr;
};

TEST_F(LibftdiChain, ReadWaitsForItsCountOrItsTimeout) {
    struct Row {
        std::string sent;
        uint32_t asked;
        uint32_t timeoutMs;
        uint32_t got;
        bool waitsFullTimeout;
    } rows[] = {
        {"", 8, 80, 0, true},           // nothing comes: the whole time-out, then success
        {"abc", 8, 80, 3, true},        // part of the count: what came, after the time-out
        {"abcdefgh", 8, 80, 8, false},  // the whole count: at once
        {"abcdefgh", 4, 0, 4, false},   // no time-out, count there: at once; the rest stays
    };
    for (const Row& row : rows) {
        ASSERT_EQ(FT_Purge(b, kPurgeRx | kPurgeTx), kFtOk);
        ASSERT_EQ(FT_SetTimeouts(b, row.timeoutMs, 0), kFtOk);
        if (!row.sent.empty()) {
            ASSERT_EQ(Send(b, row.sent), kFtOk);
        }
        char in[16] = {};
        uint32_t got = 99;
        const auto start = Clock::now();
        EXPECT_EQ(FT_Read(b, in, row.asked, &got), kFtOk) << row.sent;
        const auto waited = Clock::now() - start;
        EXPECT_EQ(got, row.got) << row.sent;
        EXPECT_EQ(std::string(in, got), row.sent.substr(0, got));
        if (row.waitsFullTimeout) {
            EXPECT_GE(waited, std::chrono::milliseconds(row.timeoutMs)) << row.sent;
        }
    }
    uint32_t left = 0;
    EXPECT_EQ(FT_GetQueueStatus(b, &left), kFtOk);
    EXPECT_EQ(left, 4u) << "the bytes the last read did not ask for stay queued";
    // A purge empties both queues: what the library fetched and what still waits in the chip.
    const uint8_t stale[] = {'s', 't', 'a', 'l', 'e'};
    ASSERT_EQ(vc_inject_rx(0, 1, stale, sizeof stale), 0);
    ASSERT_EQ(FT_Purge(b, kPurgeRx), kFtOk);
    EXPECT_EQ(FT_GetQueueStatus(b, &left), kFtOk);
    EXPECT_EQ(left, 0u);
}

TEST_F(LibftdiChain, UnplugEndsALongRead) {
    ASSERT_EQ(FT_SetTimeouts(b, 0, 0), kFtOk);  // wait for the whole count
    std::thread unplug([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        vc_unplug(0);
    });
    char in[16];
    uint32_t got = 99;
    EXPECT_EQ(FT_Read(b, in, sizeof in, &got), kFtIoError);
    unplug.join();
    EXPECT_EQ(got, 0u);
    uint32_t queued = 0;
    EXPECT_EQ(FT_GetQueueStatus(a, &queued), kFtIoError) << "the other channel's handle too";
    EXPECT_EQ(FT_Close(b), kFtIoError) << "released, but the cable is reported gone";
    b = nullptr;
    FtHandle again = nullptr;
    EXPECT_EQ(FT_OpenEx(const_cast<char*>("ZV7300LNK B"), kOpenByDescription, &again),
              kFtDeviceNotFound);
}

TEST_F(LibftdiChain, DtrEdgesReachThePeer) {
    EXPECT_EQ(FT_SetDtr(b), kFtOk);
    EXPECT_EQ(FT_ClrDtr(b), kFtOk);
    EXPECT_EQ(FT_SetDtr(b), kFtOk);
    uint8_t levels[8] = {};
    ASSERT_EQ(vc_uart_dtr_history(0, 1, levels, sizeof levels), 3u);
    EXPECT_EQ(levels[0], 1);
    EXPECT_EQ(levels[1], 0);
    EXPECT_EQ(levels[2], 1);
}

// One thread sends on channel B's loopback and reads the bytes back; another polls the same
// queue and drives channel A meanwhile. Every byte must come back once, in order.
TEST_F(LibftdiChain, ReceiveQueueUnderTwoThreads) {
    ASSERT_EQ(FT_SetTimeouts(b, 1000, 1000), kFtOk);
    ASSERT_EQ(FT_SetBitMode(a, 0, 2), kFtOk);
    std::atomic<bool> done = false;
    std::thread poller([&] {
        while (!done) {
            uint32_t rx = 0, tx = 0, events = 0;
            EXPECT_EQ(FT_GetStatus(b, &rx, &tx, &events), kFtOk);
            uint32_t written = 0;
            const uint8_t badCommand = 0xAA;
            EXPECT_EQ(FT_Write(a, &badCommand, 1, &written), kFtOk);
            EXPECT_EQ(FT_Purge(a, kPurgeRx), kFtOk);
        }
    });
    std::string received;
    for (int round = 0; round < 50; ++round) {
        const std::string text = "round " + std::to_string(round) + ";";
        ASSERT_EQ(Send(b, text), kFtOk);
        char in[32] = {};
        uint32_t got = 0;
        ASSERT_EQ(FT_Read(b, in, static_cast<uint32_t>(text.size()), &got), kFtOk);
        received.append(in, got);
    }
    done = true;
    poller.join();
    std::string expected;
    for (int round = 0; round < 50; ++round) expected += "round " + std::to_string(round) + ";";
    EXPECT_EQ(received, expected);
}

}  // namespace
}  // namespace ftl
