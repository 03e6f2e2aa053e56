#pragma once

#include <string>
#include <vector>

namespace velmoran {

// The drives that Drive1 offers.
class Drives
{
public:
    virtual ~Drives() = default;
    // Drive names as the drive list shows them, in letter order: "c:", "d: [label]", ...
    // Each begins with its lower-case letter and a colon.
    virtual std::vector<std::string> driveNames() = 0;
    // The name (from driveNames) of the drive that holds the process's current folder.
    virtual std::string currentDrive() = 0;
    // Reads the drive's root folder; raises an OperationError when it cannot be read
    // (no disk, not ready, no such drive, no permission).
    virtual void testReadable(const std::string& driveName) = 0;
};

} // namespace velmoran
