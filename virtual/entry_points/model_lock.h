// The one lock of the whole model. Every entry point holds it for its whole call (the Call frame
// takes it first) and so does every control function, so the virtual cable can be called from
// several threads at once: each call sees the model as the previous one left it. Recursive,
// because the trace and pin hooks run with it held, on the caller's thread, and may call the
// control API.
#pragma once

#include <mutex>

namespace vcable {

std::recursive_mutex& ModelMutex();

class ModelLock {
  public:
    ModelLock() { ModelMutex().lock(); }
    ~ModelLock() { ModelMutex().unlock(); }
    ModelLock(const ModelLock&) = delete;
    ModelLock& operator=(const ModelLock&) = delete;
};

}  // namespace vcable
