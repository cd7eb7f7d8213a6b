// The vendor's EEPROM programming record as FT_EE_Program and FT_EE_Read take it: the fields up
// to and including the FT232R extensions, 104 bytes in a 64-bit process. Written field by field
// from the record's published layout; the offsets are checked below so a slip shows at compile
// time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "binding/d2xx.h"

namespace kl {

struct FtProgramData {
    uint32_t Signature1;  // 0x00000000
    uint32_t Signature2;  // 0xFFFFFFFF
    uint32_t Version;     // 1: the record carries the FT2232 extensions
    uint16_t VendorId;
    uint16_t ProductId;
    char* Manufacturer;    // narrow, NUL-terminated
    char* ManufacturerId;  // narrow, NUL-terminated
    char* Description;     // narrow, NUL-terminated
    char* SerialNumber;    // narrow, NUL-terminated
    uint16_t MaxPower;     // milliamperes
    uint16_t PnP;
    uint16_t SelfPowered;
    uint16_t RemoteWakeup;
    // Rev4 (FT232B) extensions.
    uint8_t Rev4;
    uint8_t IsoIn;
    uint8_t IsoOut;
    uint8_t PullDownEnable;
    uint8_t SerNumEnable;
    uint8_t USBVersionEnable;
    uint16_t USBVersion;  // BCD
    // Rev5 (FT2232) extensions.
    uint8_t Rev5;
    uint8_t IsoInA;
    uint8_t IsoInB;
    uint8_t IsoOutA;
    uint8_t IsoOutB;
    uint8_t PullDownEnable5;
    uint8_t SerNumEnable5;
    uint8_t USBVersionEnable5;
    uint16_t USBVersion5;  // BCD
    uint8_t AIsHighCurrent;
    uint8_t BIsHighCurrent;
    uint8_t IFAIsFifo;
    uint8_t IFAIsFifoTar;
    uint8_t IFAIsFastSer;
    uint8_t AIsVCP;
    uint8_t IFBIsFifo;
    uint8_t IFBIsFifoTar;
    uint8_t IFBIsFastSer;
    uint8_t BIsVCP;
    // FT232R extensions.
    uint8_t UseExtOsc;
    uint8_t HighDriveIOs;
    uint8_t EndPointSize;
    uint8_t PullDownEnableR;
    uint8_t SerNumEnableR;
    uint8_t InvertTXD;
    uint8_t InvertRXD;
    uint8_t InvertRTS;
    uint8_t InvertCTS;
    uint8_t InvertDTR;
    uint8_t InvertDSR;
    uint8_t InvertDCD;
    uint8_t InvertRI;
    uint8_t Cbus0;
    uint8_t Cbus1;
    uint8_t Cbus2;
    uint8_t Cbus3;
    uint8_t Cbus4;
    uint8_t RIsD2XX;
};

static_assert(offsetof(FtProgramData, VendorId) == 12);
static_assert(offsetof(FtProgramData, Manufacturer) == 16);
static_assert(offsetof(FtProgramData, SerialNumber) == 16 + 3 * sizeof(void*));
static_assert(offsetof(FtProgramData, MaxPower) == 16 + 4 * sizeof(void*));
static_assert(offsetof(FtProgramData, Rev4) == 24 + 4 * sizeof(void*));
static_assert(offsetof(FtProgramData, USBVersion) == 30 + 4 * sizeof(void*));
static_assert(offsetof(FtProgramData, Rev5) == 32 + 4 * sizeof(void*));
static_assert(offsetof(FtProgramData, USBVersion5) == 40 + 4 * sizeof(void*));
static_assert(offsetof(FtProgramData, AIsHighCurrent) == 42 + 4 * sizeof(void*));
static_assert(offsetof(FtProgramData, UseExtOsc) == 52 + 4 * sizeof(void*));
static_assert(offsetof(FtProgramData, RIsD2XX) == 70 + 4 * sizeof(void*));
static_assert(sizeof(void*) != 8 || sizeof(FtProgramData) == 104);

constexpr uint32_t kProgramDataSignature1 = 0x00000000;
constexpr uint32_t kProgramDataSignature2 = 0xFFFFFFFF;
constexpr uint32_t kProgramDataVersion = 1;

// Sizes of the string buffers a read-back record points at.
constexpr size_t kManufacturerBytes = 32;
constexpr size_t kManufacturerIdBytes = 16;
constexpr size_t kDescriptionBytes = 64;
constexpr size_t kSerialNumberBytes = 16;

// A record prepared for FT_EE_Read: signatures and version set, its four string pointers aimed at
// zeroed buffers of its own (so a failed read leaves empty strings).
struct ReadBackRecord {
    FtProgramData data{};
    char manufacturer[kManufacturerBytes] = {};
    char manufacturerId[kManufacturerIdBytes] = {};
    char description[kDescriptionBytes] = {};
    char serialNumber[kSerialNumberBytes] = {};

    ReadBackRecord() {
        data.Signature1 = kProgramDataSignature1;
        data.Signature2 = kProgramDataSignature2;
        data.Version = kProgramDataVersion;
        data.Manufacturer = manufacturer;
        data.ManufacturerId = manufacturerId;
        data.Description = description;
        data.SerialNumber = serialNumber;
    }
    ReadBackRecord(const ReadBackRecord&) = delete;
    ReadBackRecord& operator=(const ReadBackRecord&) = delete;
};

}  // namespace kl
