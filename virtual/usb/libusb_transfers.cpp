// The asynchronous transfers: submitted transfers run, in order, when the host handles events,
// each on the model clock like its synchronous form; the callbacks run on the host's thread
// inside the event handler, as libusb runs them.
#include <algorithm>
#include <cstdlib>
#include <new>

#include "entry_points/model_lock.h"
#include "usb/usb_api.h"
#include "usb/usb_objects.h"
#include "vc_export.h"

using namespace vcable;
using namespace vcable::usb;

namespace {

libusb_transfer_status StatusOf(int result) {
    switch (result) {
        case LIBUSB_SUCCESS:
            return LIBUSB_TRANSFER_COMPLETED;
        case LIBUSB_ERROR_TIMEOUT:
            return LIBUSB_TRANSFER_TIMED_OUT;
        case LIBUSB_ERROR_PIPE:
            return LIBUSB_TRANSFER_STALL;
        case LIBUSB_ERROR_NO_DEVICE:
            return LIBUSB_TRANSFER_NO_DEVICE;
        case LIBUSB_ERROR_OVERFLOW:
            return LIBUSB_TRANSFER_OVERFLOW;
        default:
            return LIBUSB_TRANSFER_ERROR;
    }
}

void Run(libusb_transfer* t) {
    libusb_device_handle* handle = t->dev_handle;
    int result = LIBUSB_SUCCESS;
    t->actual_length = 0;
    if (t->type == LIBUSB_TRANSFER_TYPE_CONTROL) {
        unsigned char* setup = t->buffer;
        const uint16_t value = static_cast<uint16_t>(setup[2] | setup[3] << 8);
        const uint16_t index = static_cast<uint16_t>(setup[4] | setup[5] << 8);
        const uint16_t length = static_cast<uint16_t>(setup[6] | setup[7] << 8);
        result = ControlRequest(handle->session, setup[0], setup[1], value, index,
                                setup + LIBUSB_CONTROL_SETUP_SIZE, length);
        if (result >= 0) {
            t->actual_length = result;
            result = LIBUSB_SUCCESS;
        }
    } else {
        result = BulkTransfer(handle->session, t->endpoint, t->buffer, t->length, t->timeout,
                              &t->actual_length);
    }
    t->status = StatusOf(result);
    if (t->status == LIBUSB_TRANSFER_COMPLETED && (t->flags & LIBUSB_TRANSFER_SHORT_NOT_OK) &&
        t->actual_length < t->length && t->type != LIBUSB_TRANSFER_TYPE_CONTROL) {
        t->status = LIBUSB_TRANSFER_ERROR;
    }
}

void Complete(libusb_transfer* t) {
    const uint8_t flags = t->flags;
    if (t->callback != nullptr) t->callback(t);
    if (flags & LIBUSB_TRANSFER_FREE_TRANSFER) {
        if (flags & LIBUSB_TRANSFER_FREE_BUFFER) std::free(t->buffer);
        std::free(t);
    }
}

// Runs what is submitted now (not what the callbacks submit), then the cancelled transfers'
// callbacks. Sets *completed when the host passed a flag and a callback set it.
int HandleEvents(libusb_context* ctx, int* completed) {
    libusb_context* c = ContextOf(ctx);
    size_t count = c->submitted.size() + c->cancelled.size();
    while (count-- > 0 && !(completed != nullptr && *completed)) {
        libusb_transfer* t = nullptr;
        {
            ModelLock lock;
            if (!c->cancelled.empty()) {
                t = c->cancelled.front();
                c->cancelled.pop_front();
                t->status = LIBUSB_TRANSFER_CANCELLED;
            } else if (!c->submitted.empty()) {
                t = c->submitted.front();
                c->submitted.pop_front();
                Run(t);
            }
        }
        if (t != nullptr) Complete(t);
    }
    return LIBUSB_SUCCESS;
}

}  // namespace

extern "C" {

VC_API libusb_transfer* libusb_alloc_transfer(int iso_packets) {
    if (iso_packets < 0) return nullptr;
    const size_t size = sizeof(libusb_transfer) +
                        sizeof(libusb_iso_packet_descriptor) * static_cast<size_t>(iso_packets);
    auto* t = static_cast<libusb_transfer*>(std::calloc(1, size));
    if (t != nullptr) t->num_iso_packets = iso_packets;
    return t;
}

VC_API void libusb_free_transfer(libusb_transfer* transfer) {
    if (transfer == nullptr) return;
    if (transfer->flags & LIBUSB_TRANSFER_FREE_BUFFER) std::free(transfer->buffer);
    std::free(transfer);
}

VC_API int libusb_submit_transfer(libusb_transfer* transfer) {
    if (transfer == nullptr || transfer->dev_handle == nullptr) return LIBUSB_ERROR_INVALID_PARAM;
    if (transfer->type != LIBUSB_TRANSFER_TYPE_CONTROL &&
        transfer->type != LIBUSB_TRANSFER_TYPE_BULK) {
        return NotSupported("an isochronous or interrupt transfer");
    }
    ModelLock lock;
    libusb_device_handle* handle = transfer->dev_handle;
    if (!SessionAlive(handle->session)) return LIBUSB_ERROR_NO_DEVICE;
    libusb_context* ctx = ContextOf(handle->ctx);
    auto& queue = ctx->submitted;
    if (std::find(queue.begin(), queue.end(), transfer) != queue.end()) {
        return LIBUSB_ERROR_BUSY;
    }
    queue.push_back(transfer);
    return LIBUSB_SUCCESS;
}

VC_API int libusb_cancel_transfer(libusb_transfer* transfer) {
    if (transfer == nullptr || transfer->dev_handle == nullptr) return LIBUSB_ERROR_NOT_FOUND;
    ModelLock lock;
    libusb_context* ctx = ContextOf(transfer->dev_handle->ctx);
    auto it = std::find(ctx->submitted.begin(), ctx->submitted.end(), transfer);
    if (it == ctx->submitted.end()) return LIBUSB_ERROR_NOT_FOUND;
    ctx->submitted.erase(it);
    ctx->cancelled.push_back(transfer);
    return LIBUSB_SUCCESS;
}

VC_API int libusb_handle_events(libusb_context* ctx) { return HandleEvents(ctx, nullptr); }
VC_API int libusb_handle_events_completed(libusb_context* ctx, int* completed) {
    return HandleEvents(ctx, completed);
}
VC_API int libusb_handle_events_timeout(libusb_context* ctx, timeval*) {
    return HandleEvents(ctx, nullptr);
}
VC_API int libusb_handle_events_timeout_completed(libusb_context* ctx, timeval*, int* completed) {
    return HandleEvents(ctx, completed);
}

}  // extern "C"
