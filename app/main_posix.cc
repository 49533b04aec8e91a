#include <errno.h>
#include <fcntl.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

#include "platform/posix/posix_platform.h"
#include "run/run.h"

namespace {

// A standard descriptor that was closed when the program started would be
// taken by the first folder or file it opens, and prompts or help would go
// to, or answers come from, the wrong place: each is opened on /dev/null.
void OpenClosedStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) {
      dup2(opened, fd);
      close(opened);
    }
  }
}

// Each level of the walk holds one open folder, so the descriptor limit is
// the depth the walk can reach: it may use all the system grants.
//
// The table of descriptors is grown now, while the process has one thread,
// to as many as a walk 8,000 folders deep holds (64 KiB of table): grown
// later, once the threads reading ahead share it, each doubling waits for
// the kernel's grace period, some 10 ms, and a deep chain grows it often.
void RaiseOpenFileLimit() {
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
  if (limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    getrlimit(RLIMIT_NOFILE, &limit);
  }
  const rlim_t grown = std::min<rlim_t>(limit.rlim_cur, 8192);
  if (grown > 64) {
    const int fd = fcntl(0, F_DUPFD_CLOEXEC, static_cast<int>(grown - 1));
    if (fd >= 0) close(fd);
  }
}

// The threads reading ahead allocate little (a chunk of names now and
// then), but each would get an arena of its own: a couple of MiB of peak
// memory for nothing. Two arenas serve them and the walk as fast.
void ShareTheAllocatorsArenas() {
#if defined(__GLIBC__) && defined(M_ARENA_MAX)
  mallopt(M_ARENA_MAX, 2);
#endif
}

}  // namespace

int main(int argc, char** argv) {
  OpenClosedStandardDescriptors();
  RaiseOpenFileLimit();
  ShareTheAllocatorsArenas();
  std::unique_ptr<Platform> platform = MakePosixPlatform(argc, argv);
  std::unique_ptr<WindowDisplay> window = MakeTerminalWindow();
  return RunProgram(*platform, *window);
}
