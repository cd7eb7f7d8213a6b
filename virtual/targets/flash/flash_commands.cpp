// What the flash does with each command byte and at the end of each transaction: the part's
// status registers, protection, probe commands, addressing and busy times.
#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>

#include "record/wire_clock.h"
#include "targets/flash/flash_opcodes.h"
#include "targets/flash/spi_flash.h"

namespace vcable {
namespace {

using namespace flash_op;

constexpr uint8_t kBusyBit = 0x01;
constexpr uint8_t kWriteEnableBit = 0x02;
constexpr uint64_t kPsPerUs = 1000000;
constexpr uint64_t kNever = UINT64_MAX;

std::string Hex(uint32_t value, int digits = 2) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

// The register a status read returns, or -1.
int StatusReadIndex(const FlashPart& part, uint8_t command) {
    for (int i = 0; i < part.registers; ++i) {
        if (part.access[i].readOpcode == command) return i;
    }
    return -1;
}

// The first register a status write command writes, or -1.
int StatusWriteIndex(const FlashPart& part, uint8_t command) {
    for (int i = 0; i < part.registers; ++i) {
        if (part.access[i].writeOpcode != 0 && part.access[i].writeOpcode == command) return i;
    }
    return -1;
}

bool Is4ByteOpcode(uint8_t command) {
    return command == kRead4 || command == kFastRead4 || command == kPageProgram4 ||
           command == kSectorErase4 || command == kBlockErase64_4;
}

bool IsProgramOrErase(uint8_t command) {
    switch (command) {
        case kPageProgram:
        case kPageProgram4:
        case kSectorErase:
        case kSectorErase4:
        case kBlockErase32:
        case kBlockErase64:
        case kBlockErase64_4:
        case kChipErase:
        case kChipEraseAlt:
            return true;
        default:
            return false;
    }
}

// Whether the part answers the command at all.
bool Answers(const FlashPart& part, uint8_t command) {
    if (StatusReadIndex(part, command) >= 0 || StatusWriteIndex(part, command) >= 0) return true;
    if (Is4ByteOpcode(command)) return part.has4ByteOpcodes;
    switch (command) {
        case kVolatileStatusWriteEnable:
            return part.volatileStatusWrite;
        case kReadUniqueId:
            return part.uniqueIdBytes > 0;
        case kEnter4ByteMode:
        case kExit4ByteMode:
            return part.has4ByteMode;
        case kWriteEnable:
        case kWriteDisable:
        case kReadJedecId:
        case kReadSfdp:
        case kRead:
        case kFastRead:
        case kReadManufacturerDeviceId:
        case kReleasePowerDown:
        case kPowerDown:
        case kResetEnable:
        case kReset:
            return true;
        default:
            return IsProgramOrErase(command);
    }
}

// Commands that serial NOR parts of this class answer but the model does not act out: dual and
// quad reads and programs, suspend and resume, security registers, individual block locks, burst
// wrap. A host that sends one expects a reply the model cannot give, so it is a model error. Any
// other command is one the part does not have: a real part ignores it and leaves DI alone.
constexpr uint8_t kNotModelled[] = {0x3B, 0x6B, 0xBB, 0xEB, 0xE7, 0xE3, 0x92, 0x94,
                                    0x32, 0x38, 0x75, 0x7A, 0xB0, 0x30, 0x44, 0x42,
                                    0x48, 0x36, 0x39, 0x3D, 0x7E, 0x98, 0x77};

bool NotModelled(uint8_t command) {
    return std::find(std::begin(kNotModelled), std::end(kNotModelled), command) !=
           std::end(kNotModelled);
}

}  // namespace

// The full-speed model clock with the TCK periods of the write under way: a wait clocked inside
// one write (a long RUNTEST before a status poll) counts towards the part's busy time. Within a
// transaction the part keeps the moment chip select fell, so that clocking its bytes edge by edge
// or as one run gives the same answers.
uint64_t SpiFlash::FullSpeedNowPs() const {
    if (selected_) return selectedAtPs_;
    return std::max(NowPs(kFullSpeed), events_.NowNs() * 1000);
}

// A model clock set back (a clock reset) ends the operation: it started in a past the clock no
// longer has.
bool SpiFlash::Busy() const {
    const uint64_t now = FullSpeedNowPs();
    return now >= busyFromPs_ && now < busyUntilPs_[kFullSpeed];
}

uint8_t SpiFlash::StatusRegister(int index) const {
    if (index < 0 || index >= part_.registers) return 0xFF;
    uint8_t value = status_[index];
    if (index == 0) {
        value = static_cast<uint8_t>(value & ~(kBusyBit | kWriteEnableBit));
        // Write enable stays up until the operation it enabled has ended.
        if (Busy()) value |= kBusyBit | kWriteEnableBit;
        if (writeEnabled_) value |= kWriteEnableBit;
    }
    if (part_.ads.Present() && part_.ads.reg == index) {
        value = static_cast<uint8_t>(value & ~(1u << part_.ads.bit));
        if (fourByteMode_) value |= static_cast<uint8_t>(1u << part_.ads.bit);
    }
    return value;
}

void SpiFlash::StartBusy(uint64_t us) {
    writeEnabled_ = false;
    busyFromPs_ = FullSpeedNowPs();
    for (int s = 0; s < kWireSpeeds; ++s) {
        const uint64_t now = s == kFullSpeed ? busyFromPs_ : NowPs(s);
        busyUntilPs_[s] = setup_.stuckBusy ? kNever : now + us * kPsPerUs;
    }
}

uint32_t SpiFlash::AddressLength(uint8_t command) const {
    if (Is4ByteOpcode(command)) return 4;
    switch (command) {
        case kRead:
        case kFastRead:
        case kPageProgram:
        case kSectorErase:
        case kBlockErase32:
        case kBlockErase64:
            return fourByteMode_ ? 4 : 3;
        case kReadSfdp:
        case kReadManufacturerDeviceId:
            return 3;
        default:
            return 0;
    }
}

uint32_t SpiFlash::DummyLength(uint8_t command) const {
    return command == kFastRead || command == kFastRead4 || command == kReadSfdp ? 1 : 0;
}

void SpiFlash::OnByte(uint8_t byte) {
    ++bytesIn_;
    if (bytesIn_ == 1) {
        firstByte_ = byte;
        command_ = byte;
        StartCommand();
        return;
    }
    const uint32_t index = bytesIn_ - 2;  // position after the command byte
    if (index < recordAddressLength_) recordAddress_ = (recordAddress_ << 8) | byte;
    DataByte(index, byte);
}

void SpiFlash::StartCommand() {
    recordAddressLength_ = AddressLength(command_);
    const int statusIndex = StatusReadIndex(part_, command_);
    if (poweredDown_ && command_ != kReleasePowerDown) {
        events_.Note("flash: command " + Hex(command_) + " ignored in power-down");
        command_ = 0;
        return;
    }
    if (Busy() && statusIndex < 0) {
        events_.Note("flash: command " + Hex(command_) + " ignored while busy");
        command_ = 0;
        return;
    }
    if (!Answers(part_, command_)) {
        if (NotModelled(command_)) {
            events_.Error("flash: command " + Hex(command_) + " of " + std::string(part_.name) +
                          " is not modelled");
        } else {
            events_.Note("flash: command " + Hex(command_) +
                         " ignored: " + std::string(part_.name) + " has no such command");
        }
        command_ = 0;
        return;
    }
    addressLength_ = recordAddressLength_;
    dummyLength_ = DummyLength(command_);
    if (statusIndex >= 0) {
        // A poll that finds the part ready: the high-speed clock cannot be earlier than the end
        // of the operation either.
        if (!Busy()) {
            for (int s = 1; s < kWireSpeeds; ++s) {
                if (busyUntilPs_[s] != kNever) WaitUntil(s, busyUntilPs_[s]);
            }
        }
        out_ = StatusRegister(statusIndex);
        driving_ = true;
    } else if (command_ == kReadJedecId) {
        out_ = setup_.jedecId[0];
        driving_ = true;
    } else if (command_ == kReadSfdp && sfdp_.empty()) {
        // A flash without discoverable parameters leaves the line alone, as real ones do.
        events_.Note("flash: command 0x5A ignored (this flash has no SFDP)");
        command_ = 0;
    }
}

uint8_t SpiFlash::ProbeByte(uint32_t n) const {
    switch (command_) {
        case kReadManufacturerDeviceId:
            return ((address_ & 1) + n) % 2 == 0 ? setup_.jedecId[0] : part_.deviceId;
        case kReadUniqueId: {
            if (n >= part_.uniqueIdBytes) return 0xFF;
            const auto byte = static_cast<uint8_t>(part_.uniqueId >> (8 * (7 - n % 8)));
            return n < 8 ? byte : static_cast<uint8_t>(~byte);
        }
        default:
            return part_.deviceId;
    }
}

void SpiFlash::DataByte(uint32_t index, uint8_t byte) {
    const int statusIndex = StatusReadIndex(part_, command_);
    if (statusIndex >= 0) {
        out_ = StatusRegister(statusIndex);  // the register is sent again for as long as asked
        return;
    }
    if (StatusWriteIndex(part_, command_) >= 0) {
        if (page_.size() < 3) page_.push_back(byte);
        return;
    }
    // Commands whose reply follows a fixed number of address or dummy bytes.
    uint32_t skip = 0;
    switch (command_) {
        case kReadJedecId:
            out_ = index + 1 < 3 ? setup_.jedecId[index + 1] : 0xFF;
            return;
        case kReadManufacturerDeviceId:
        case kReleasePowerDown:
            skip = 3;
            break;
        case kReadUniqueId:
            skip = 4;
            break;
        default:
            break;
    }
    if (skip) {
        if (index < skip) address_ = (address_ << 8) | byte;
        if (index + 1 < skip) return;
        out_ = ProbeByte(index + 1 - skip);
        driving_ = true;
        return;
    }
    if (IsDataRead(command_) || command_ == kReadSfdp) {
        if (index < addressLength_) address_ = (address_ << 8) | byte;
        if (index + 1 < addressLength_ + dummyLength_) return;
        if (command_ == kReadSfdp) {
            out_ = SfdpByte(address_++);
        } else {
            out_ = memory_[Wrap(address_)];
            address_ = Wrap(address_ + 1);
        }
        driving_ = true;
    } else if (IsProgramOrErase(command_)) {
        if (index < addressLength_) {
            address_ = (address_ << 8) | byte;
        } else if (command_ == kPageProgram || command_ == kPageProgram4) {
            page_.push_back(byte);
        }
    }
}

void SpiFlash::SoftwareReset() {
    writeEnabled_ = false;
    volatileWrite_ = false;
    fourByteMode_ = false;
    events_.Note("flash: software reset");
}

void SpiFlash::Finish() {
    const bool resetArmed = resetEnabled_;
    resetEnabled_ = command_ == kResetEnable;
    switch (command_) {
        case kWriteEnable:
            writeEnabled_ = true;
            volatileWrite_ = false;
            return;
        case kWriteDisable:
            writeEnabled_ = false;
            volatileWrite_ = false;
            return;
        case kVolatileStatusWriteEnable:
            volatileWrite_ = true;
            return;
        case kPowerDown:
            poweredDown_ = true;
            return;
        case kReleasePowerDown:
            poweredDown_ = false;
            return;
        case kReset:
            if (resetArmed) SoftwareReset();
            return;
        case kEnter4ByteMode:
        case kExit4ByteMode:
            fourByteMode_ = command_ == kEnter4ByteMode;
            return;
        default:
            break;
    }
    if (StatusWriteIndex(part_, command_) >= 0) {
        FinishStatusWrite();
    } else if (IsProgramOrErase(command_)) {
        FinishWrite();
    }
}

void SpiFlash::FinishStatusWrite() {
    const bool isVolatile = volatileWrite_;
    volatileWrite_ = false;
    if (!writeEnabled_ && !isVolatile) {
        events_.Note("flash: command " + Hex(command_) + " ignored without write enable");
        return;
    }
    if (page_.empty()) {
        events_.Note("flash: command " + Hex(command_) + " ended before its data");
        return;
    }
    if (BitSet(status_, part_.srp) || BitSet(status_, part_.srl)) {
        events_.Note("flash: command " + Hex(command_) +
                     " ignored: the status registers are protected (SRP)");
        writeEnabled_ = false;
        return;
    }
    int reg = StatusWriteIndex(part_, command_);
    for (size_t i = 0; i < page_.size() && reg < part_.registers; ++i) {
        const uint8_t mask = part_.access[reg].writableMask;
        status_[reg] = static_cast<uint8_t>((status_[reg] & ~mask) | (page_[i] & mask));
        // Further bytes of 0x01 go to the registers that follow it there.
        if (command_ != kWriteStatus || ++reg >= part_.registers || !part_.access[reg].afterFirst) {
            break;
        }
    }
    if (isVolatile) return;
    StartBusy(part_.times.statusWrite.typicalUs);
}

// Refuses the program or erase in progress; always false.
bool SpiFlash::Refuse(const char* why) {
    events_.Note("flash: command " + Hex(command_) + " " + why);
    return false;
}

void SpiFlash::FinishWrite() {
    if (!writeEnabled_) {
        Refuse("ignored without write enable");
        return;
    }
    if (bytesIn_ < 1 + addressLength_) {
        Refuse("ended before its address");
        return;
    }
    const auto size = static_cast<uint32_t>(memory_.size());
    const uint32_t page = part_.pageSize;
    uint32_t bytes = size;
    uint64_t us = part_.times.chipEraseTypicalUs;
    switch (command_) {
        case kPageProgram:
        case kPageProgram4:
            bytes = page;
            us = part_.times.pageProgram.typicalUs;
            break;
        case kSectorErase:
        case kSectorErase4:
            bytes = 4096;
            us = part_.times.sectorErase.typicalUs;
            break;
        case kBlockErase32:
            bytes = 32 * 1024;
            us = part_.times.blockErase32.typicalUs;
            break;
        case kBlockErase64:
        case kBlockErase64_4:
            bytes = 64 * 1024;
            us = part_.times.blockErase64.typicalUs;
            break;
        default:
            break;
    }
    const uint32_t base = bytes == size ? 0 : Wrap(address_) & ~(bytes - 1);
    const uint32_t end = static_cast<uint32_t>(std::min<uint64_t>(uint64_t{base} + bytes, size));
    const ProtectedRange locked = ProtectedRangeOf(part_, size, status_);
    if (locked.Touches(base, end)) {
        // Nothing changes and the part does not go busy; some parts drop write enable too.
        Refuse(("at " + Hex(base, 6) + " refused: " + Hex(locked.first, 6) + " to " +
                Hex(locked.end - 1, 6) + " is protected")
                   .c_str());
        if (part_.rejectClearsWel) writeEnabled_ = false;
        return;
    }
    if (command_ == kPageProgram || command_ == kPageProgram4) {
        // Data past the end of the page wraps to its start; programming only clears bits.
        // Of more than a page of data only the last page's worth counts.
        const size_t skipped = page_.size() > page ? page_.size() - page : 0;
        uint32_t offset = static_cast<uint32_t>((address_ + skipped) & (page - 1));
        for (size_t i = skipped; i < page_.size(); ++i) {
            memory_[Wrap(base + offset)] &= page_[i];
            offset = (offset + 1) & (page - 1);
        }
    } else {
        std::fill(memory_.begin() + base, memory_.begin() + end, 0xFF);
    }
    StartBusy(us);
}

}  // namespace vcable
