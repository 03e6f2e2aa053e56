// Drive1's drives, with a readability test that gives up after a limit: the test runs on a
// thread of its own while the window's events go on, so a drive that never answers neither
// freezes the window nor is waited for beyond the limit.
#pragma once

#include "core/Drives.h"
#include "core/TimeLimitedScanner.h"

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace velmoran {

class TimedDrives : public Drives
{
public:
    // drives: must outlive every test left behind (ThreadLeftBehind counts them).
    explicit TimedDrives(Drives& drives, std::chrono::milliseconds limit = DefaultAnswerLimit)
        : m_drives(drives), m_limit(limit)
    {
    }
    void setLimit(std::chrono::milliseconds limit) { m_limit = limit; }

    std::vector<std::string> driveNames() override { return m_drives.driveNames(); }
    std::string currentDrive() override { return m_drives.currentDrive(); }
    // As the platform's, or an OperationError with the reason notAnsweredReason(limit) when
    // it has not answered within the limit, or when an earlier test of the drive still has
    // not. The window's events run meanwhile.
    void testReadable(const std::string& driveName) override;

    struct Test;

private:
    Drives& m_drives;
    std::chrono::milliseconds m_limit;
    std::map<std::string, std::shared_ptr<Test>> m_unanswered;
};

} // namespace velmoran
