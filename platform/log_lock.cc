#include "platform/log_lock.h"

#include <chrono>
#include <thread>

bool WaitForLogLock(const std::function<LockTry()>& try_lock) {
  for (int attempt = 0; attempt < 3000; ++attempt) {
    switch (try_lock()) {
      case LockTry::kTaken:
        return true;
      case LockTry::kFailed:
        return false;
      case LockTry::kBusy:
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        break;
    }
  }
  return false;
}
