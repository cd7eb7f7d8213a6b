// Entry points of the data path: reads, writes, the receive queue, purges and time-outs.
#include <ftdi.h>

#include "call.h"
#include "entry_points.h"

using namespace ftl;

namespace {

// A status poll waits no longer than a packet takes to come: the chip sends one at least every
// latency period, with or without data.
uint32_t PollWait(const Channel& channel) { return channel.latencyMs + 1u; }

}  // namespace

FTL_API FtStatus FT_Read(FtHandle handle, void* buffer, uint32_t count, uint32_t* got) {
    if (buffer == nullptr || got == nullptr) return kFtInvalidParameter;
    *got = 0;
    return OnChannel(handle, [&](Channel& channel) {
        return Read(channel, static_cast<uint8_t*>(buffer), count, *got);
    });
}

FTL_API FtStatus FT_Write(FtHandle handle, const void* buffer, uint32_t count, uint32_t* written) {
    if ((buffer == nullptr && count > 0) || written == nullptr) return kFtInvalidParameter;
    *written = 0;
    return OnChannel(handle, [&](Channel& channel) {
        return Write(channel, static_cast<const uint8_t*>(buffer), count, *written);
    });
}

FTL_API FtStatus FT_GetQueueStatus(FtHandle handle, uint32_t* rxBytes) {
    if (rxBytes == nullptr) return kFtInvalidParameter;
    return OnChannel(handle, [&](Channel& channel) {
        FtStatus status = Poll(channel, PollWait(channel));
        *rxBytes = static_cast<uint32_t>(channel.rx.size());
        return status;
    });
}

FTL_API FtStatus FT_GetStatus(FtHandle handle, uint32_t* rx, uint32_t* tx, uint32_t* events) {
    if (rx == nullptr || tx == nullptr || events == nullptr) return kFtInvalidParameter;
    return OnChannel(handle, [&](Channel& channel) {
        FtStatus status = Poll(channel, PollWait(channel));
        *rx = static_cast<uint32_t>(channel.rx.size());
        *tx = 0;  // writes return once the chip has taken their bytes
        *events = 0;
        return status;
    });
}

FTL_API FtStatus FT_Purge(FtHandle handle, uint32_t mask) {
    return OnChannel(handle, [&](Channel& channel) {
        if (mask & kPurgeRx) {
            channel.rx.clear();
            if (FtStatus status = Checked(channel, ftdi_tciflush(channel.ftdi))) return status;
        }
        if (mask & kPurgeTx) return Checked(channel, ftdi_tcoflush(channel.ftdi));
        return kFtOk;
    });
}

FTL_API FtStatus FT_SetTimeouts(FtHandle handle, uint32_t readMs, uint32_t writeMs) {
    return OnChannel(handle, [&](Channel& channel) {
        channel.readTimeoutMs = readMs;
        channel.writeTimeoutMs = writeMs;
        return kFtOk;
    });
}

// Event notification needs the driver to signal a host's event object; this library has no
// thread to do so.
FTL_API FtStatus FT_SetEventNotification(FtHandle handle, uint32_t, void*) {
    return OnChannel(handle, [](Channel&) { return kFtNotSupported; });
}
