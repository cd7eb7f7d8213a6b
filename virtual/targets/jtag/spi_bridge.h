// A bridge instruction's path to the SPI flash: while it is selected the device holds the flash,
// and in Shift-DR each TCK period clocks the device's TDI bit into the flash (its clock follows
// TCK) while the flash's output becomes the device's TDO. Chip select is low from the entry into
// Shift-DR to Update-DR (or only while in Shift-DR, as the instruction says), or, with a start
// bit, from the bit after the first 1 that arrives.
#pragma once

#include "targets/flash/spi_flash.h"
#include "targets/jtag/jtag_setup.h"
#include "targets/jtag/tap_state.h"

namespace vcable {

class SpiBridge {
  public:
    // The flash on the same pins (null: none; the bridge then passes nothing).
    void Connect(SpiFlash* flash);
    // The bridge instruction `row` is loaded, or (null) another one is.
    void Select(const JtagInstruction* row);
    bool Active() const { return flash_ != nullptr && selected_; }

    // A rising TCK in `state` with `tdi` at the device, before the TAP moves to `next`.
    void Rising(TapState state, bool tdi, TapState next);
    void Falling();
    bool Tdo() const { return !Active() || !chipSelect_ || flash_->BridgeOut(); }

  private:
    void Drive(bool clock);

    SpiFlash* flash_ = nullptr;
    bool selected_ = false;
    bool startBit_ = false;
    BridgeSelect until_ = BridgeSelect::kDrScan;
    bool started_ = false;     // the start bit came in this scan
    bool chipSelect_ = false;  // low (selected)
    bool data_ = true;
};

}  // namespace vcable
