#include "targets/jtag/spi_bridge.h"

namespace vcable {

void SpiBridge::Connect(SpiFlash* flash) {
    flash_ = flash;
    chipSelect_ = false;
    started_ = false;
    if (flash_ && selected_) flash_->Hold(true);
}

void SpiBridge::Select(const JtagInstruction* row) {
    const bool selected = row != nullptr;
    if (Active() && chipSelect_) {
        chipSelect_ = false;
        Drive(false);
    }
    // Only a change: the flash is left alone by devices that never bridge to it.
    if (flash_ && selected != selected_) flash_->Hold(selected);
    selected_ = selected;
    startBit_ = row && row->startBit;
    until_ = row ? row->bridgeSelect : BridgeSelect::kDrScan;
    started_ = false;
}

void SpiBridge::Drive(bool clock) { flash_->BridgeLines(chipSelect_, clock, data_); }

void SpiBridge::Rising(TapState state, bool tdi, TapState next) {
    if (!Active()) return;
    if (state == TapState::kShiftDr) {
        if (chipSelect_) {
            data_ = tdi;
            Drive(true);
        } else if (startBit_ && tdi) {
            started_ = true;  // the start bit itself is not passed on
        }
    }
    // Chip select follows the DR scan: low from Shift-DR (or the bit after the start bit) until
    // the scan ends, through Pause-DR and back; or until the TAP leaves Shift-DR.
    const bool framed =
        until_ == BridgeSelect::kShiftDr ? next == TapState::kShiftDr : InDrScan(next);
    const bool select = framed && (!startBit_ || started_);
    if (select != chipSelect_) {
        chipSelect_ = select;
        if (!select) started_ = false;
        Drive(false);
    }
}

void SpiBridge::Falling() {
    if (Active() && chipSelect_) Drive(false);
}

}  // namespace vcable
