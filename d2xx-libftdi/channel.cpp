#include "channel.h"

#include <ftdi.h>
#include <libusb-1.0/libusb.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "status_map.h"

namespace ftl {
namespace {

constexpr uint32_t kStatusBytes = 2;  // each packet from the chip starts with the modem status
constexpr int kPacketsPerPoll = 64;

// Failures that mean the chip is no longer on the bus.
bool LeftTheBus(int usbResult) {
    return usbResult == LIBUSB_ERROR_NO_DEVICE || usbResult == LIBUSB_ERROR_NOT_FOUND;
}

FtStatus Failed(Channel& channel, int usbResult) {
    if (LeftTheBus(usbResult)) channel.unplugged = true;
    return StatusFromUsb(usbResult, Step::kCall);
}

using Clock = std::chrono::steady_clock;

}  // namespace

FtStatus Poll(Channel& channel, uint32_t timeoutMs) {
    if (channel.unplugged) return kFtIoError;
    const uint32_t packet = std::max(channel.ftdi->max_packet_size, kStatusBytes + 1);
    std::vector<uint8_t> buffer(packet * kPacketsPerPoll);
    int got = 0;
    // libusb counts a time-out of 0 as none at all; the shortest wait is 1 ms.
    int result = libusb_bulk_transfer(
        channel.ftdi->usb_dev, static_cast<unsigned char>(channel.ftdi->out_ep), buffer.data(),
        static_cast<int>(buffer.size()), &got, std::max<uint32_t>(timeoutMs, 1));
    // Packets that arrived before a time-out still count.
    for (int at = 0; at < got; at += static_cast<int>(packet)) {
        const int end = std::min(got, at + static_cast<int>(packet));
        if (end - at < static_cast<int>(kStatusBytes)) break;
        channel.modemStatus = static_cast<uint16_t>(buffer[at] | buffer[at + 1] << 8);
        channel.rx.insert(channel.rx.end(), buffer.begin() + at + kStatusBytes,
                          buffer.begin() + end);
    }
    if (result == 0 || result == LIBUSB_ERROR_TIMEOUT) return kFtOk;
    return Failed(channel, result);
}

FtStatus Read(Channel& channel, uint8_t* out, uint32_t count, uint32_t& got) {
    got = 0;
    const auto start = Clock::now();
    const auto limit = std::chrono::milliseconds(channel.readTimeoutMs);
    // Each wait for a packet is bounded by the latency timer, after which the chip sends one.
    const uint32_t wait = std::max<uint32_t>(channel.latencyMs, 1) + 1;
    while (channel.rx.size() < count) {
        auto waited = Clock::now() - start;
        if (channel.readTimeoutMs != 0 && waited >= limit) break;
        uint32_t slice = wait;
        if (channel.readTimeoutMs != 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(limit - waited);
            slice = std::min<uint32_t>(wait, static_cast<uint32_t>(left.count()) + 1);
        }
        if (FtStatus status = Poll(channel, slice)) return status;
    }
    got = std::min<uint32_t>(count, static_cast<uint32_t>(channel.rx.size()));
    std::copy_n(channel.rx.begin(), got, out);
    channel.rx.erase(channel.rx.begin(), channel.rx.begin() + got);
    return kFtOk;
}

FtStatus Write(Channel& channel, const uint8_t* data, uint32_t count, uint32_t& written) {
    written = 0;
    if (channel.unplugged) return kFtIoError;
    const uint32_t chunk = std::max<uint32_t>(channel.ftdi->writebuffer_chunksize, 64);
    while (written < count) {
        const uint32_t n = std::min(chunk, count - written);
        int sent = 0;
        int result = libusb_bulk_transfer(channel.ftdi->usb_dev,
                                          static_cast<unsigned char>(channel.ftdi->in_ep),
                                          const_cast<uint8_t*>(data + written), static_cast<int>(n),
                                          &sent, channel.writeTimeoutMs);
        written += static_cast<uint32_t>(sent);
        if (result == LIBUSB_ERROR_TIMEOUT) return kFtOk;
        if (result != 0) return Failed(channel, result);
    }
    return kFtOk;
}

bool Gone(Channel& channel) {
    if (channel.unplugged || channel.cycled) return true;
    unsigned char status[2] = {};
    if (libusb_control_transfer(channel.ftdi->usb_dev, LIBUSB_ENDPOINT_IN,
                                LIBUSB_REQUEST_GET_STATUS, 0, 0, status, sizeof status,
                                100) == LIBUSB_ERROR_NO_DEVICE) {
        channel.unplugged = true;
    }
    return channel.unplugged;
}

FtStatus Checked(Channel& channel, int ftdiResult) {
    if (ftdiResult >= 0) return kFtOk;
    // libftdi1 keeps libusb's cause to itself: ask the bus whether the chip is still there.
    Gone(channel);
    return StatusFromFtdi(ftdiResult, Step::kCall);
}

}  // namespace ftl
