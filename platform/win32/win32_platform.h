// The platform on Windows: the wide-character API throughout, text converted
// to and from UTF-8 at this boundary.
#pragma once

#include <memory>

#include "platform/platform.h"

// `someone_can_answer` tells whether a confirmation box would be seen; when
// it says no, every confirmation is No without a box. Null: whether the
// program's window station is visible.
std::unique_ptr<Platform> MakeWin32Platform(
    bool (*someone_can_answer)() = nullptr);
