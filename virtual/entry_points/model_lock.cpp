// The model's lock, made on first use so that loading the library runs no code for it.
#include "entry_points/model_lock.h"

namespace vcable {

std::recursive_mutex& ModelMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

}  // namespace vcable
