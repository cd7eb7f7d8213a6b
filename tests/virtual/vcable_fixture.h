// Shared set-up of the virtual cable's unit tests: every test starts from the default scenario,
// with immediate reply delivery whatever VCABLE_REPLY_DELIVERY says (the tests of USB delivery
// choose it themselves).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "test_bytes.h"
#include "vcable.h"
#include "vendor_api/ft_api.h"
#include "vendor_api/ft_types.h"

class VcableTest : public ::testing::Test {
  protected:
    void SetUp() override {
        vc_reset();
        vc_set_reply_delivery(VC_DELIVERY_IMMEDIATE);
    }

    // Lists the devices the way a host does: create, then fetch.
    static std::vector<vcable::FtDeviceListInfoNode> ListDevices() {
        uint32_t count = 0;
        EXPECT_EQ(FT_CreateDeviceInfoList(&count), vcable::kFtOk);
        std::vector<vcable::FtDeviceListInfoNode> nodes(count + 1);
        uint32_t fetched = 0;
        EXPECT_EQ(FT_GetDeviceInfoList(nodes.data(), &fetched), vcable::kFtOk);
        EXPECT_EQ(fetched, count);
        nodes.resize(fetched);
        return nodes;
    }

    static uint32_t Write(void* handle, std::vector<uint8_t> bytes) {
        uint32_t written = 0;
        EXPECT_EQ(FT_Write(handle, bytes.data(), static_cast<uint32_t>(bytes.size()), &written),
                  vcable::kFtOk);
        return written;
    }

    static void* OpenAt(uint32_t location) {
        void* handle = nullptr;
        EXPECT_EQ(FT_OpenEx(reinterpret_cast<void*>(uintptr_t{location}), vcable::kOpenByLocation,
                            &handle),
                  vcable::kFtOk);
        return handle;
    }

    static std::vector<uint8_t> TxCapture(int device, int channel) {
        std::vector<uint8_t> bytes(vc_tx_size(device, channel));
        vc_tx_read(device, channel, 0, bytes.data(), static_cast<uint32_t>(bytes.size()));
        return bytes;
    }

    static std::vector<uint8_t> ReadAll(void* handle) {
        uint32_t pending = 0;
        EXPECT_EQ(FT_GetQueueStatus(handle, &pending), vcable::kFtOk);
        std::vector<uint8_t> bytes(pending);
        uint32_t read = 0;
        EXPECT_EQ(FT_Read(handle, bytes.data(), pending, &read), vcable::kFtOk);
        bytes.resize(read);
        return bytes;
    }
};
