// Vendor statuses in words, shown in the library's message box.
#include "binding/binding.h"
#include "platform/text.h"

namespace kl::binding {
namespace {

constexpr const char* kStatusTexts[] = {
    " - Invalid Handle",
    " - Device Not Found",
    " - Device Not Opened",
    " - General IO Error",
    " - Insufficient Resources",
    " - Invalid Parameter",
    " - Invalid Baud Rate",
    " - Device not opened for Erase",
    " - Device not opened for Write",
    " - Failed to write Device",
    " - EEPROM read failed",
    " - EEPROM write failed",
    " - EEPROM erase failed",
    " - EEPROM not present",
    " - EEPROM not programmed",
    " - Invalid Arguments",
    " - not supported",
    " - other error",
};
constexpr FtStatus kLastStatusWithText = sizeof(kStatusTexts) / sizeof(kStatusTexts[0]);

}  // namespace

const char* FtStatusText(FtStatus status) {
    if (status < 1 || status > kLastStatusWithText) return nullptr;
    return kStatusTexts[status - 1];
}

void ReportFtStatus(const WChar* operation, FtStatus status) {
    WChar message[160] = {};
    if (const char* statusText = FtStatusText(status)) {
        WChar wideText[48];
        text::NarrowToWide(wideText, 48, statusText);
        text::CopyBounded(message, 160, operation);
        text::AppendBounded(message, 160, wideText);
    }
    platform::ShowMessage(message);
}

}  // namespace kl::binding
