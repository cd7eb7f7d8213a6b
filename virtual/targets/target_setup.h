// The wiring behind channel A of one virtual cable: a setup for each kind of target on its pins.
// A default-constructed setup is the default wiring.
#pragma once

#include <memory>
#include <vector>

#include "targets/flash/flash_setup.h"
#include "targets/gpio/gpio_setup.h"
#include "targets/jtag/jtag_setup.h"
#include "targets/pin_target.h"

namespace vcable {

struct TargetSetup {
    JtagSetup jtag;    // the JTAG chain on TCK, TDI, TMS and TDO
    FlashSetup flash;  // the SPI flash on SK, DO and DI, selected by a GPIO line
    GpioSetup gpio;    // outside circuits driving GPIO lines
};

// The kinds of target, in the order the engine attaches them to the pins. Each is named by its
// field in TargetSetup, which is also its key in a scenario file's [[device]] table. Adding a
// kind: its folder under targets/ (its setup, its PinTarget and a BuildTarget for that setup),
// its field above, its scenario keys (scenario/toml/), and its line here.
#define VC_TARGET_KINDS(KIND) \
    KIND(jtag)                \
    KIND(flash)               \
    KIND(gpio)

// The targets the setup describes, one per kind in the order above; a kind whose setup says there
// is none (a flash that is not present) is left out.
std::vector<std::unique_ptr<PinTarget>> BuildTargets(const TargetSetup& setup,
                                                     TargetEvents& events);

}  // namespace vcable
