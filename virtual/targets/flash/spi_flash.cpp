#include "targets/flash/spi_flash.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "targets/bit_stream.h"
#include "targets/flash/sfdp.h"

namespace vcable {
namespace {

// Command bytes of the flash.
constexpr uint8_t kCmdWriteEnable = 0x06;
constexpr uint8_t kCmdWriteDisable = 0x04;
constexpr uint8_t kCmdReadStatus = 0x05;
constexpr uint8_t kCmdReadJedecId = 0x9F;
constexpr uint8_t kCmdReadSfdp = 0x5A;
constexpr uint8_t kCmdRead = 0x03;
constexpr uint8_t kCmdFastRead = 0x0B;
constexpr uint8_t kCmdPageProgram = 0x02;
constexpr uint8_t kCmdSectorErase = 0x20;
constexpr uint8_t kCmdBlockErase32 = 0x52;
constexpr uint8_t kCmdBlockErase64 = 0xD8;
constexpr uint8_t kCmdChipErase = 0xC7;
constexpr uint8_t kCmdChipEraseAlt = 0x60;

constexpr uint32_t kPageSize = 256;
constexpr uint32_t kSectorSize = 4096;
constexpr uint32_t kAddressBytes = 3;

std::string Hex(uint32_t value, int digits = 2) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

bool TakesAddress(uint8_t command) {
    switch (command) {
        case kCmdRead:
        case kCmdFastRead:
        case kCmdReadSfdp:
        case kCmdPageProgram:
        case kCmdSectorErase:
        case kCmdBlockErase32:
        case kCmdBlockErase64:
            return true;
        default:
            return false;
    }
}

bool IsRead(uint8_t command) {
    return command == kCmdRead || command == kCmdFastRead || command == kCmdReadSfdp ||
           command == kCmdReadStatus || command == kCmdReadJedecId;
}

// Bytes an erase command clears, from its aligned base; 0 for other commands.
uint32_t EraseBytes(uint8_t command) {
    switch (command) {
        case kCmdSectorErase:
            return kSectorSize;
        case kCmdBlockErase32:
            return 32 * 1024;
        case kCmdBlockErase64:
            return 64 * 1024;
        default:
            return 0;
    }
}

}  // namespace

std::unique_ptr<PinTarget> BuildTarget(const FlashSetup& setup, TargetEvents& events) {
    if (!setup.present) return nullptr;
    return std::make_unique<SpiFlash>(setup, events);
}

SpiFlash::SpiFlash(const FlashSetup& setup, TargetEvents& events)
    : setup_(setup), events_(events), memory_(setup.size ? setup.size : kSectorSize) {
    if (setup_.contents.empty()) {
        for (uint32_t a = 0; a < memory_.size(); ++a) memory_[a] = FlashPatternByte(a);
    } else {
        std::fill(memory_.begin(), memory_.end(), 0xFF);
        std::copy_n(setup_.contents.begin(), std::min(setup_.contents.size(), memory_.size()),
                    memory_.begin());
    }
    setup_.contents.clear();
    if (setup_.sfdp) {
        sfdp_ = setup_.sfdpSpace.empty() ? BuildSfdp(static_cast<uint32_t>(memory_.size()))
                                         : setup_.sfdpSpace;
    }
    setup_.sfdpSpace.clear();
    page_.reserve(kPageSize);
}

void SpiFlash::ClearTransactions() {
    transactionCount_ = 0;
    transactions_.clear();
}

uint8_t SpiFlash::SfdpByte(uint32_t address) const {
    return address < sfdp_.size() ? sfdp_[address] : 0xFF;
}

uint8_t SpiFlash::Status() const {
    uint8_t value = 0;
    if (busyPolls_ > 0) value |= flash_status::kWriteInProgress;
    if (writeEnabled_) value |= flash_status::kWriteEnableLatch;
    return value;
}

uint16_t SpiFlash::DriveMask() const { return driving_ && !held_ ? 1u << pin::kTdo : 0; }
uint16_t SpiFlash::DriveLevels() const { return driving_ && outBit_ ? 1u << pin::kTdo : 0; }

void SpiFlash::OnPins(uint16_t levels) {
    if (!held_) TakeLevels(levels);
}

void SpiFlash::BridgeLines(bool selected, bool clock, bool data) {
    uint16_t levels =
        static_cast<uint16_t>(~((1u << setup_.csLine) | (1u << pin::kTck) | (1u << pin::kTdi)));
    if (!selected) levels |= static_cast<uint16_t>(1u << setup_.csLine);
    if (clock) levels |= 1u << pin::kTck;
    if (data) levels |= 1u << pin::kTdi;
    TakeLevels(levels);
}

void SpiFlash::TakeLevels(uint16_t levels) {
    const uint16_t before = levels_;
    levels_ = levels;
    const bool selectedNow = !LineHigh(levels, setup_.csLine);
    if (selectedNow && !selected_) Select();
    if (!selectedNow && selected_) Deselect();
    if (!selected_) return;
    const bool skWas = LineHigh(before, pin::kTck);
    const bool skNow = LineHigh(levels, pin::kTck);
    if (!skWas && skNow) {
        RisingEdge(LineHigh(levels, pin::kTdi));
    } else if (skWas && !skNow) {
        FallingEdge();
    }
}

void SpiFlash::RisingEdge(bool tdi) {
    shiftIn_ = static_cast<uint8_t>((shiftIn_ << 1) | (tdi ? 1 : 0));
    if (++bitsIn_ == 8) {
        bitsIn_ = 0;
        OnByte(shiftIn_);
    }
}

void SpiFlash::FallingEdge() {
    // Mode 0: the flash changes its output on the falling edge, most significant bit first.
    if (driving_) outBit_ = ((out_ >> (7 - bitsIn_)) & 1) != 0;
}

// The chip select line must not be one that moves during the run.
bool SpiFlash::CanRunFast(const ClockRun&) const {
    return setup_.csLine != pin::kTck && setup_.csLine != pin::kTdi;
}

bool SpiFlash::InReadData() const {
    const uint32_t dummy = command_ == kCmdFastRead ? 1 : 0;
    return (command_ == kCmdRead || command_ == kCmdFastRead) && driving_ && bitsIn_ == 0 &&
           bytesIn_ >= 1 + kAddressBytes + dummy;
}

// The data phase of a read, a byte per eight periods: the byte goes out most significant bit
// first at either sampling point, and the next one is fetched as the last bit comes in.
uint32_t SpiFlash::ReadDataBytes(const ClockRun& run, uint32_t from, uint8_t* tdo) {
    const auto size = static_cast<uint32_t>(memory_.size());
    uint32_t i = from;
    uint8_t lastIn = 0;
    for (; run.periods - i >= 8; i += 8) {
        bits::Put8(tdo, i, bits::Reverse(out_));
        lastIn = bits::Get8(run.tdi, i);
        ++bytesIn_;
        out_ = memory_[address_];
        if (++address_ == size) address_ = 0;
    }
    if (i != from) {
        shiftIn_ = bits::Reverse(lastIn);
        outBit_ = (out_ >> 7) != 0;
    }
    return i;
}

void SpiFlash::RunFast(const ClockRun& run, uint8_t* tdo) {
    const bool selectedNow = !LineHigh(run.levels, setup_.csLine);
    if (selectedNow != selected_) OnPins(run.levels);  // cannot happen after a settled bus
    if (!selected_) {
        bits::Fill(tdo, 0, run.periods, PullsTdo());
    } else {
        for (uint32_t i = 0; i < run.periods;) {
            if (InReadData() && run.periods - i >= 8) {
                i = ReadDataBytes(run, i, tdo);
                continue;
            }
            if (!run.sampleAfterRising) bits::Put(tdo, i, PullsTdo());
            RisingEdge(bits::Get(run.tdi, i));
            if (run.sampleAfterRising) bits::Put(tdo, i, PullsTdo());
            FallingEdge();
            ++i;
        }
    }
    levels_ = run.FinalLevels();
}

void SpiFlash::Select() {
    selected_ = true;
    command_ = 0;
    bytesIn_ = 0;
    bitsIn_ = 0;
    address_ = 0;
    driving_ = false;
    page_.clear();
    firstByte_ = 0;
    addressBytes_ = 0;
}

void SpiFlash::Record() {
    FlashTransaction t;
    t.command = firstByte_;
    t.address = TakesAddress(firstByte_) ? addressBytes_ : 0;
    t.bytes = bytesIn_;
    t.extraBits = static_cast<uint32_t>(bitsIn_);
    ++transactionCount_;
    if (transactions_.size() < kRecordedTransactions) transactions_.push_back(t);
    std::string line = "flash: command " + Hex(t.command);
    if (TakesAddress(t.command)) line += " at " + Hex(t.address, 6);
    line += ", " + std::to_string(t.bytes) + " bytes";
    if (t.extraBits) line += " and " + std::to_string(t.extraBits) + " bits";
    events_.Note(line);
}

void SpiFlash::Deselect() {
    selected_ = false;
    driving_ = false;
    if (bytesIn_ > 0 || bitsIn_ > 0) Record();
    if (bitsIn_ != 0 && bytesIn_ > 0 && !IsRead(command_)) {
        events_.Note("flash: chip select rose after a partial byte; command " + Hex(command_) +
                     " ignored");
        return;
    }
    if (bytesIn_ > 0) Finish();
}

// A status byte has been clocked out completely: that counts as one poll of a busy operation.
void SpiFlash::StatusByteSent() {
    if (busyPolls_ > 0 && --busyPolls_ == 0) writeEnabled_ = false;
}

void SpiFlash::OnByte(uint8_t byte) {
    ++bytesIn_;
    if (bytesIn_ >= 2 && bytesIn_ <= 1 + kAddressBytes) addressBytes_ = (addressBytes_ << 8) | byte;
    if (bytesIn_ == 1) {
        firstByte_ = byte;
        command_ = byte;
        if (busyPolls_ > 0 && command_ != kCmdReadStatus) {
            events_.Note("flash: command " + Hex(command_) + " ignored while busy");
            command_ = 0;
        }
        switch (command_) {
            case 0:
                return;
            case kCmdReadStatus:
                out_ = Status();
                driving_ = true;
                return;
            case kCmdReadJedecId:
                out_ = setup_.jedecId[0];
                driving_ = true;
                return;
            case kCmdReadSfdp:
                // A flash without discoverable parameters leaves the line alone, as real ones do.
                if (sfdp_.empty()) {
                    events_.Note("flash: command 0x5A ignored (this flash has no SFDP)");
                    command_ = 0;
                }
                return;
            case kCmdWriteEnable:
            case kCmdWriteDisable:
            case kCmdRead:
            case kCmdFastRead:
            case kCmdPageProgram:
            case kCmdSectorErase:
            case kCmdBlockErase32:
            case kCmdBlockErase64:
            case kCmdChipErase:
            case kCmdChipEraseAlt:
                return;
            default:
                events_.Error("flash: command " + Hex(command_) + " not implemented");
                command_ = 0;
                return;
        }
    }
    const uint32_t index = bytesIn_ - 2;  // position after the command byte
    switch (command_) {
        case kCmdReadStatus:
            StatusByteSent();
            out_ = Status();
            return;
        case kCmdReadJedecId:
            out_ = index + 1 < 3 ? setup_.jedecId[index + 1] : 0xFF;
            return;
        case kCmdRead:
        case kCmdFastRead:
        case kCmdReadSfdp: {
            const uint32_t dummy = command_ == kCmdRead ? 0 : 1;
            if (index < kAddressBytes) address_ = (address_ << 8) | byte;
            if (index + 1 < kAddressBytes + dummy) return;
            if (command_ == kCmdReadSfdp) {
                out_ = SfdpByte(address_++);
            } else {
                out_ = memory_[Wrap(address_)];
                address_ = Wrap(address_ + 1);
            }
            driving_ = true;
            return;
        }
        case kCmdPageProgram:
        case kCmdSectorErase:
        case kCmdBlockErase32:
        case kCmdBlockErase64:
            if (index < kAddressBytes) {
                address_ = (address_ << 8) | byte;
            } else if (command_ == kCmdPageProgram) {
                page_.push_back(byte);
            }
            return;
        default:
            return;
    }
}

void SpiFlash::Finish() {
    switch (command_) {
        case kCmdWriteEnable:
            writeEnabled_ = true;
            return;
        case kCmdWriteDisable:
            writeEnabled_ = false;
            return;
        case kCmdPageProgram:
        case kCmdSectorErase:
        case kCmdBlockErase32:
        case kCmdBlockErase64:
        case kCmdChipErase:
        case kCmdChipEraseAlt:
            break;
        default:
            return;
    }
    if (!writeEnabled_) {
        events_.Note("flash: command " + Hex(command_) + " ignored without write enable");
        return;
    }
    if (TakesAddress(command_) && bytesIn_ < 1 + kAddressBytes) {
        events_.Note("flash: command " + Hex(command_) + " ended before its address");
        return;
    }
    if (command_ == kCmdPageProgram) {
        // Data past the end of the page wraps to its start; programming only clears bits.
        // Of more than a page of data only the last 256 bytes count.
        const uint32_t base = Wrap(address_) & ~(kPageSize - 1);
        const uint32_t skipped = page_.size() > kPageSize ? page_.size() - kPageSize : 0;
        uint32_t offset = (address_ + skipped) & (kPageSize - 1);
        for (size_t i = skipped; i < page_.size(); ++i) {
            memory_[Wrap(base + offset)] &= page_[i];
            offset = (offset + 1) & (kPageSize - 1);
        }
        busyPolls_ = setup_.programBusyPolls;
    } else if (const uint32_t bytes = EraseBytes(command_)) {
        const uint32_t base = Wrap(address_) & ~(bytes - 1);
        std::fill_n(memory_.begin() + base, std::min<size_t>(bytes, memory_.size() - base), 0xFF);
        busyPolls_ = setup_.sectorEraseBusyPolls;
    } else {
        std::fill(memory_.begin(), memory_.end(), 0xFF);
        busyPolls_ = setup_.chipEraseBusyPolls;
    }
    if (busyPolls_ <= 0) writeEnabled_ = false;
}

}  // namespace vcable
