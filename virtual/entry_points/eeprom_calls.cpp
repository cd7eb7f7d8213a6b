// Entry points of the configuration EEPROM; any channel's handle reaches the chip's EEPROM.
#include <cstring>
#include <string>

#include "entry_points/call.h"
#include "vendor_api/ft_api.h"

using namespace vcable;

namespace {

// Longest string of a caller's record that the call log keeps.
constexpr size_t kLoggedStringLimit = 256;

// The record's four strings as the call log keeps them: manufacturer, manufacturer ID,
// description and serial number, each ended by a NUL (a missing one is empty). Nothing for a
// record without the signatures, whose pointers may be anything.
std::string RecordStrings(const FtProgramData* record) {
    std::string out;
    if (record == nullptr || record->signature1 != kProgramSignature1 ||
        record->signature2 != kProgramSignature2) {
        return out;
    }
    for (const char* text : {record->manufacturer, record->manufacturerId, record->description,
                             record->serialNumber}) {
        if (text != nullptr) out.append(text, strnlen(text, kLoggedStringLimit));
        out.push_back('\0');
    }
    return out;
}

}  // namespace

extern "C" {

VC_API uint32_t FT_EraseEE(void* handle) {
    Call call(Entry::FT_EraseEE, handle, {});
    return call.OnChannel(handle, [](ChannelRef ref) -> FtStatus {
        EraseEeprom(ref.device->eeprom);
        ++ref.device->eeprom.erases;
        return kFtOk;
    });
}

VC_API uint32_t FT_EE_Program(void* handle, void* program_data) {
    Call call(Entry::FT_EE_Program, handle, {});
    const std::string strings = RecordStrings(static_cast<const FtProgramData*>(program_data));
    call.Data(strings.data(), strings.size());
    return call.OnChannel(handle, [&](ChannelRef ref) -> FtStatus {
        return ProgramFromRecord(ref.device->eeprom, static_cast<FtProgramData*>(program_data));
    });
}

VC_API uint32_t FT_EE_Read(void* handle, void* program_data) {
    Call call(Entry::FT_EE_Read, handle, {});
    return call.OnChannel(handle, [&](ChannelRef ref) -> FtStatus {
        return ReadIntoRecord(ref.device->eeprom, static_cast<FtProgramData*>(program_data));
    });
}

VC_API uint32_t FT_EE_UASize(void* handle, uint32_t* size) {
    Call call(Entry::FT_EE_UASize, handle, {});
    return call.OnChannel(handle, [&](ChannelRef ref) -> FtStatus {
        if (size == nullptr) return kFtInvalidParameter;
        const Eeprom& eeprom = ref.device->eeprom;
        if (!eeprom.programmed) return kFtEepromNotProgrammed;
        *size = static_cast<uint32_t>(eeprom.userArea.size());
        call.Transferred(*size);
        return kFtOk;
    });
}

VC_API uint32_t FT_EE_UARead(void* handle, uint8_t* data, uint32_t length, uint32_t* bytes_read) {
    Call call(Entry::FT_EE_UARead, handle, {length});
    return call.OnChannel(handle, [&](ChannelRef ref) -> FtStatus {
        FtStatus status = ReadUserArea(ref.device->eeprom, data, length, bytes_read);
        if (status == kFtOk) {
            call.Data(data, *bytes_read);
            call.Transferred(*bytes_read);
        }
        return status;
    });
}

VC_API uint32_t FT_EE_UAWrite(void* handle, uint8_t* data, uint32_t length) {
    Call call(Entry::FT_EE_UAWrite, handle, {length});
    call.Data(data, length);
    return call.OnChannel(handle, [&](ChannelRef ref) -> FtStatus {
        FtStatus status = WriteUserArea(ref.device->eeprom, data, length);
        if (status == kFtOk) call.Transferred(length);
        return status;
    });
}

}  // extern "C"
