#include "core/LaunchCommand.h"
#include "core/OperationError.h"
#include "support/Recorders.h"
#include "support/SamplePrefix.h"
#include "support/ScratchFolder.h"
#include "support/TestPlatform.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace velmoran;
using namespace velmoran::testing;

namespace {

struct LineCase
{
    int w, txt, direct;
    const char* folder;
    const char* expected;
};

TEST(LaunchCommandLine, BuildsTheLineForEverySwitchCombination)
{
    const LineCase cases[] = {
        {0, 0, 0, "C:\\Games\\Diablo II", "C:\\Games\\Diablo II\\Diablo II.exe"},
        {1, 0, 0, "C:\\Games\\Diablo II", "C:\\Games\\Diablo II\\Diablo II.exe -w"},
        {0, 1, 0, "C:\\Games\\Diablo II", "C:\\Games\\Diablo II\\Diablo II.exe -txt"},
        {0, 0, 1, "C:\\Games\\Diablo II", "C:\\Games\\Diablo II\\Diablo II.exe -direct"},
        {1, 1, 0, "C:\\D2", "C:\\D2\\Diablo II.exe -w -txt"},
        {1, 0, 1, "C:\\Games\\Diablo II", "C:\\Games\\Diablo II\\Diablo II.exe -w -direct"},
        {0, 1, 1, "C:\\D2", "C:\\D2\\Diablo II.exe -txt -direct"},
        {1, 1, 1, "C:\\D2", "C:\\D2\\Diablo II.exe -w -txt -direct"},
        // A greyed box (2) adds nothing, exactly like an unticked one.
        {2, 2, 2, "C:\\D2", "C:\\D2\\Diablo II.exe"},
        {2, 1, 2, "C:\\D2", "C:\\D2\\Diablo II.exe -txt"},
        // A stored folder that ends in a backslash keeps its doubled separator.
        {1, 0, 0, "C:\\Diablo II\\", "C:\\Diablo II\\\\Diablo II.exe -w"},
        {0, 0, 0, "", "\\Diablo II.exe"},
    };
    for (const LineCase& c : cases)
        EXPECT_EQ(launchCommandLine(c.folder, c.w, c.txt, c.direct), c.expected)
            << c.w << c.txt << c.direct << " " << c.folder;
}

class LaunchCommandTest : public ::testing::Test
{
protected:
    void launch() { launchGame(context); }

    FixedRegistry registry{std::string("C:\\Program Files (x86)\\Diablo II")};
    RecordingStarter starter;
    FakeForm form;
    RecordingMessages messages;
    ScratchFolder scratch;
    SamplePrefix prefix{scratch.path()};
    TestPlatform services{prefix.prefix()};
    CommandContext context{services.with(&registry, &starter), form, messages};
};

TEST_F(LaunchCommandTest, StartsTheExactExeWithSeparateSwitchesAndMinimises)
{
    form.checks = {1, 1, 0, 1};
    launch();
    ASSERT_EQ(starter.started.size(), 1u);
    EXPECT_EQ(starter.started[0].program, "C:\\Program Files (x86)\\Diablo II\\Diablo II.exe");
    EXPECT_EQ(starter.started[0].arguments, (std::vector<std::string>{"-w", "-direct"}));
    EXPECT_EQ(starter.started[0].workingFolder, "C:\\Program Files (x86)\\Diablo II");
    EXPECT_EQ(form.minimized, 1);
    EXPECT_TRUE(messages.shown.empty());

    launch(); // two clicks start the game twice
    EXPECT_EQ(starter.started.size(), 2u);
    EXPECT_EQ(registry.lookups, 2);
}

TEST_F(LaunchCommandTest, FailedLookupStartsNothingAndDoesNotMinimise)
{
    registry.value.reset();
    EXPECT_THROW(launch(), GameFolderNotFound);
    EXPECT_TRUE(starter.started.empty());
    EXPECT_EQ(form.minimized, 0);
}

} // namespace
