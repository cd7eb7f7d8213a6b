// The registry of target kinds: one BuildTarget per kind's setup, called in the order of the list.
#include "targets/flash/spi_flash.h"
#include "targets/gpio/gpio_inputs.h"
#include "targets/jtag/jtag_chain.h"
#include "targets/target_setup.h"

namespace vcable {

std::vector<std::unique_ptr<PinTarget>> BuildTargets(const TargetSetup& setup,
                                                     TargetEvents& events) {
    std::vector<std::unique_ptr<PinTarget>> targets;
#define VC_BUILD_KIND(field) \
    if (auto target = BuildTarget(setup.field, events)) targets.push_back(std::move(target));
    VC_TARGET_KINDS(VC_BUILD_KIND)
#undef VC_BUILD_KIND
    return targets;
}

}  // namespace vcable
