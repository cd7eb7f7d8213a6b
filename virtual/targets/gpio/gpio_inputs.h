// Outside circuits on the GPIO lines: each line is either released or driven to a level, set at
// once through the control API or on a schedule counted in receive-queue polls ("GPIOH1 goes low
// after 3 polls").
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "targets/gpio/gpio_setup.h"
#include "targets/pin_target.h"

namespace vcable {

class GpioInputs : public PinTarget {
  public:
    explicit GpioInputs(const GpioSetup& setup)
        : mask_(setup.driveMask),
          levels_(setup.driveLevels & setup.driveMask),
          pending_(setup.schedule) {}

    void OnPins(uint16_t) override {}
    uint16_t DriveMask() const override { return mask_; }
    uint16_t DriveLevels() const override { return levels_; }
    void OnPoll() override;
    // Outside drive does not move during a run: TDO is pulled where it is driven low.
    bool CanRunFast(const ClockRun&) const override { return true; }
    void RunFast(const ClockRun& run, uint8_t* tdo) override;

    // level 0 or 1 drives the line; any other value releases it.
    void Set(int line, int level);
    // Applies Set(line, level) at the afterPolls-th poll from now (0 and 1: at the next poll).
    void Schedule(int line, int level, uint32_t afterPolls);

  private:
    uint16_t mask_;
    uint16_t levels_;
    std::vector<ScheduledDrive> pending_;  // afterPolls counts down to the change
};

std::unique_ptr<PinTarget> BuildTarget(const GpioSetup& setup, TargetEvents& events);

}  // namespace vcable
