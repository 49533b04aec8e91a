// The read-ahead pool's threads on POSIX.
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/syscall.h>
#endif

#include <new>

#include "platform/read_ahead.h"

namespace {

struct Body {
  void (*run)(void*);
  void* arg;
};

void* Trampoline(void* start) {
  const Body body = *static_cast<Body*>(start);
  delete static_cast<Body*>(start);
#ifdef __linux__
  // The walk's thread decides, deletes and logs: where the cores are all
  // busy it goes first, and the threads reading ahead take what is left.
  // On a share they wait for answers and this changes nothing.
  setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 10);
#endif
  body.run(body.arg);
  return nullptr;
}

}  // namespace

// Small stacks: a thread holds little on its own, and the default, the
// stack limit (often 8 MiB), would take the threads past an address-space
// limit that the walk alone fits in many times over.
const size_t PoolThread::kStackBytes = 128 << 10;

bool PoolThread::Start(void (*body)(void*), void* arg) {
  Body* start = new (std::nothrow) Body{body, arg};
  if (!start) return false;
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) {
    delete start;
    return false;
  }
  // The threads take no signal: a stop signal is the walk's thread's, which
  // lets it in only where it waits for an answer.
  sigset_t all, saved;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &saved);
  pthread_t thread;
  const bool started = pthread_attr_setstacksize(&attr, kStackBytes) == 0 &&
                       pthread_create(&thread, &attr, &Trampoline, start) == 0;
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
  pthread_attr_destroy(&attr);
  if (!started) {
    delete start;
    return false;
  }
  handle_ = static_cast<uintptr_t>(thread);
  return true;
}

void PoolThread::Join() { pthread_join(static_cast<pthread_t>(handle_), nullptr); }
