// Entry points of the configuration EEPROM: the programming record, the user area and erase. Each
// call reads or writes the whole 93C46 image word by word and leaves its layout to
// eeprom_layout.h.
#include <ftdi.h>
#include <libusb-1.0/libusb.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "call.h"
#include "eeprom_layout.h"
#include "entry_points.h"
#include "status_map.h"

using namespace ftl;

namespace {

// The chip's vendor requests for its EEPROM words; libftdi1 reads a word, but its word write
// serves only the larger EEPROMs' unprotected area.
constexpr uint8_t kRequestOut = 0x40;  // vendor request, host to device
constexpr uint8_t kWriteEepromRequest = 0x91;
constexpr uint8_t kEraseEepromRequest = 0x92;
constexpr unsigned kRequestTimeoutMs = 1000;

FtStatus UsbStep(Channel& channel, int result, Step step) {
    if (result == LIBUSB_ERROR_NO_DEVICE) channel.unplugged = true;
    return StatusFromUsb(result, step);
}

FtStatus ReadImage(Channel& channel, EepromImage& image) {
    for (size_t word = 0; word < kEepromWords; ++word) {
        unsigned short value = 0;
        if (ftdi_read_eeprom_location(channel.ftdi, static_cast<int>(word), &value) < 0) {
            Checked(channel, -1);  // marks a chip that has left the bus
            return channel.unplugged ? kFtIoError : kFtEepromReadFailed;
        }
        image[word] = value;
    }
    return kFtOk;
}

FtStatus WriteImage(Channel& channel, const EepromImage& image) {
    for (size_t word = 0; word < kEepromWords; ++word) {
        int result = libusb_control_transfer(
            channel.ftdi->usb_dev, kRequestOut, kWriteEepromRequest, image[word],
            static_cast<uint16_t>(word), nullptr, 0, kRequestTimeoutMs);
        if (result < 0) return UsbStep(channel, result, Step::kEepromWrite);
    }
    return kFtOk;
}

// The image of a programmed EEPROM, or the status that says why there is none.
FtStatus ReadProgrammed(Channel& channel, EepromImage& image) {
    if (FtStatus status = ReadImage(channel, image)) return status;
    return DecodeImage(image) ? kFtOk : kFtEepromNotProgrammed;
}

bool SignaturesValid(const FtProgramData* data) {
    return data != nullptr && data->Signature1 == kProgramSignature1 &&
           data->Signature2 == kProgramSignature2;
}

// A caller's string, or null when it does not end within the size its read-back buffer has.
const char* Bounded(const char* text, size_t size) {
    return std::memchr(text, 0, size) == nullptr ? nullptr : text;
}

void CopyOut(const std::string& text, char* out) {
    if (out != nullptr) std::memcpy(out, text.c_str(), text.size() + 1);
}

}  // namespace

FTL_API FtStatus FT_EE_Program(FtHandle handle, FtProgramData* data) {
    if (!SignaturesValid(data) || !data->Manufacturer || !data->ManufacturerId ||
        !data->Description || !data->SerialNumber) {
        return kFtInvalidParameter;
    }
    if (!Bounded(data->Manufacturer, kManufacturerSize) ||
        !Bounded(data->ManufacturerId, kManufacturerIdSize) ||
        !Bounded(data->Description, kDescriptionSize) ||
        !Bounded(data->SerialNumber, kSerialSize)) {
        return kFtEepromWriteFailed;
    }
    auto image = EncodeImage(*data, data->Manufacturer, data->Description, data->SerialNumber);
    if (!image) return kFtEepromWriteFailed;
    return OnChannel(handle, [&](Channel& channel) { return WriteImage(channel, *image); });
}

FTL_API FtStatus FT_EE_Read(FtHandle handle, FtProgramData* data) {
    if (!SignaturesValid(data)) return kFtInvalidParameter;
    return OnChannel(handle, [&](Channel& channel) {
        EepromImage image{};
        if (FtStatus status = ReadProgrammed(channel, image)) return status;
        EepromContents contents = *DecodeImage(image);
        // The caller's signatures, version and buffers stay; the rest is the chip's.
        FtProgramData result = contents.record;
        result.Signature1 = data->Signature1;
        result.Signature2 = data->Signature2;
        result.Version = data->Version;
        result.Manufacturer = data->Manufacturer;
        result.ManufacturerId = data->ManufacturerId;
        result.Description = data->Description;
        result.SerialNumber = data->SerialNumber;
        CopyOut(contents.manufacturer, result.Manufacturer);
        CopyOut(contents.manufacturerId, result.ManufacturerId);
        CopyOut(contents.description, result.Description);
        CopyOut(contents.serial, result.SerialNumber);
        *data = result;
        return kFtOk;
    });
}

FTL_API FtStatus FT_EraseEE(FtHandle handle) {
    return OnChannel(handle, [](Channel& channel) {
        int result =
            libusb_control_transfer(channel.ftdi->usb_dev, kRequestOut, kEraseEepromRequest, 0, 0,
                                    nullptr, 0, kRequestTimeoutMs);
        return UsbStep(channel, result, Step::kEepromErase);
    });
}

FTL_API FtStatus FT_EE_UASize(FtHandle handle, uint32_t* size) {
    if (size == nullptr) return kFtInvalidParameter;
    return OnChannel(handle, [&](Channel& channel) {
        EepromImage image{};
        if (FtStatus status = ReadProgrammed(channel, image)) return status;
        *size = UserAreaSize(image);
        return kFtOk;
    });
}

FTL_API FtStatus FT_EE_UARead(FtHandle handle, uint8_t* data, uint32_t length, uint32_t* got) {
    if (data == nullptr || got == nullptr) return kFtInvalidParameter;
    return OnChannel(handle, [&](Channel& channel) {
        EepromImage image{};
        if (FtStatus status = ReadProgrammed(channel, image)) return status;
        const std::vector<uint8_t> area = DecodeImage(image)->userArea;
        *got = std::min<uint32_t>(length, static_cast<uint32_t>(area.size()));
        std::memcpy(data, area.data(), *got);
        return kFtOk;
    });
}

FTL_API FtStatus FT_EE_UAWrite(FtHandle handle, uint8_t* data, uint32_t length) {
    if (data == nullptr && length > 0) return kFtInvalidParameter;
    return OnChannel(handle, [&](Channel& channel) {
        EepromImage image{};
        if (FtStatus status = ReadProgrammed(channel, image)) return status;
        if (length > UserAreaSize(image)) return kFtEepromWriteFailed;
        PutUserArea(image, data, length);
        return WriteImage(channel, image);
    });
}
