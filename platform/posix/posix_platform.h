// The platform on Linux and other POSIX systems.
#pragma once

#include <memory>

#include "platform/platform.h"
#include "ui/window.h"

std::unique_ptr<Platform> MakePosixPlatform(int argc, char** argv);

// The help window, shown on the terminal.
std::unique_ptr<WindowDisplay> MakeTerminalWindow();
