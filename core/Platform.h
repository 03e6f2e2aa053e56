#pragma once

#include "core/Drives.h"
#include "core/FileSystem.h"
#include "core/ProgramStarter.h"
#include "core/Registry.h"

#include <string>

namespace velmoran {

// The platform's services, as the commands reach them.
struct Platform
{
    FileSystem& files;
    RegistryReader& registry;
    ProgramStarter& starter;
    Drives& drives;
    UrlViewer& viewer;
    // The folder that holds the program's executable, and a folder the user can always
    // write to; both Windows paths without a trailing backslash.
    std::string applicationFolder;
    std::string temporaryFolder;
};

} // namespace velmoran
