#include "core/OperationError.h"
#include "platform/linux/WineProgramStarter.h"
#include "support/SamplePrefix.h"
#include "support/ScratchFolder.h"
#include "support/StandInWine.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace velmoran;
using namespace velmoran::testing;
namespace fs = std::filesystem;

namespace {

// Runs with the stand-in wine (tests/helpers/bin/wine) first on PATH, which writes how it
// was started into a file.
class WineProgramStarterTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!wine.available())
            GTEST_SKIP() << "no stand-in wine in " << testHelpersFolder();
    }

    ScratchFolder scratch;
    SamplePrefix prefix{scratch.path()};
    fs::path record = scratch / "wine-record.txt";
    StandInWine wine{record};
    WineProgramStarter starter{WinePrefix(prefix.prefix())};
};

TEST_F(WineProgramStarterTest, StartsTheGameThroughWineInTheGameFolderAndPrefix)
{
    const std::string folder = prefix.gameFolderWindows();
    starter.startProgram(folder + "\\Diablo II.exe", {"-w", "-txt", "-direct"}, folder);
    EXPECT_EQ(wine.recorded(), "cwd=" + prefix.gameFolder().string() +
                              "\nWINEPREFIX=" + prefix.prefix().string() +
                              "\narg=C:\\Program Files (x86)\\Diablo II\\Diablo II.exe"
                              "\narg=-w\narg=-txt\narg=-direct\n");
}

TEST_F(WineProgramStarterTest, NamesWhatIsMissing)
{
    const std::string folder = prefix.gameFolderWindows();
    struct Case
    {
        std::string program, workingFolder, says;
    } cases[] = {
        {folder + "\\Diablo II.exe", "C:\\Nowhere", "does not exist"},
        {folder + "\\Missing.exe", folder, "Missing.exe does not exist"},
        {"q:\\Diablo II.exe", "q:\\", "drive q: is not defined"},
    };
    for (const Case& c : cases) {
        try {
            starter.startProgram(c.program, {}, c.workingFolder);
            ADD_FAILURE() << c.program << " started";
        } catch (const OperationError& e) {
            EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
        }
    }
    EXPECT_FALSE(fs::exists(record));
}

TEST_F(WineProgramStarterTest, WineMissingFromPathIsAClearFailure)
{
    const ScopedVariable path("PATH", (scratch / "empty-bin").string());
    const std::string folder = prefix.gameFolderWindows();
    try {
        starter.startProgram(folder + "\\Diablo II.exe", {}, folder);
        FAIL() << "started without wine";
    } catch (const OperationError& e) {
        EXPECT_NE(std::string(e.what()).find("wine was not found"), std::string::npos) << e.what();
    }
}

} // namespace
