// The commands of the core on this platform's real services, on a stand-in game install in
// a scratch folder: the walk, the patch swap and the excel folders, end to end.
#include "WindowsTestSupport.h"
#include "core/ExcelFolders.h"
#include "core/PatchSearch.h"
#include "core/PatchSwap.h"
#include "support/Recorders.h"
#include "support/SamplePrefix.h"
#include "support/ScratchFolder.h"
#include "support/TestPlatform.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace velmoran;
using namespace velmoran::testing;
namespace fs = std::filesystem;

namespace {

class CollectingObserver : public SearchObserver
{
public:
    void subfolderFound(std::uint64_t) override {}
    void matchFound(const std::string& entry) override { matches.push_back(entry); }
    void folderPassedOver(const OperationError& error) override
    {
        passedOver.push_back(error.what());
    }
    std::vector<std::string> matches;
    std::vector<std::string> passedOver;
};

class WindowsCommandsTest : public ::testing::Test
{
protected:
    WindowsCommandsTest()
    {
        writeFile(game / "patch_d2.mpq", original);
        writeFile(game / "Storm.dll", standInBytes("Storm.dll", 4096));
        writeFile(game / "save" / "Sorceress.d2s", "sorceress");
        writeFile(game / "save" / "Barbarian.d2s", "barbarian");
        writeFile(mods / "patch_d2.mpq", standInBytes("root mod", 3000));
        writeFile(mods / "A" / "patch_d2.mpq", standInBytes("A", 3000));
        writeFile(mods / "B" / "C" / "PATCH_D2.MPQ", standInBytes("C", 3000));
        writeFile(mods / "Hidden" / "patch_d2.mpq", standInBytes("hidden folder", 3000));
        writeFile(mods / "D" / "patch_d2.mpq", standInBytes("hidden file", 3000));
        ::SetFileAttributesW((mods / "Hidden").wstring().c_str(), FILE_ATTRIBUTE_HIDDEN);
        ::SetFileAttributesW((mods / "D" / "patch_d2.mpq").wstring().c_str(),
                             FILE_ATTRIBUTE_HIDDEN);
    }
    std::vector<std::string> messageTexts() const
    {
        std::vector<std::string> texts;
        for (const ShownMessage& m : messages.shown)
            texts.push_back(m.text);
        return texts;
    }

    ScratchFolder scratch{"velmoran-commands"};
    fs::path game = scratch / "Program Files (x86)" / "Diablo II";
    fs::path mods = scratch / "Mods";
    std::string original = standInBytes("original patch_d2.mpq", 70000);
    FixedRegistry registry{windowsPath(game)};
    TestPlatform services{scratch.path()};
    FakeForm form;
    RecordingMessages messages;
    CommandContext context{services.with(&registry), form, messages};
};

TEST_F(WindowsCommandsTest, TheWalkListsVisibleArchivesInPreOrder)
{
    CollectingObserver observer;
    const SearchSummary summary =
        FindFiles(services.real().files, windowsPath(mods), PatchFileName, observer);
    const std::string root = windowsPath(mods) + "\\";
    // Windows lists a folder's entries in its own order: compare the pre-order rule on the
    // entries, not one fixed order of siblings.
    std::vector<std::string> expected{root + "patch_d2.mpq", root + "A\\patch_d2.mpq",
                                      root + "B\\C\\PATCH_D2.MPQ"};
    ASSERT_EQ(observer.matches.size(), expected.size());
    EXPECT_EQ(observer.matches.front(), expected.front());
    std::vector<std::string> sorted = observer.matches;
    std::sort(sorted.begin(), sorted.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(sorted, expected);
    EXPECT_TRUE(observer.passedOver.empty());
    EXPECT_EQ(summary.matches, 3u);
}

TEST_F(WindowsCommandsTest, BackupReplaceAndUndoRoundTrip)
{
    form.checks = {1, 0, 0, 0};
    backupPatch(context);
    EXPECT_FALSE(fs::exists(game / "patch_d2.mpq"));
    EXPECT_EQ(readFile(game / "Backup" / "patch_d2.mpq"), original);
    EXPECT_TRUE(win32Attributes(game / "Backup" / "patch_d2.mpq") & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(readFile(game / "save_Backup" / "save" / "Sorceress.d2s"), "sorceress");

    const std::string chosen = windowsPath(mods / "A" / "patch_d2.mpq");
    form.list = {windowsPath(mods / "patch_d2.mpq"), chosen};
    form.selected = 1;
    replacePatch(context);
    EXPECT_EQ(readFile(game / "patch_d2.mpq"), readFile(mods / "A" / "patch_d2.mpq"));

    writeFile(game / "save" / "Sorceress.d2s", "changed after the backup");
    writeFile(game / "save" / "New.d2s", "made after the backup");
    undoChanges(context);
    EXPECT_EQ(readFile(game / "patch_d2.mpq"), original);
    EXPECT_FALSE(win32Attributes(game / "patch_d2.mpq") & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_FALSE(fs::exists(game / "Backup"));
    EXPECT_FALSE(fs::exists(game / "save_Backup"));
    EXPECT_EQ(readFile(game / "save" / "Sorceress.d2s"), "sorceress");
    EXPECT_EQ(readFile(game / "save" / "New.d2s"), "made after the backup");
    EXPECT_EQ(messageTexts(), (std::vector<std::string>{BackupCreatedMessage, PatchReplacedMessage,
                                                        ChangesUndoneMessage}));
}

TEST_F(WindowsCommandsTest, ExcelFoldersAreCreatedAndDeleted)
{
    createExcelFolders(context);
    EXPECT_EQ(readFile(game / "data" / "global" / "excel" / "Storm.dll"),
              readFile(game / "Storm.dll"));
    writeFile(game / "data" / "global" / "excel" / "armor.bin", "made by the game");
    deleteExcelFolders(context);
    EXPECT_FALSE(fs::exists(game / "data"));
    EXPECT_TRUE(fs::exists(game / "Storm.dll"));
    EXPECT_EQ(messageTexts(), (std::vector<std::string>{ExcelCreatedMessage, ExcelDeletedMessage}));
}

} // namespace
