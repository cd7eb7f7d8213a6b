// The lock that makes programs on one state file take turns: an advisory lock on "<file>.lock"
// beside the file a VCABLE_STATE names (links followed), held from before the state is loaded
// until after it is saved. The kestrel tool takes the same lock for its --state file, so a host
// program and the tool never lose each other's changes either. The lock file stays: removing it
// would let a third program lock a file the second no longer sees.
#pragma once

#include <string>

namespace vcable::state_lock {

// How long a program waits for another one that holds the lock.
inline constexpr double kWaitSeconds = 60;

// Takes the lock for the located state file `target`, waiting up to `waitSeconds` and saying once
// on standard error that it waits; false with the reason when it cannot be taken.
bool Acquire(const std::string& target, double waitSeconds, std::string& why);
void Release();

}  // namespace vcable::state_lock
