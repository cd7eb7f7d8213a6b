// The asynchronous transfers: submitted transfers run, in order, when the host handles events,
// each on the model clock like its synchronous form; the callbacks run on the host's thread
// inside the event handler, as libusb runs them.
#include <algorithm>
#include <cstdlib>
#include <new>

#include "entry_points/model_lock.h"
#include "usb/event_loop.h"
#include "usb/usb_api.h"
#include "usb/usb_objects.h"
#include "vc_export.h"

using namespace vcable;
using namespace vcable::usb;

namespace {

// What libusb keeps of a transfer beside its public part, in front of it in one allocation.
struct TransferPrivate {
    uint32_t streamId = 0;
};
constexpr size_t kPrivateSize = alignof(std::max_align_t);
static_assert(sizeof(TransferPrivate) <= kPrivateSize);

TransferPrivate& PrivateOf(libusb_transfer* t) {
    return *reinterpret_cast<TransferPrivate*>(reinterpret_cast<char*>(t) - kPrivateSize);
}

void FreeTransfer(libusb_transfer* t) {
    if (t->flags & LIBUSB_TRANSFER_FREE_BUFFER) std::free(t->buffer);
    std::free(&PrivateOf(t));
}

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
    const bool free = t->flags & LIBUSB_TRANSFER_FREE_TRANSFER;
    if (t->callback != nullptr) t->callback(t);
    if (free) FreeTransfer(t);
}

// Whether a control transfer's buffer holds its setup packet and the data stage that asks for;
// the face never reads or writes past it.
bool FitsSetup(const libusb_transfer* t) {
    constexpr int kSetupSize = LIBUSB_CONTROL_SETUP_SIZE;
    if (t->buffer == nullptr || t->length < kSetupSize) return false;
    return t->length - kSetupSize >= (t->buffer[6] | t->buffer[7] << 8);
}

// What the chip refuses before a transfer runs, as the kernel and libusb report it: an interrupt
// URB on a bulk endpoint, or a control URB shorter than its setup packet and data stage, is
// EINVAL (an I/O error to libusb), an isochronous one is EINVAL (an
// invalid parameter); a stream ID on an endpoint without streams is ignored, so a bulk stream
// transfer runs as a bulk one.
int RefusedType(const libusb_transfer* t) {
    switch (t->type) {
        case LIBUSB_TRANSFER_TYPE_CONTROL:
            return FitsSetup(t) ? LIBUSB_SUCCESS
                                : ModelGap(LIBUSB_ERROR_IO,
                                           "a control transfer shorter than its setup packet "
                                           "and the data stage the packet asks for");
        case LIBUSB_TRANSFER_TYPE_BULK:
        case LIBUSB_TRANSFER_TYPE_BULK_STREAM:
            return LIBUSB_SUCCESS;
        case LIBUSB_TRANSFER_TYPE_INTERRUPT:
            return ModelGap(LIBUSB_ERROR_IO,
                            "an interrupt transfer: the chip has no interrupt endpoint");
        case LIBUSB_TRANSFER_TYPE_ISOCHRONOUS:
            return ModelGap(LIBUSB_ERROR_INVALID_PARAM,
                            "an isochronous transfer: the chip has no isochronous endpoint");
        default:
            return LIBUSB_ERROR_INVALID_PARAM;
    }
}

}  // namespace

namespace vcable::usb {

bool TransfersWaiting() {
    ModelLock lock;
    const libusb_context* c = DefaultContext();
    return !c->submitted.empty() || !c->cancelled.empty();
}

int RunTransfers(int* completed) {
    libusb_context* c = DefaultContext();
    int ran = 0;
    size_t count = 0;
    {
        ModelLock lock;
        count = c->submitted.size() + c->cancelled.size();
    }
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
        if (t != nullptr) {
            Complete(t);
            ++ran;
        }
    }
    return ran;
}

}  // namespace vcable::usb

extern "C" {

VC_API libusb_transfer* libusb_alloc_transfer(int iso_packets) {
    if (iso_packets < 0) return nullptr;
    const size_t size = kPrivateSize + sizeof(libusb_transfer) +
                        sizeof(libusb_iso_packet_descriptor) * static_cast<size_t>(iso_packets);
    auto* block = static_cast<char*>(std::calloc(1, size));
    if (block == nullptr) return nullptr;
    new (block) TransferPrivate;
    auto* t = reinterpret_cast<libusb_transfer*>(block + kPrivateSize);
    t->num_iso_packets = iso_packets;
    return t;
}

VC_API void libusb_free_transfer(libusb_transfer* transfer) {
    if (transfer != nullptr) FreeTransfer(transfer);
}

VC_API void libusb_transfer_set_stream_id(libusb_transfer* transfer, uint32_t stream_id) {
    PrivateOf(transfer).streamId = stream_id;
}

VC_API uint32_t libusb_transfer_get_stream_id(libusb_transfer* transfer) {
    return PrivateOf(transfer).streamId;
}

VC_API int libusb_submit_transfer(libusb_transfer* transfer) {
    if (transfer == nullptr || transfer->dev_handle == nullptr) return LIBUSB_ERROR_INVALID_PARAM;
    if (int e = HandleAlive(transfer->dev_handle)) return e;
    if (int e = RefusedType(transfer)) return e;
    {
        ModelLock lock;
        auto& queue = ContextOf(transfer->dev_handle->ctx)->submitted;
        if (std::find(queue.begin(), queue.end(), transfer) != queue.end()) {
            return LIBUSB_ERROR_BUSY;
        }
        queue.push_back(transfer);
    }
    RefreshWake();
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

}  // extern "C"
