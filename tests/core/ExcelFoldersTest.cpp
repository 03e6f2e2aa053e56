#include "core/ExcelFolders.h"
#include "core/OperationError.h"
#include "support/Recorders.h"
#include "support/SamplePrefix.h"
#include "support/ScratchFolder.h"
#include "support/TestPlatform.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>

using namespace velmoran;
using namespace velmoran::testing;
namespace fs = std::filesystem;

namespace {

// Every entry below a folder, as relative path -> file bytes ("/" for a folder).
std::map<std::string, std::string> snapshot(const fs::path& root)
{
    std::map<std::string, std::string> entries;
    if (!fs::exists(root))
        return entries;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(root)) {
        const std::string name = e.path().lexically_relative(root).generic_string();
        entries[name] = e.is_directory() ? "/" : readFile(e.path());
    }
    return entries;
}

enum class Outcome
{
    Message,
    Failure,
    NotFound
};

const std::string Created = " Folders \\data\\global\\excel created ! ";
const std::string Deleted = " Folders \\data\\global\\excel deleted !";

// Everything in the game folder outside its data folder.
std::map<std::string, std::string> outsideData(const fs::path& game)
{
    auto entries = snapshot(game);
    std::erase_if(entries, [](const auto& e) { return e.first.starts_with("data"); });
    return entries;
}

// Runs the command and checks how it ended: with its own message, at a failed step whose
// error names `failingPath`, or at the lookup; never with a message after a failure.
void runAndCheck(void (*command)(CommandContext&), CommandContext& context,
                 RecordingMessages& messages, Outcome expected, const std::string& message,
                 const std::string& failingPath, const std::string& what)
{
    messages.shown.clear();
    Outcome outcome = Outcome::Message;
    std::string error;
    try {
        command(context);
    } catch (const GameFolderNotFound& e) {
        outcome = Outcome::NotFound;
        error = e.what();
    } catch (const OperationError& e) {
        outcome = Outcome::Failure;
        error = e.what();
    }
    EXPECT_EQ(outcome, expected) << what << ": " << error;
    if (expected == Outcome::Message) {
        EXPECT_EQ(messages.shown, (std::vector<ShownMessage>{{message, "Velmoran"}})) << what;
    } else {
        EXPECT_TRUE(messages.shown.empty()) << what;
    }
    if (expected == Outcome::Failure) {
        EXPECT_NE(error.find(failingPath), std::string::npos)
            << what << ": the error should name " << failingPath << "; it says: " << error;
    }
}

class ExcelFoldersTest : public ::testing::Test
{
protected:
    fs::path game() const { return prefix.gameFolder(); }
    fs::path excel() const { return game() / "data" / "global" / "excel"; }
    std::string storm() const { return readFile(game() / "Storm.dll"); }

    void run(void (*command)(CommandContext&), Outcome expected, const std::string& message,
             const std::string& failingPath, const std::string& what)
    {
        runAndCheck(command, context, messages, expected, message,
                    prefix.gameFolderWindows() + failingPath, what);
    }

    FixedRegistry registry{std::string("C:\\Program Files (x86)\\Diablo II")};
    FakeForm form;
    RecordingMessages messages;
    ScratchFolder scratch{"velmoran-excel"};
    SamplePrefix prefix{scratch.path()};
    TestPlatform services{prefix.prefix()};
    CommandContext context{services.with(&registry), form, messages};
};

struct Case
{
    const char* what;
    std::function<void(const fs::path& game)> setUp;
    Outcome outcome;
    const char* failingPath;
    // The data tree afterwards; "STORM" stands for the game's Storm.dll bytes.
    std::map<std::string, std::string> data;
};

// Each case on a game folder of its own: how the command ends, what data holds afterwards,
// and that nothing outside data changed.
void runCases(void (*command)(CommandContext&), const std::string& message,
              const std::vector<Case>& cases, RegistryReader& registry)
{
    for (const Case& c : cases) {
        ScratchFolder scratch{"velmoran-excel-case"};
        SamplePrefix prefix{scratch.path()};
        TestPlatform services{prefix.prefix()};
        FakeForm form;
        RecordingMessages messages;
        CommandContext context{services.with(&registry), form, messages};
        const fs::path g = prefix.gameFolder();
        const std::string stormBytes = readFile(g / "Storm.dll");
        c.setUp(g);
        const auto outside = outsideData(g);
        runAndCheck(command, context, messages, c.outcome, message,
                    prefix.gameFolderWindows() + c.failingPath, c.what);
        std::map<std::string, std::string> expected = c.data;
        for (auto& [name, bytes] : expected)
            if (bytes == "STORM")
                bytes = stormBytes;
        EXPECT_EQ(snapshot(g / "data"), expected) << c.what;
        if (command == deleteExcelFolders) { // data itself goes once nothing stays in it
            EXPECT_EQ(fs::exists(g / "data"), !c.data.empty()) << c.what;
        }
        EXPECT_EQ(outsideData(g), outside) << c.what << ": nothing outside data may change";
    }
}

TEST_F(ExcelFoldersTest, CreateMakesTheTreeOuterFirstAndStopsAtAFailedStep)
{
    const std::string made = "/";
    const std::vector<Case> cases = {
        {"fresh game folder",
         [](const fs::path&) {},
         Outcome::Message,
         "",
         {{"global", made}, {"global/excel", made}, {"global/excel/Storm.dll", "STORM"}}},
        {"data exists already: nothing made or copied",
         [](const fs::path& g) { fs::create_directory(g / "data"); },
         Outcome::Failure,
         "\\data",
         {}},
        {"data from an earlier game run",
         [](const fs::path& g) { writeFile(g / "data" / "local" / "x.tbl", "table"); },
         Outcome::Failure,
         "\\data",
         {{"local", made}, {"local/x.tbl", "table"}}},
        {"no Storm.dll: the folders are made, the copy fails",
         [](const fs::path& g) { fs::remove(g / "Storm.dll"); },
         Outcome::Failure,
         "\\Storm.dll",
         {{"global", made}, {"global/excel", made}}},
        {"Storm.dll stored in another case",
         [](const fs::path& g) { fs::rename(g / "Storm.dll", g / "STORM.DLL"); },
         Outcome::Message,
         "",
         {{"global", made}, {"global/excel", made}, {"global/excel/Storm.dll", "STORM"}}},
    };
    runCases(createExcelFolders, Created, cases, registry);
}

TEST_F(ExcelFoldersTest, DeleteEmptiesAndRemovesInnerFirstAndStopsAtAFailedStep)
{
    const std::string dir = "/";
    const auto created = [](const fs::path& g) {
        writeFile(g / "data" / "global" / "excel" / "Storm.dll", "storm copy");
    };
    const auto withBins = [created](const fs::path& g) {
        created(g);
        writeFile(g / "data" / "global" / "excel" / "armor.bin", "armor");
        writeFile(g / "data" / "global" / "excel" / "Weapons.BIN", "weapons");
        writeFile(g / "data" / "global" / "excel" / "noextension", "plain");
    };
    const std::vector<Case> cases = {
        {"after Create and a -txt run", withBins, Outcome::Message, "", {}},
        {"only the copy of Storm.dll", created, Outcome::Message, "", {}},
        {"empty excel folder: nothing removed",
         [](const fs::path& g) { fs::create_directories(g / "data" / "global" / "excel"); },
         Outcome::Failure,
         "\\data\\global\\excel\\*.*",
         {{"global", dir}, {"global/excel", dir}}},
        {"missing excel folder",
         [](const fs::path& g) { fs::create_directories(g / "data" / "global"); },
         Outcome::Failure,
         "\\data\\global\\excel\\*.*",
         {{"global", dir}}},
        {"no data folder at all",
         [](const fs::path&) {},
         Outcome::Failure,
         "\\data\\global\\excel\\*.*",
         {}},
        {"a subfolder in excel: the files go, the folder stays",
         [withBins](const fs::path& g) {
             withBins(g);
             fs::create_directory(g / "data" / "global" / "excel" / "old");
         },
         Outcome::Failure,
         "\\data\\global\\excel",
         {{"global", dir}, {"global/excel", dir}, {"global/excel/old", dir}}},
        {"another folder in global",
         [withBins](const fs::path& g) {
             withBins(g);
             fs::create_directory(g / "data" / "global" / "ui");
         },
         Outcome::Failure,
         "\\data\\global",
         {{"global", dir}, {"global/ui", dir}}},
        {"a file in global",
         [withBins](const fs::path& g) {
             withBins(g);
             writeFile(g / "data" / "global" / "palette.dat", "palette");
         },
         Outcome::Failure,
         "\\data\\global",
         {{"global", dir}, {"global/palette.dat", "palette"}}},
        {"something else in data",
         [withBins](const fs::path& g) {
             withBins(g);
             writeFile(g / "data" / "local" / "lng" / "eng.tbl", "strings");
         },
         Outcome::Failure,
         "\\data",
         {{"local", dir}, {"local/lng", dir}, {"local/lng/eng.tbl", "strings"}}},
    };
    runCases(deleteExcelFolders, Deleted, cases, registry);
}

TEST_F(ExcelFoldersTest, CreateAndDeleteCanBeRepeatedWhileTheWindowStaysOpen)
{
    for (int round = 0; round < 3; ++round) {
        run(createExcelFolders, Outcome::Message, Created, "",
            "create, round " + std::to_string(round));
        EXPECT_EQ(readFile(excel() / "Storm.dll"), storm());
        // A second Create finds data there already and stops at once.
        run(createExcelFolders, Outcome::Failure, "", "\\data", "create again");
        writeFile(excel() / "misc.bin", "bin file of the game");
        run(deleteExcelFolders, Outcome::Message, Deleted, "",
            "delete, round " + std::to_string(round));
        EXPECT_FALSE(fs::exists(game() / "data"));
        // A second Delete has no file to delete and reports no success.
        run(deleteExcelFolders, Outcome::Failure, "", "\\data\\global\\excel\\*.*", "delete again");
    }
    EXPECT_EQ(registry.lookups, 12) << "every click looks the game folder up afresh";
}

TEST_F(ExcelFoldersTest, FailedLookupDoesNothingAndReportsNothingButTheLookup)
{
    // Files where an empty game folder would point: the root of drive c: and of the
    // current folder's drive. Neither may be touched or reported on.
    writeFile(prefix.driveC() / "data" / "global" / "excel" / "found.bin", "at the root");
    writeFile(excel() / "armor.bin", "bin of the game");
    const auto before = snapshot(prefix.driveC());
    registry.value.reset();
    run(createExcelFolders, Outcome::NotFound, "", "", "create without a game folder");
    run(deleteExcelFolders, Outcome::NotFound, "", "", "delete without a game folder");
    EXPECT_EQ(snapshot(prefix.driveC()), before);
}

} // namespace
