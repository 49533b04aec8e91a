#include "platform/posix/posix_platform.h"
#include "run/run.h"

int main(int argc, char** argv) {
  std::unique_ptr<Platform> platform = MakePosixPlatform(argc, argv);
  return RunProgram(*platform);
}
