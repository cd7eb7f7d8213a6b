// Entry points of data transfer and queue status.
#include "chip/chip_rules.h"
#include "entry_points/call.h"
#include "vendor_api/ft_api.h"

using namespace vcable;

namespace {

constexpr const char* kPurgeRule =
    "the vendor library's purge mask is FT_PURGE_RX (1), FT_PURGE_TX "
    "(2) or both";

}  // namespace

extern "C" {

VC_API uint32_t FT_Read(void* handle, void* buffer, uint32_t count, uint32_t* bytes_read) {
    Call call(Entry::FT_Read, handle, {count});
    if (bytes_read != nullptr) *bytes_read = 0;
    return call.OnChannel(handle, [&](ChannelRef ref) -> FtStatus {
        if (bytes_read == nullptr || (buffer == nullptr && count > 0)) return kFtInvalidParameter;
        const FtStatus status = ReadFromChannel(ref.Get(), ref.Engine(),
                                                static_cast<uint8_t*>(buffer), count, bytes_read);
        call.Data(buffer, *bytes_read);
        call.Transferred(*bytes_read);
        return status;
    });
}

VC_API uint32_t FT_Write(void* handle, void* buffer, uint32_t count, uint32_t* bytes_written) {
    Call call(Entry::FT_Write, handle, {count});
    call.Data(buffer, count);
    if (bytes_written != nullptr) *bytes_written = 0;
    return call.OnChannel(handle, [&](ChannelRef ref) -> FtStatus {
        if (bytes_written == nullptr || (buffer == nullptr && count > 0)) {
            return kFtInvalidParameter;
        }
        uint32_t accepted = count < call.WriteLimit() ? count : call.WriteLimit();
        const FtStatus status =
            WriteToChannel(ref.Get(), ref.Engine(), static_cast<uint8_t*>(buffer), accepted);
        if (status != kFtOk) return status;
        *bytes_written = accepted;
        call.Transferred(accepted);
        return kFtOk;
    });
}

VC_API uint32_t FT_GetQueueStatus(void* handle, uint32_t* rx_bytes) {
    Call call(Entry::FT_GetQueueStatus, handle, {});
    return call.OnChannel(handle, [&](ChannelRef ref) -> FtStatus {
        if (rx_bytes == nullptr) return kFtInvalidParameter;
        *rx_bytes = 0;
        const FtStatus status = PollChannel(ref.Get(), ref.Engine(), rx_bytes);
        call.Transferred(*rx_bytes);
        return status;
    });
}

VC_API uint32_t FT_GetStatus(void* handle, uint32_t* rx_bytes, uint32_t* tx_bytes,
                             uint32_t* event_status) {
    Call call(Entry::FT_GetStatus, handle, {});
    return call.OnChannel(handle, [&](ChannelRef ref) -> FtStatus {
        if (rx_bytes == nullptr || tx_bytes == nullptr || event_status == nullptr) {
            return kFtInvalidParameter;
        }
        *rx_bytes = 0;
        *tx_bytes = 0;  // writes leave at once
        *event_status = 0;
        const FtStatus status = PollChannel(ref.Get(), ref.Engine(), rx_bytes);
        call.Transferred(*rx_bytes);
        return status;
    });
}

VC_API uint32_t FT_Purge(void* handle, uint32_t mask) {
    Call call(Entry::FT_Purge, handle, {mask});
    return call.OnChannel(handle, [&](ChannelRef ref) -> FtStatus {
        if ((mask & ~(kPurgeRx | kPurgeTx)) != 0) {
            return Refused(kFtInvalidParameter, kPurgeRule, "FT_Purge(0x%X)", mask);
        }
        PurgeChannel(ref.Get(), ref.Engine(), (mask & kPurgeRx) != 0, (mask & kPurgeTx) != 0);
        return kFtOk;
    });
}

VC_API uint32_t FT_SetTimeouts(void* handle, uint32_t read_ms, uint32_t write_ms) {
    Call call(Entry::FT_SetTimeouts, handle, {read_ms, write_ms});
    return call.OnChannel(handle, [&](ChannelRef ref) -> FtStatus {
        ref.Get().settings.readTimeoutMs = read_ms;
        ref.Get().settings.writeTimeoutMs = write_ms;
        return kFtOk;
    });
}

}  // extern "C"
