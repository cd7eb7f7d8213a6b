#include "targets/flash/spi_flash.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "record/wire_clock.h"
#include "targets/bit_stream.h"
#include "targets/flash/flash_opcodes.h"
#include "targets/flash/sfdp.h"

namespace vcable {
namespace {

std::string Hex(uint32_t value, int digits = 2) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

}  // namespace

std::unique_ptr<PinTarget> BuildTarget(const FlashSetup& setup, TargetEvents& events) {
    if (!setup.present) return nullptr;
    return std::make_unique<SpiFlash>(setup, events);
}

SpiFlash::SpiFlash(const FlashSetup& setup, TargetEvents& events)
    : setup_(setup),
      part_(setup_.Part()),
      events_(events),
      memory_(setup_.Described() ? part_.size : setup_.size) {
    if (setup_.Described()) std::copy_n(part_.jedecId, 3, setup_.jedecId);
    if (setup_.contents.empty()) {
        for (uint32_t a = 0; a < memory_.size(); ++a) memory_[a] = FlashPatternByte(a);
    } else {
        std::fill(memory_.begin(), memory_.end(), 0xFF);
        std::copy_n(setup_.contents.begin(), std::min(setup_.contents.size(), memory_.size()),
                    memory_.begin());
    }
    setup_.contents.clear();
    if (setup_.sfdp) {
        sfdp_ = setup_.sfdpSpace.empty() ? BuildSfdp(part_, static_cast<uint32_t>(memory_.size()))
                                         : setup_.sfdpSpace;
    }
    setup_.sfdpSpace.clear();
    std::copy_n(setup_.hasStatus ? setup_.status : part_.factory, 3, status_);
    page_.reserve(part_.pageSize);
}

void SpiFlash::ClearTransactions() {
    transactionCount_ = 0;
    transactions_.clear();
}

uint8_t SpiFlash::SfdpByte(uint32_t address) const {
    return address < sfdp_.size() ? sfdp_[address] : 0xFF;
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
    return flash_op::IsDataRead(command_) && driving_ && bitsIn_ == 0 &&
           bytesIn_ >= 1 + addressLength_ + dummyLength_;
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
    selectedAtPs_ = FullSpeedNowPs();
    selected_ = true;
    command_ = 0;
    bytesIn_ = 0;
    bitsIn_ = 0;
    address_ = 0;
    driving_ = false;
    page_.clear();
    firstByte_ = 0;
    recordAddress_ = 0;
    recordAddressLength_ = 0;
    addressLength_ = 0;
    dummyLength_ = 0;
}

void SpiFlash::Record() {
    FlashTransaction t;
    t.command = firstByte_;
    t.address = recordAddressLength_ ? recordAddress_ : 0;
    t.bytes = bytesIn_;
    t.extraBits = static_cast<uint32_t>(bitsIn_);
    ++transactionCount_;
    if (transactions_.size() < kRecordedTransactions) transactions_.push_back(t);
    std::string line = "flash: command " + Hex(t.command);
    if (recordAddressLength_) line += " at " + Hex(t.address, 2 * recordAddressLength_);
    line += ", " + std::to_string(t.bytes) + " bytes";
    if (t.extraBits) line += " and " + std::to_string(t.extraBits) + " bits";
    events_.Note(line);
}

void SpiFlash::Deselect() {
    selected_ = false;
    driving_ = false;
    if (bytesIn_ > 0 || bitsIn_ > 0) Record();
    if (bitsIn_ != 0 && bytesIn_ > 0 && !flash_op::RepliesOnDi(command_)) {
        events_.Note("flash: chip select rose after a partial byte; command " + Hex(command_) +
                     " ignored");
        return;
    }
    if (bytesIn_ > 0) Finish();
}

}  // namespace vcable
