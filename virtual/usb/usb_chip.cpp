// Sessions and the bulk endpoints.
#include "usb/usb_chip.h"

#include <algorithm>
#include <vector>

#include "chip/model_options.h"
#include "entry_points/model_lock.h"
#include "faults/faults.h"
#include "usb/descriptors.h"
#include "usb/usb_abi.h"
#include "usb/usb_status.h"
#include "vendor_api/ft_api.h"

namespace vcable::usb {
namespace {

constexpr int kPayload = kPacketSize - 2;

bool InTable(const Device* device) {
    for (int i = 0; i < DeviceCount(); ++i) {
        if (DeviceAt(i) == device) return true;
    }
    return false;
}

// The IN side: the chip answers an IN token with the packets of what has reached it for the
// host, ending with a short one; with nothing there the transfer waits for the next bytes or for
// the latency timer, whose status-only packet ends it.
int BulkIn(Session& session, void* handle, uint8_t* data, int length, uint32_t timeoutMs,
           int* transferred) {
    Channel& channel = session.device->channels[FindHandle(handle).channel];
    const uint32_t latencyMs = channel.settings.latencyMs;
    const bool usbDelivery = CurrentReplyDelivery() == ReplyDelivery::kUsb;
    uint32_t queued = 0;
    if (FT_GetQueueStatus(handle, &queued) != kFtOk) return FailedCall(session);
    if (queued == 0 && usbDelivery) {
        const uint32_t waitMs = timeoutMs > 0 ? std::min(latencyMs, timeoutMs) : latencyMs;
        channel.rx.AwaitAny(waitMs);
        if (FT_GetQueueStatus(handle, &queued) != kFtOk) return FailedCall(session);
        if (queued == 0 && timeoutMs > 0 && timeoutMs < latencyMs) return LIBUSB_ERROR_TIMEOUT;
    }
    const int packets = std::max(1, length / kPacketSize);
    const uint32_t capacity = static_cast<uint32_t>(std::min(packets * kPayload, length - 2));
    std::vector<uint8_t> payload(std::min(capacity, queued));
    uint32_t got = 0;
    channel.settings.readTimeoutMs = latencyMs;  // never waits: the bytes are there
    // One FT_Read per transfer, empty or not, so fault rules on it count IN transfers.
    if (FT_Read(handle, payload.data(), static_cast<uint32_t>(payload.size()), &got) != kFtOk) {
        return FailedCall(session);
    }
    int out = 0;
    for (uint32_t at = 0; at < got || out == 0; at += kPayload) {
        data[out++] = kModemStatus;
        data[out++] = kLineStatus;
        const uint32_t n = std::min<uint32_t>(kPayload, got - std::min(at, got));
        std::copy_n(payload.begin() + at, n, data + out);
        out += static_cast<int>(n);
    }
    *transferred = out;
    return LIBUSB_SUCCESS;
}

}  // namespace

bool SessionAlive(Session& session) {
    if (session.lost) return false;
    if (session.device == nullptr || !InTable(session.device) || !session.device->plugged ||
        session.device->enumeration != session.enumeration) {
        session.lost = true;
        return false;
    }
    for (int c = 0; c < 2; ++c) {
        if (session.channels[c] != nullptr && FindHandle(session.channels[c]).device == nullptr) {
            session.lost = true;  // a port cycle or reset closed it
            return false;
        }
    }
    return true;
}

int OpenInterface(Session& session, int interface) {
    ModelLock lock;
    if (!SessionAlive(session)) return LIBUSB_ERROR_NO_DEVICE;
    if (interface < 0 || interface >= session.device->ChannelCount()) {
        return LIBUSB_ERROR_NOT_FOUND;
    }
    if (session.channels[interface] != nullptr) return LIBUSB_SUCCESS;
    Channel& channel = session.device->channels[interface];
    if (channel.IsOpen()) return LIBUSB_ERROR_BUSY;  // another host has it
    session.channels[interface] = OpenByRef({session.device, interface});
    return LIBUSB_SUCCESS;
}

int ReleaseInterface(Session& session, int interface) {
    ModelLock lock;
    if (!SessionAlive(session)) return LIBUSB_ERROR_NO_DEVICE;
    if (interface < 0 || interface >= 2 || session.channels[interface] == nullptr) {
        return LIBUSB_ERROR_NOT_FOUND;
    }
    FT_Close(session.channels[interface]);
    session.channels[interface] = nullptr;
    return LIBUSB_SUCCESS;
}

bool ClaimsAny(const Session& session) {
    return session.channels[0] != nullptr || session.channels[1] != nullptr;
}

void EndSession(Session& session) {
    ModelLock lock;
    for (void*& handle : session.channels) {
        if (handle != nullptr && SessionAlive(session)) FT_Close(handle);
        handle = nullptr;
    }
}

int ResetSession(Session& session) {
    ModelLock lock;
    if (!SessionAlive(session)) return LIBUSB_ERROR_NO_DEVICE;
    Device& device = *session.device;
    const bool renamed = ResetPort(device);
    for (int c = 0; c < 2; ++c) {
        if (session.channels[c] == nullptr) continue;
        session.channels[c] = renamed ? nullptr : OpenByRef({&device, c});
    }
    if (!renamed) return LIBUSB_SUCCESS;
    session.lost = true;
    return LIBUSB_ERROR_NOT_FOUND;  // the host must find the device again
}

int BulkTransfer(Session& session, uint8_t endpoint, uint8_t* data, int length, uint32_t timeoutMs,
                 int* transferred) {
    ModelLock lock;
    *transferred = 0;
    if (!SessionAlive(session)) return LIBUSB_ERROR_NO_DEVICE;
    const int interface = InterfaceOfEndpoint(*session.device, endpoint);
    if (length < 0 || (data == nullptr && length > 0)) return LIBUSB_ERROR_INVALID_PARAM;
    if (interface < 0) return LIBUSB_ERROR_NOT_FOUND;  // usbfs finds no such endpoint (ENOENT)
    const int opened = OpenInterface(session, interface);
    if (opened != LIBUSB_SUCCESS) return opened;
    void* handle = session.channels[interface];
    if (endpoint & LIBUSB_ENDPOINT_IN) {
        if (length < 2) return LIBUSB_ERROR_OVERFLOW;  // a packet is at least the status bytes
        return BulkIn(session, handle, data, length, timeoutMs, transferred);
    }
    uint32_t written = 0;
    if (FT_Write(handle, data, static_cast<uint32_t>(length), &written) != kFtOk) {
        return FailedCall(session);
    }
    *transferred = static_cast<int>(written);
    return LIBUSB_SUCCESS;
}

}  // namespace vcable::usb
