// The vendor library's data types as its callers see them: status codes, the device-list record,
// the EEPROM programming record and the flag values of the calls. Declared here on their own so
// that a mistake in the host library's declarations is caught rather than repeated.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vcable {

using FtStatus = uint32_t;

// Status codes in the vendor's order.
enum : FtStatus {
    kFtOk = 0,
    kFtInvalidHandle = 1,
    kFtDeviceNotFound = 2,
    kFtDeviceNotOpened = 3,
    kFtIoError = 4,
    kFtInsufficientResources = 5,
    kFtInvalidParameter = 6,
    kFtInvalidBaudRate = 7,
    kFtDeviceNotOpenedForErase = 8,
    kFtDeviceNotOpenedForWrite = 9,
    kFtFailedToWriteDevice = 10,
    kFtEepromReadFailed = 11,
    kFtEepromWriteFailed = 12,
    kFtEepromEraseFailed = 13,
    kFtEepromNotPresent = 14,
    kFtEepromNotProgrammed = 15,
    kFtInvalidArgs = 16,
    kFtNotSupported = 17,
    kFtOtherError = 18,
};

// One entry of the device list (104 bytes in a 64-bit process).
struct FtDeviceListInfoNode {
    uint32_t flags;
    uint32_t type;
    uint32_t id;
    uint32_t locId;
    char serialNumber[16];
    char description[64];
    void* ftHandle;
};

// The EEPROM programming record, up to and including the single-channel chip's extension fields.
struct FtProgramData {
    uint32_t signature1;
    uint32_t signature2;
    uint32_t version;
    uint16_t vendorId;
    uint16_t productId;
    char* manufacturer;
    char* manufacturerId;
    char* description;
    char* serialNumber;
    uint16_t maxPower;
    uint16_t pnp;
    uint16_t selfPowered;
    uint16_t remoteWakeup;
    // Revision 4 chip fields.
    uint8_t rev4;
    uint8_t isoIn;
    uint8_t isoOut;
    uint8_t pullDownEnable;
    uint8_t serNumEnable;
    uint8_t usbVersionEnable;
    uint16_t usbVersion;
    // Dual-channel chip fields.
    uint8_t rev5;
    uint8_t isoInA;
    uint8_t isoInB;
    uint8_t isoOutA;
    uint8_t isoOutB;
    uint8_t pullDownEnable5;
    uint8_t serNumEnable5;
    uint8_t usbVersionEnable5;
    uint16_t usbVersion5;
    uint8_t aIsHighCurrent;
    uint8_t bIsHighCurrent;
    uint8_t ifaIsFifo;
    uint8_t ifaIsFifoTar;
    uint8_t ifaIsFastSer;
    uint8_t aIsVcp;
    uint8_t ifbIsFifo;
    uint8_t ifbIsFifoTar;
    uint8_t ifbIsFastSer;
    uint8_t bIsVcp;
    // Single-channel chip (R series) fields.
    uint8_t useExtOsc;
    uint8_t highDriveIos;
    uint8_t endPointSize;
    uint8_t pullDownEnableR;
    uint8_t serNumEnableR;
    uint8_t invertTxd;
    uint8_t invertRxd;
    uint8_t invertRts;
    uint8_t invertCts;
    uint8_t invertDtr;
    uint8_t invertDsr;
    uint8_t invertDcd;
    uint8_t invertRi;
    uint8_t cbus0;
    uint8_t cbus1;
    uint8_t cbus2;
    uint8_t cbus3;
    uint8_t cbus4;
    uint8_t rIsD2xx;
};

#if UINTPTR_MAX == UINT64_MAX
static_assert(sizeof(FtDeviceListInfoNode) == 104);
static_assert(offsetof(FtDeviceListInfoNode, locId) == 12);
static_assert(offsetof(FtDeviceListInfoNode, serialNumber) == 16);
static_assert(offsetof(FtDeviceListInfoNode, description) == 32);
static_assert(offsetof(FtDeviceListInfoNode, ftHandle) == 96);

static_assert(sizeof(FtProgramData) == 104);
static_assert(offsetof(FtProgramData, vendorId) == 12);
static_assert(offsetof(FtProgramData, manufacturer) == 16);
static_assert(offsetof(FtProgramData, serialNumber) == 40);
static_assert(offsetof(FtProgramData, maxPower) == 48);
static_assert(offsetof(FtProgramData, rev4) == 56);
static_assert(offsetof(FtProgramData, usbVersion) == 62);
static_assert(offsetof(FtProgramData, rev5) == 64);
static_assert(offsetof(FtProgramData, usbVersion5) == 72);
static_assert(offsetof(FtProgramData, aIsHighCurrent) == 74);
static_assert(offsetof(FtProgramData, useExtOsc) == 84);
static_assert(offsetof(FtProgramData, rIsD2xx) == 102);
#endif

// The record's fixed signatures.
constexpr uint32_t kProgramSignature1 = 0x00000000;
constexpr uint32_t kProgramSignature2 = 0xFFFFFFFF;

// FT_OpenEx flags and the FT_ListDevices flags that pick what is listed.
constexpr uint32_t kOpenBySerialNumber = 1;
constexpr uint32_t kOpenByDescription = 2;
constexpr uint32_t kOpenByLocation = 4;
constexpr uint32_t kListNumberOnly = 0x80000000;
constexpr uint32_t kListByIndex = 0x40000000;
constexpr uint32_t kListAll = 0x20000000;

// Device-list node flags.
constexpr uint32_t kNodeFlagOpened = 1;

// Device types as the list reports them.
constexpr uint32_t kDeviceTypeDualChannel = 4;
constexpr uint32_t kDeviceTypeSingleChannel = 5;

// FT_Purge mask bits.
constexpr uint32_t kPurgeRx = 1;
constexpr uint32_t kPurgeTx = 2;

// FT_SetBitMode modes.
constexpr uint8_t kBitModeReset = 0x00;
constexpr uint8_t kBitModeAsyncBitBang = 0x01;
constexpr uint8_t kBitModeMpsse = 0x02;
constexpr uint8_t kBitModeSyncBitBang = 0x04;
constexpr uint8_t kBitModeMcuHost = 0x08;
constexpr uint8_t kBitModeFastSerial = 0x10;
constexpr uint8_t kBitModeCbusBitBang = 0x20;
constexpr uint8_t kBitModeSyncFifo = 0x40;

// FT_SetDataCharacteristics values.
constexpr uint8_t kBits7 = 7;
constexpr uint8_t kBits8 = 8;
constexpr uint8_t kStopBits1 = 0;
constexpr uint8_t kStopBits2 = 2;
constexpr uint8_t kParityMax = 4;  // none, odd, even, mark, space

// FT_SetFlowControl values.
constexpr uint16_t kFlowNone = 0x0000;
constexpr uint16_t kFlowRtsCts = 0x0100;
constexpr uint16_t kFlowDtrDsr = 0x0200;
constexpr uint16_t kFlowXonXoff = 0x0400;

}  // namespace vcable
