#include "targets/jtag/jtag_chain.h"

#include <algorithm>
#include <string>

#include "targets/bit_stream.h"
#include "targets/flash/spi_flash.h"

namespace vcable {

std::unique_ptr<PinTarget> BuildTarget(const JtagSetup& setup, TargetEvents& events) {
    return std::make_unique<JtagChain>(setup, &events);
}

JtagChain::JtagChain(const JtagSetup& setup, TargetEvents* events) : resetLine_(setup.resetLine) {
    taps_.reserve(setup.devices.size());
    for (const JtagDeviceSetup& device : setup.devices) {
        taps_.emplace_back(device, "jtag device " + std::to_string(taps_.size()), events);
    }
}

void JtagChain::OnPins(uint16_t levels) {
    const bool tckWas = LineHigh(levels_, pin::kTck);
    const bool tckNow = LineHigh(levels, pin::kTck);
    levels_ = levels;
    if (resetLine_ >= 0 && !LineHigh(levels, resetLine_)) {
        for (TapController& tap : taps_) tap.ResetDataRegisters();
    }
    if (!tckWas && tckNow) {
        // Every device samples its TDI at the same edge: take each upstream TDO as it was before
        // any device moves (an undriven TDO reads high).
        const bool tms = LineHigh(levels, pin::kTms);
        bool tdi = LineHigh(levels, pin::kTdi);
        for (TapController& tap : taps_) {
            const bool next = tap.TdoDriven() ? tap.Tdo() : true;
            tap.RisingEdge(tms, tdi);
            tdi = next;
        }
    } else if (tckWas && !tckNow) {
        for (TapController& tap : taps_) tap.FallingEdge();
    }
}

uint16_t JtagChain::DriveMask() const {
    if (taps_.empty() || !taps_.back().TdoDriven()) return 0;
    return 1u << pin::kTdo;
}

uint16_t JtagChain::DriveLevels() const {
    if (taps_.empty() || !taps_.back().Tdo()) return 0;
    return 1u << pin::kTdo;
}

void JtagChain::SeeNeighbours(const std::vector<PinTarget*>& all) {
    SpiFlash* flash = nullptr;
    for (PinTarget* target : all) {
        if (auto* found = dynamic_cast<SpiFlash*>(target)) flash = found;
    }
    // A chain that held the flash before may be gone: the bridges selected now hold it again.
    if (flash) flash->Hold(false);
    for (TapController& tap : taps_) tap.Registers().Bridge().Connect(flash);
}

// The reset line resets the data registers at every pin change; runs only go fast while it is high
// and not one of the lines that move. A bridge to the flash is clocked edge by edge.
bool JtagChain::CanRunFast(const ClockRun& run) const {
    for (const TapController& tap : taps_) {
        if (tap.Registers().Bridge().Active()) return false;
    }
    if (resetLine_ < 0) return true;
    return resetLine_ != pin::kTck && resetLine_ != pin::kTdi && LineHigh(run.levels, resetLine_);
}

void JtagChain::RunFast(const ClockRun& run, uint8_t* tdo) {
    const bool tms = LineHigh(run.levels, pin::kTms);
    const uint32_t bytes = bits::StreamBytes(run.periods);
    if (taps_.empty()) {
        std::fill_n(tdo, bytes, 0xFF);
    } else {
        // Each device's output stream is the next one's input; the last one's goes to TDO.
        const uint8_t* in = run.tdi;
        for (size_t k = 0; k < taps_.size(); ++k) {
            const bool last = k + 1 == taps_.size();
            std::vector<uint8_t>& buffer = between_[k & 1];
            if (!last && buffer.size() < bytes) buffer.resize(bytes);
            uint8_t* out = last ? tdo : buffer.data();
            taps_[k].RunPeriods(tms, in, run.periods, out);
            in = out;
        }
    }
    levels_ = run.FinalLevels();
}

}  // namespace vcable
