#include "core/OperationError.h"
#include "platform/linux/LinuxDrives.h"
#include "platform/linux/LinuxFileSystem.h"
#include "support/SamplePrefix.h"
#include "support/ScratchFolder.h"
#include "AsNobody.h"

#include <gtest/gtest.h>

#include <functional>
#include <grp.h>
#include <optional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace velmoran;
using namespace velmoran::testing;
namespace fs = std::filesystem;

namespace {

class Unreadable : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // The scratch folder is private to root; the child must be able to reach inside.
        fs::permissions(scratch.path(), fs::perms(0755));
        writeFile(sample.driveD() / "Locked" / "patch_d2.mpq", "x");
        writeFile(sample.driveD() / "Open" / "patch_d2.mpq", "x");
        fs::permissions(sample.driveD() / "Locked", fs::perms::none);
    }

    ScratchFolder scratch{"velmoran-unreadable"};
    SamplePrefix sample{scratch.path()};
};

TEST_F(Unreadable, AFolderThatCannotBeReadIsAClearFailure)
{
    const std::optional<std::string> result = runAsNobody([&] {
        LinuxFileSystem files{WinePrefix(sample.prefix())};
        FolderScan scan;
        std::string text =
            failureOf([&] { files.scanFolder("d:\\Locked\\", "patch_d2.mpq", scan); });
        text += "|" + failureOf([&] { files.findFile("d:\\Locked\\*.*", FindFilter::Folder); });
        files.scanFolder("d:\\Open\\", "patch_d2.mpq", scan);
        text += "|" + std::to_string(scan.matches.size());
        return text;
    });
    if (!result)
        GTEST_SKIP() << "this system does not let a child process drop to user 65534";
    const std::string expected =
        "Could not read the folder.\nd:\\Locked\\\n\nReason: Permission denied|"
        "Could not list the folder.\nd:\\Locked\\*.*\n\nReason: Permission denied|1";
    EXPECT_EQ(*result, expected);
}

TEST_F(Unreadable, ADriveThatCannotBeReadIsReported)
{
    fs::create_directory_symlink(sample.driveD() / "Locked", sample.prefix() / "dosdevices" / "l:");
    const std::optional<std::string> result = runAsNobody([&] {
        LinuxDrives drives{WinePrefix(sample.prefix())};
        return failureOf([&] { drives.testReadable("l:"); }) + "|" +
               failureOf([&] { drives.testReadable("d:"); });
    });
    if (!result)
        GTEST_SKIP() << "this system does not let a child process drop to user 65534";
    EXPECT_NE(result->find("Could not read the drive.\nl:"), std::string::npos) << *result;
    EXPECT_NE(result->find("Permission denied|(no failure)"), std::string::npos) << *result;
}

} // namespace
