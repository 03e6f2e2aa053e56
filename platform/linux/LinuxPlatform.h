#pragma once

#include "platform/PlatformServices.h"
#include "platform/linux/LinuxEnvironment.h"

namespace velmoran {

// The Linux services on the Wine prefix chosen from the environment (chooseWorkingPrefix):
// the files and the drive list of that prefix for the whole run, its registry looked up
// afresh by every command (GamePrefixRegistry), the game started as its launcher starts it
// (WineProgramStarter).
std::unique_ptr<PlatformServices> createLinuxPlatformServices(const LinuxEnvironment& environment);

} // namespace velmoran
