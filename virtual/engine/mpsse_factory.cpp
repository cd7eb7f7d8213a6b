#include "engine/mpsse_engine.h"

namespace vcable {

std::unique_ptr<MpssePort> MakeMpssePort(const TargetSetup& setup) {
    return std::make_unique<MpsseEngine>(setup);
}

std::unique_ptr<MpssePort> MakeDefaultMpssePort() { return MakeMpssePort(TargetSetup{}); }

}  // namespace vcable
