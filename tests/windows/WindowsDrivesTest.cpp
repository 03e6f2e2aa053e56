#include "platform/windows/WindowsDrives.h"
#include "WindowsTestSupport.h"
#include "core/OperationError.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace velmoran;

namespace {

// The drive letters that Windows reports, lower-case, in order.
std::string systemLetters()
{
    const DWORD mask = ::GetLogicalDrives();
    std::string letters;
    for (int i = 0; i < 26; ++i)
        if (mask & (1u << i))
            letters += static_cast<char>('a' + i);
    return letters;
}

TEST(WindowsDrives, NamesEveryDriveByItsLetterInOrder)
{
    WindowsDrives drives;
    const std::vector<std::string> names = drives.driveNames();
    std::string letters;
    for (const std::string& name : names) {
        ASSERT_GE(name.size(), 2u);
        EXPECT_EQ(name[1], ':') << name;
        // "c:" alone, or "c: [label]".
        if (name.size() > 2) {
            EXPECT_TRUE(name.rfind(" [", 2) == 2 && name.back() == ']') << name;
        }
        letters += name[0];
    }
    EXPECT_EQ(letters, systemLetters());
    EXPECT_NE(std::find(names.begin(), names.end(), drives.currentDrive()), names.end())
        << drives.currentDrive();
}

TEST(WindowsDrives, ReadableDrivesPassAndOthersFailWithTheirName)
{
    WindowsDrives drives;
    for (const std::string& name : drives.driveNames()) {
        if (::GetDriveTypeA((std::string(1, name[0]) + ":\\").c_str()) == DRIVE_FIXED) {
            EXPECT_NO_THROW(drives.testReadable(name)) << name;
        }
    }
    const std::string letters = systemLetters();
    std::string absent;
    for (char c = 'q'; c <= 'y' && absent.empty(); ++c)
        if (letters.find(c) == std::string::npos)
            absent = std::string(1, c) + ":";
    ASSERT_FALSE(absent.empty()) << "every letter from q: to y: is in use";
    for (const std::string& name : {absent, std::string("no drive"), std::string("")}) {
        try {
            drives.testReadable(name);
            ADD_FAILURE() << name << ": no error";
        } catch (const OperationError& error) {
            EXPECT_NE(std::string(error.what()).find(name), std::string::npos) << error.what();
            EXPECT_FALSE(error.reason().empty()) << name;
        }
    }
}

} // namespace
