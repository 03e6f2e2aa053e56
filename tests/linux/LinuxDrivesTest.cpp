#include "platform/linux/LinuxDrives.h"
#include "core/OperationError.h"
#include "support/SamplePrefix.h"
#include "support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace velmoran;
using namespace velmoran::testing;
namespace fs = std::filesystem;

namespace {

// Changes the process's current folder for the length of a test.
class CurrentFolder
{
public:
    explicit CurrentFolder(const fs::path& folder) : m_previous(fs::current_path())
    {
        fs::current_path(folder);
    }
    ~CurrentFolder() { fs::current_path(m_previous); }

private:
    fs::path m_previous;
};

std::string named(char letter, const fs::path& target)
{
    return std::string{letter, ':'} + " [" + target.string() + "]";
}

TEST(LinuxDrives, NamesThePrefixDrivesInLetterOrderWithTheirTargets)
{
    ScratchFolder scratch("velmoran-drives");
    SamplePrefix sample(scratch.path());
    fs::create_directory_symlink("/tmp", sample.prefix() / "dosdevices" / "x:");
    // Wine's other device names in dosdevices are not drives.
    fs::create_symlink("/dev/ttyS0", sample.prefix() / "dosdevices" / "com1");
    LinuxDrives drives{WinePrefix(sample.prefix())};
    const std::vector<std::string> expected = {
        named('c', sample.driveC()), named('d', sample.driveD()), named('e', sample.driveE()),
        named('x', "/tmp"), named('z', "/")};
    EXPECT_EQ(drives.driveNames(), expected);
}

TEST(LinuxDrives, WithoutDosDevicesTheWineDefaults)
{
    ScratchFolder scratch("velmoran-drives");
    fs::create_directories(scratch / "prefix" / "drive_c");
    EXPECT_EQ(
        LinuxDrives{WinePrefix(scratch / "prefix")}.driveNames(),
        (std::vector<std::string>{named('c', scratch / "prefix" / "drive_c"), named('z', "/")}));
    EXPECT_EQ(LinuxDrives{WinePrefix(scratch / "nothing")}.driveNames(),
              (std::vector<std::string>{named('z', "/")}));
}

TEST(LinuxDrives, TheCurrentDriveHoldsTheCurrentFolder)
{
    ScratchFolder scratch("velmoran-drives");
    SamplePrefix sample(scratch.path());
    LinuxDrives drives{WinePrefix(sample.prefix())};
    struct Case
    {
        fs::path folder;
        std::string expected;
    };
    const Case cases[] = {
        {sample.driveD() / "Mods" / "Median", named('d', sample.driveD())},
        {sample.driveE(), named('e', sample.driveE())},
        {sample.gameFolder() / "save", named('c', sample.driveC())},
        {scratch.path(), named('z', "/")},
    };
    for (const Case& c : cases) {
        CurrentFolder here(c.folder);
        EXPECT_EQ(drives.currentDrive(), c.expected) << c.folder;
    }
    // No drive holds it: c:.
    fs::remove(sample.prefix() / "dosdevices" / "z:");
    CurrentFolder here(scratch.path());
    EXPECT_EQ(drives.currentDrive(), named('c', sample.driveC()));
}

TEST(LinuxDrives, TestReadableNamesWhatIsWrong)
{
    ScratchFolder scratch("velmoran-drives");
    SamplePrefix sample(scratch.path());
    fs::create_directory_symlink(scratch / "gone", sample.prefix() / "dosdevices" / "g:");
    LinuxDrives drives{WinePrefix(sample.prefix())};
    for (const std::string& name : drives.driveNames()) {
        if (name[0] != 'g') {
            EXPECT_NO_THROW(drives.testReadable(name)) << name;
        }
    }
    struct Case
    {
        std::string drive;
        std::string reason;
    };
    const Case cases[] = {{"g:", "No such file or directory"},
                          {"q:", "has no drive q:"},
                          {"a:", "has no drive a:"},
                          {"?", "not a drive name"}};
    for (const Case& c : cases) {
        try {
            drives.testReadable(c.drive);
            ADD_FAILURE() << c.drive << " read";
        } catch (const OperationError& error) {
            EXPECT_EQ(error.operation(), "read the drive");
            EXPECT_NE(error.reason().find(c.reason), std::string::npos) << error.what();
        }
    }
}

} // namespace
