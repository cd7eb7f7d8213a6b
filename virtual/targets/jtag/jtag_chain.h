// A JTAG chain on the cable's TCK, TDI, TMS and TDO lines. Device 0 is nearest TDI: TDI feeds
// device 0, each device's TDO feeds the next one's TDI, and the last device drives TDO. A low level
// on the reset line (GPIOL1 by default) resets every device's data registers.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "targets/jtag/jtag_setup.h"
#include "targets/jtag/tap_controller.h"
#include "targets/pin_target.h"

namespace vcable {

class JtagChain : public PinTarget {
  public:
    // Notes of the devices (a memory operation lost, say) go to `events` when given.
    explicit JtagChain(const JtagSetup& setup, TargetEvents* events = nullptr);

    void OnPins(uint16_t levels) override;
    uint16_t DriveMask() const override;
    uint16_t DriveLevels() const override;
    bool CanRunFast(const ClockRun& run) const override;
    void RunFast(const ClockRun& run, uint8_t* tdo) override;
    // Bridge instructions reach the flash found here.
    void SeeNeighbours(const std::vector<PinTarget*>& all) override;

    int DeviceCount() const { return static_cast<int>(taps_.size()); }
    TapController& Device(int index) { return taps_[index]; }
    const TapController& Device(int index) const { return taps_[index]; }
    int ResetLine() const { return resetLine_; }

  private:
    std::vector<TapController> taps_;
    int resetLine_;
    uint16_t levels_ = 0xFFFF;
    std::vector<uint8_t> between_[2];  // fast path: the stream from one device to the next
};

// A chain for every setup, an empty one included.
std::unique_ptr<PinTarget> BuildTarget(const JtagSetup& setup, TargetEvents& events);

}  // namespace vcable
