// The D2XX programming interface as its callers see it: status codes, the flags and constants of
// the entry points, the device-list node and the EEPROM programming record. Written from the
// programmer's guide's tables; nothing here is shared with the KestrelLink library or the virtual
// cable, so a slip on one side shows up against the other.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ftl {

using FtStatus = uint32_t;
using FtHandle = void*;

constexpr FtStatus kFtOk = 0;
constexpr FtStatus kFtInvalidHandle = 1;
constexpr FtStatus kFtDeviceNotFound = 2;
constexpr FtStatus kFtDeviceNotOpened = 3;
constexpr FtStatus kFtIoError = 4;
constexpr FtStatus kFtInsufficientResources = 5;
constexpr FtStatus kFtInvalidParameter = 6;
constexpr FtStatus kFtInvalidBaudRate = 7;
constexpr FtStatus kFtEepromReadFailed = 11;
constexpr FtStatus kFtEepromWriteFailed = 12;
constexpr FtStatus kFtEepromEraseFailed = 13;
constexpr FtStatus kFtEepromNotPresent = 14;
constexpr FtStatus kFtEepromNotProgrammed = 15;
constexpr FtStatus kFtInvalidArgs = 16;
constexpr FtStatus kFtNotSupported = 17;
constexpr FtStatus kFtOtherError = 18;

// FT_ListDevices and FT_OpenEx flags.
constexpr uint32_t kOpenBySerialNumber = 1;
constexpr uint32_t kOpenByDescription = 2;
constexpr uint32_t kOpenByLocation = 4;
constexpr uint32_t kListNumberOnly = 0x80000000u;
constexpr uint32_t kListByIndex = 0x40000000u;
constexpr uint32_t kListAll = 0x20000000u;

// FT_Purge mask.
constexpr uint32_t kPurgeRx = 1;
constexpr uint32_t kPurgeTx = 2;

// FT_SetFlowControl: the handshake in the high byte, as the chip's own request takes it.
constexpr uint16_t kFlowNone = 0x0000;
constexpr uint16_t kFlowRtsCts = 0x0100;
constexpr uint16_t kFlowDtrDsr = 0x0200;
constexpr uint16_t kFlowXonXoff = 0x0400;

// Device types and the device-list flags.
constexpr uint32_t kDeviceType2232C = 4;
constexpr uint32_t kDeviceType2232H = 6;
constexpr uint32_t kDeviceTypeUnknown = 3;
constexpr uint32_t kListFlagOpened = 1;
constexpr uint32_t kListFlagHighSpeed = 2;

struct FtDeviceListInfoNode {
    uint32_t Flags;
    uint32_t Type;
    uint32_t ID;
    uint32_t LocId;
    char SerialNumber[16];
    char Description[64];
    FtHandle ftHandle;
};
static_assert(offsetof(FtDeviceListInfoNode, Description) == 32);
static_assert(offsetof(FtDeviceListInfoNode, ftHandle) == 96);

// The EEPROM programming record up to its FT232R extensions. The FT2232 chip keeps the common
// fields and the Rev5 (FT2232) ones; the Rev4 and FT232R fields have no place in its EEPROM.
struct FtProgramData {
    uint32_t Signature1;  // 0x00000000
    uint32_t Signature2;  // 0xFFFFFFFF
    uint32_t Version;
    uint16_t VendorId;
    uint16_t ProductId;
    char* Manufacturer;
    char* ManufacturerId;
    char* Description;
    char* SerialNumber;
    uint16_t MaxPower;  // milliamperes
    uint16_t PnP;
    uint16_t SelfPowered;
    uint16_t RemoteWakeup;
    uint8_t Rev4;
    uint8_t IsoIn;
    uint8_t IsoOut;
    uint8_t PullDownEnable;
    uint8_t SerNumEnable;
    uint8_t USBVersionEnable;
    uint16_t USBVersion;
    uint8_t Rev5;
    uint8_t IsoInA;
    uint8_t IsoInB;
    uint8_t IsoOutA;
    uint8_t IsoOutB;
    uint8_t PullDownEnable5;
    uint8_t SerNumEnable5;
    uint8_t USBVersionEnable5;
    uint16_t USBVersion5;
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
static_assert(offsetof(FtProgramData, Manufacturer) == 16);
static_assert(offsetof(FtProgramData, Rev5) == 32 + 4 * sizeof(void*));
static_assert(offsetof(FtProgramData, AIsHighCurrent) == 42 + 4 * sizeof(void*));
static_assert(sizeof(void*) != 8 || sizeof(FtProgramData) == 104);

constexpr uint32_t kProgramSignature1 = 0x00000000;
constexpr uint32_t kProgramSignature2 = 0xFFFFFFFF;

// Sizes of the string buffers a caller of FT_EE_Read provides, NUL included.
constexpr size_t kManufacturerSize = 32;
constexpr size_t kManufacturerIdSize = 16;
constexpr size_t kDescriptionSize = 64;
constexpr size_t kSerialSize = 16;

}  // namespace ftl
