#pragma once

#include "core/Drives.h"
#include "platform/linux/WinePrefix.h"

namespace velmoran {

// The Wine prefix's drive letters.
class LinuxDrives : public Drives
{
public:
    explicit LinuxDrives(WinePrefix prefix);

    std::vector<std::string> driveNames() override;
    std::string currentDrive() override;
    void testReadable(const std::string& driveName) override;

private:
    WinePrefix m_prefix;
};

} // namespace velmoran
