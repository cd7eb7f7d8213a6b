// ProgramTemplate: the EEPROM record every programmed cable starts from.
#include "provision/provision.h"

namespace kl::provision {
namespace {

char manufacturer[] = "Zelvorinex";
char manufacturerId[] = "ZV";
char defaultDescription[] = "ZV7300LNK";
char defaultSerialNumber[] = "ZV000001";

constexpr uint16_t kMaxPowerMilliamps = 44;
constexpr uint16_t kUsb11 = 0x0110;  // BCD
constexpr uint16_t kUsb20 = 0x0200;  // BCD

constexpr FtProgramData MakeTemplate() {
    FtProgramData data{};
    data.Signature1 = kProgramDataSignature1;
    data.Signature2 = kProgramDataSignature2;
    data.Version = kProgramDataVersion;
    data.VendorId = kCableVendorId;
    data.ProductId = kCableProductId;
    data.Manufacturer = manufacturer;
    data.ManufacturerId = manufacturerId;
    data.Description = defaultDescription;
    data.SerialNumber = defaultSerialNumber;
    data.MaxPower = kMaxPowerMilliamps;
    data.PnP = 1;
    data.SelfPowered = 0;  // bus powered
    data.RemoteWakeup = 1;
    data.Rev4 = 1;
    data.SerNumEnable = 1;
    data.USBVersion = kUsb11;
    data.USBVersion5 = kUsb20;
    return data;  // every other field, the FT232R extensions included, stays 0
}

// Constant-initialised, so it holds its values from the moment the library is loaded.
constinit FtProgramData programTemplate = MakeTemplate();

}  // namespace

FtProgramData& ProgramTemplate() { return programTemplate; }

void ResetProgramTemplateForTests() { programTemplate = MakeTemplate(); }

}  // namespace kl::provision
