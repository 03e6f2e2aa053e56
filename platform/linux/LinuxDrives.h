#pragma once

#include "core/Drives.h"
#include "platform/linux/WinePrefix.h"

namespace velmoran {

// The Wine prefix's drive letters, as Drive1 shows them: "c: [/home/me/.wine/drive_c]",
// "z: [/]": the lower-case letter, a colon, a blank and the Unix folder that the drive
// leads to, in square brackets.
class LinuxDrives : public Drives
{
public:
    explicit LinuxDrives(WinePrefix prefix);

    std::vector<std::string> driveNames() override;
    std::string currentDrive() override;
    void testReadable(const std::string& driveName) override;

    // The name that driveNames gives a drive.
    static std::string driveName(const WineDrive& drive);

private:
    WinePrefix m_prefix;
};

} // namespace velmoran
