#include "mpsse_engine.h"
#include "mpsse_registry.h"

namespace vcable {

std::unique_ptr<MpssePort> MakeMpssePort(const TargetSetup& setup) {
    return std::make_unique<MpsseEngine>(setup);
}

std::unique_ptr<MpssePort> MakeDefaultMpssePort() {
    return MakeMpssePort(TargetSetup{});
}

// Stand-in until the chip model provides the real registry: one default engine as cable 0.
__attribute__((weak)) MpssePort* CableMpssePort(int cable) {
    static std::unique_ptr<MpssePort> fallback = MakeDefaultMpssePort();
    return cable == 0 ? fallback.get() : nullptr;
}

}  // namespace vcable
