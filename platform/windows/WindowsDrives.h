#pragma once

#include "core/Drives.h"

namespace velmoran {

// The system's drive letters, as the drive list shows them.
class WindowsDrives : public Drives
{
public:
    std::vector<std::string> driveNames() override;
    std::string currentDrive() override;
    void testReadable(const std::string& driveName) override;
};

} // namespace velmoran
