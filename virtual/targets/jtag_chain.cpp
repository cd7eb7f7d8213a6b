#include "jtag_chain.h"

namespace vcable {

JtagChain::JtagChain(const std::vector<JtagDeviceSetup>& devices, int resetLine)
    : resetLine_(resetLine) {
    taps_.reserve(devices.size());
    for (const JtagDeviceSetup& device : devices) taps_.emplace_back(device);
}

void JtagChain::OnPins(uint16_t levels) {
    const bool tckWas = LineHigh(levels_, pin::kTck);
    const bool tckNow = LineHigh(levels, pin::kTck);
    levels_ = levels;
    if (!LineHigh(levels, resetLine_)) {
        for (TapController& tap : taps_) tap.ResetUserRegister();
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

}  // namespace vcable
