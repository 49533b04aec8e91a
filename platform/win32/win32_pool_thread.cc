// The read-ahead pool's threads on Windows. A thread of a window program
// gets no console signals, so there is none to block.
#include <windows.h>

#include <new>

#include "platform/read_ahead.h"

namespace {

struct Body {
  void (*run)(void*);
  void* arg;
};

DWORD WINAPI Trampoline(void* start) {
  const Body body = *static_cast<Body*>(start);
  delete static_cast<Body*>(start);
  body.run(body.arg);
  return 0;
}

}  // namespace

// Small stacks, reserved rather than committed: a thread holds little on
// its own.
const size_t PoolThread::kStackBytes = 128 << 10;

bool PoolThread::Start(void (*body)(void*), void* arg) {
  Body* start = new (std::nothrow) Body{body, arg};
  if (!start) return false;
  const HANDLE thread =
      CreateThread(nullptr, kStackBytes, &Trampoline, start,
                   STACK_SIZE_PARAM_IS_A_RESERVATION | CREATE_SUSPENDED, nullptr);
  if (!thread) {
    delete start;
    return false;
  }
  // The walk's thread decides, deletes and logs: it goes first.
  SetThreadPriority(thread, THREAD_PRIORITY_BELOW_NORMAL);
  ResumeThread(thread);
  handle_ = reinterpret_cast<uintptr_t>(thread);
  return true;
}

void PoolThread::Join() {
  const HANDLE thread = reinterpret_cast<HANDLE>(handle_);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
}
