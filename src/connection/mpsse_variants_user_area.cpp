// The EEPROM read-back of OpenDevice_EDP2: manufacturer and user-area text into the log, the
// text to the caller.
#include "binding/program_data.h"
#include "connection/mpsse_variants.h"
#include "log/log.h"
#include "platform/text.h"

namespace kl::connection {
namespace {

constexpr uint32_t kUserAreaTextBytes = 32;

}  // namespace

FtStatus ReadUserAreaText(WChar** textOut) {
    FtStatus status = kFtOk;
    ReadBackRecord record;
    ft::FT_EE_Read(&record.data, status);  // a failed read leaves the zeroed strings

    WChar wide[kUserAreaTextBytes + 1];
    text::NarrowToWide(wide, sizeof(wide) / sizeof(wide[0]), record.manufacturer,
                       sizeof(record.manufacturer));
    log::AppendLogLine(wide);

    // One byte more than is asked for, so the text always ends within the buffer.
    uint8_t userArea[kUserAreaTextBytes + 1] = {};
    uint32_t bytesRead = 0;
    ft::FT_EE_UARead(userArea, kUserAreaTextBytes, &bytesRead, status);
    text::NarrowToWide(wide, sizeof(wide) / sizeof(wide[0]), reinterpret_cast<char*>(userArea),
                       kUserAreaTextBytes);
    log::AppendLogLine(wide);

    if (textOut) *textOut = platform::AllocOleString(wide);
    return status;
}

}  // namespace kl::connection
