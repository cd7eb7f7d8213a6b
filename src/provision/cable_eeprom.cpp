// ProgramCableEeprom: erase, program from the template, read back, and the user area.
#include <cstdlib>
#include <cstring>

#include "log/log.h"
#include "platform/text.h"
#include "provision/provision.h"

namespace kl::provision {
namespace {

constexpr size_t kLogPieceUnits = 256;

// Logs narrow bytes up to the first NUL (at most count) as one entry, then its line end. A text
// longer than a piece goes out in consecutive appends, which leave the same bytes in the file.
void AppendLogBytes(const char* bytes, size_t count) {
    size_t length = strnlen(bytes, count);
    WChar piece[kLogPieceUnits + 1];
    size_t done = 0;
    do {
        size_t take = length - done < kLogPieceUnits ? length - done : kLogPieceUnits;
        text::NarrowToWide(piece, take + 1, bytes + done, take);
        log::AppendLog(piece);
        done += take;
    } while (done < length);
    log::AppendLog(KL_W("\n"));
}

// The decimal digits of a value, however many it needs.
void AppendLogNumber(uint32_t value) {
    WChar digits[11];
    size_t n = sizeof(digits) / sizeof(digits[0]) - 1;
    digits[n] = 0;
    do {
        digits[--n] = static_cast<WChar>(u'0' + value % 10);
        value /= 10;
    } while (value != 0);
    log::AppendLogLine(digits + n);
}

// The user-area buffer: the narrow text to write, then whatever the read delivers over it. It
// holds the reported user-area size and a NUL, whatever that size; only when that much memory
// cannot be had does the read ask for less.
class UserAreaBuffer {
  public:
    explicit UserAreaBuffer(uint32_t userAreaSize) {
        size_t wanted = static_cast<size_t>(userAreaSize) + 1;
        if (wanted > sizeof(local_)) heap_ = static_cast<char*>(calloc(wanted, 1));
        bytes_ = heap_ ? heap_ : local_;
        readLength_ = heap_ || wanted <= sizeof(local_) ? userAreaSize : sizeof(local_) - 1;
    }
    ~UserAreaBuffer() { free(heap_); }
    UserAreaBuffer(const UserAreaBuffer&) = delete;
    UserAreaBuffer& operator=(const UserAreaBuffer&) = delete;

    char* bytes() { return bytes_; }
    uint32_t readLength() const { return readLength_; }

  private:
    char local_[kUserTextCopyBytes] = {};
    char* heap_ = nullptr;
    char* bytes_ = nullptr;
    uint32_t readLength_ = 0;
};

}  // namespace

FtStatus ProgramCableEeprom(const WChar* description, const WChar* serial, const WChar* userText) {
    FtStatus status = kFtOk;
    ReadBackRecord readBack;

    char descriptionCopy[kDescriptionCopyBytes];
    char serialCopy[kSerialCopyBytes];
    text::WideToNarrow(descriptionCopy, sizeof(descriptionCopy), description);
    text::WideToNarrow(serialCopy, sizeof(serialCopy), serial);
    FtProgramData& record = ProgramTemplate();
    char* const templateDescription = record.Description;
    char* const templateSerial = record.SerialNumber;
    record.Description = descriptionCopy;
    record.SerialNumber = serialCopy;

    ft::FT_EraseEE(status);
    ft::FT_EE_Program(&record, status);
    // The copies live for this run only; the template must not keep pointing at them.
    record.Description = templateDescription;
    record.SerialNumber = templateSerial;

    ft::FT_EE_Read(&readBack.data, status);
    AppendLogBytes(readBack.manufacturer, sizeof(readBack.manufacturer));

    uint32_t userAreaSize = 0;
    ft::FT_EE_UASize(&userAreaSize, status);
    AppendLogNumber(userAreaSize);

    UserAreaBuffer userArea(userAreaSize);
    char* buffer = userArea.bytes();
    text::WideToNarrow(buffer, kUserTextCopyBytes, userText);
    auto textLength = static_cast<uint32_t>(strlen(buffer));
    ft::FT_EE_UAWrite(reinterpret_cast<uint8_t*>(buffer), textLength, status);

    uint32_t bytesRead = 0;
    ft::FT_EE_UARead(reinterpret_cast<uint8_t*>(buffer), userArea.readLength(), &bytesRead, status);
    if (bytesRead > userArea.readLength()) bytesRead = userArea.readLength();
    // What the read delivered, up to its first NUL; the text itself when it delivered nothing.
    AppendLogBytes(buffer, bytesRead > 0 ? bytesRead : textLength);
    return status;
}

}  // namespace kl::provision
