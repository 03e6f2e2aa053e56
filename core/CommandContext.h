#pragma once

#include "core/MainWindowControls.h"
#include "core/Platform.h"
#include "core/UserMessages.h"

namespace velmoran {

// Everything a command handler reaches: the platform, the main window and the
// message box. Handlers take it by reference and keep nothing of it.
struct CommandContext
{
    Platform& platform;
    MainWindowControls& form;
    UserMessages& messages;
};

} // namespace velmoran
