#pragma once

#include "core/CommandContext.h"

#include <string>
#include <vector>

namespace velmoran {

inline constexpr const char* GameExecutable = "\\Diablo II.exe";

// The switches of Check2, Check3 and Check4 that are ticked (value 1 exactly), always in
// the order -w, -txt, -direct.
std::vector<std::string> launchSwitches(int check2, int check3, int check4);

// The click of cmdLaunch: starts the game folder's "Diablo II.exe" with the ticked
// switches, each as one argument, then minimises the main window.
void launchGame(CommandContext& context);

} // namespace velmoran
