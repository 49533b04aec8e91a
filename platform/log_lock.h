// The one policy for the log file's lock, on every platform.
#pragma once

#include <functional>

// What one try for the lock gave.
enum class LockTry { kTaken, kBusy, kFailed };

// Tries `try_lock` until it takes the lock, waiting 10 ms between tries for
// up to 30 s: runs logging at the same time keep their blocks apart, but a
// run that holds the lock for ever (stopped in a debugger, say) must not
// make this one hang. True when the lock was taken.
bool WaitForLogLock(const std::function<LockTry()>& try_lock);
