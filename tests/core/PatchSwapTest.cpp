#include "core/PatchSwap.h"
#include "core/OperationError.h"
#include "core/PatchSearch.h"
#include "swap/SwapGame.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

using namespace velmoran;
using namespace velmoran::testing;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> texts(const RecordingMessages& messages)
{
    std::vector<std::string> result;
    for (const ShownMessage& m : messages.shown) {
        EXPECT_EQ(m.title, "Velmoran") << m.text;
        result.push_back(m.text);
    }
    return result;
}

// One click and what the game folder and the message box show afterwards.
struct Step
{
    const char* command; // "Backup", "Backup+saves", "Replace <label>", "Replace nothing", "Undo"
    const char* layout;  // SwapGame::layout() afterwards
    const char* message; // the one message shown, or "" for none
    bool fails;          // the click raises an OperationError
};

void click(SwapGame& game, const std::string& command)
{
    if (command == "Backup")
        game.backup(CheckValue::Unticked);
    else if (command == "Backup+saves")
        game.backup(CheckValue::Ticked);
    else if (command == "Undo")
        game.undo();
    else if (command == "Replace nothing") {
        game.form.selected = -1;
        CommandContext c = game.context();
        replacePatch(c);
    } else if (command.rfind("Replace ", 0) == 0)
        game.replace(command.substr(8));
    else
        FAIL() << "unknown command " << command;
}

constexpr const char* Installed = "original | no Backup | no save_Backup";
constexpr const char* BackedUp = "- | Backup:original hidden | no save_Backup";
constexpr const char* BackedUpSaves = "- | Backup:original hidden | save_Backup";

TEST(PatchSwap, FollowsTheStateTable)
{
    const std::vector<std::vector<Step>> scenarios = {
        // The whole swap: Backup once, Replace as often as wanted, Undo once.
        {{"Backup", BackedUp, " Backup created !!", false},
         {"Replace Median", "Median | Backup:original hidden | no save_Backup",
          " The patch_D2 has been replaced ", false},
         {"Replace Zy-El", "Zy-El | Backup:original hidden | no save_Backup",
          " The patch_D2 has been replaced ", false},
         {"Replace Eastern Sun", "Eastern Sun | Backup:original hidden | no save_Backup",
          " The patch_D2 has been replaced ", false},
         {"Undo", Installed, " All changes are undone !!", false}},
        // Undo straight after Backup.
        {{"Backup+saves", BackedUpSaves, " Backup created !!", false},
         {"Undo", Installed, " All changes are undone !!", false}},
        // Backup twice: the second stops at the existing backup folder, nothing changes.
        {{"Backup", BackedUp, " Backup created !!", false},
         {"Backup", BackedUp, "", true},
         {"Backup+saves", BackedUp, "", true},
         {"Undo", Installed, " All changes are undone !!", false}},
        // Backup twice from the Replaced state.
        {{"Backup", BackedUp, " Backup created !!", false},
         {"Replace Median", "Median | Backup:original hidden | no save_Backup",
          " The patch_D2 has been replaced ", false},
         {"Backup", "Median | Backup:original hidden | no save_Backup", "", true},
         {"Undo", Installed, " All changes are undone !!", false}},
        // Undo with nothing backed up stops before touching anything.
        {{"Undo", Installed, "", true}},
        // Replace without Backup overwrites the game's archive; Undo then finds no backup.
        {{"Replace Median", "Median | no Backup | no save_Backup",
          " The patch_D2 has been replaced ", false},
         {"Undo", "Median | no Backup | no save_Backup", "", true}},
        // No selection: the message and nothing else, installed or backed up.
        {{"Replace nothing", Installed, "You didn't select a patch_d2", false},
         {"Backup", BackedUp, " Backup created !!", false},
         {"Replace nothing", BackedUp, "You didn't select a patch_d2", false}},
        // The swap can be run again after an Undo.
        {{"Backup", BackedUp, " Backup created !!", false},
         {"Undo", Installed, " All changes are undone !!", false},
         {"Backup+saves", BackedUpSaves, " Backup created !!", false},
         {"Replace Zy-El", "Zy-El | Backup:original hidden | save_Backup",
          " The patch_D2 has been replaced ", false},
         {"Undo", Installed, " All changes are undone !!", false}},
    };

    for (std::size_t s = 0; s < scenarios.size(); ++s) {
        ScratchFolder scratch("velmoran-swap");
        SwapGame game(scratch.path());
        ASSERT_EQ(game.layout(), Installed);
        const auto savesBefore = game.saves();
        for (std::size_t i = 0; i < scenarios[s].size(); ++i) {
            const Step& step = scenarios[s][i];
            SCOPED_TRACE("scenario " + std::to_string(s) + ", step " + std::to_string(i) + ": " +
                         step.command);
            game.messages.shown.clear();
            const auto before = game.snapshot();
            bool failed = false;
            try {
                click(game, step.command);
            } catch (const OperationError& e) {
                failed = true;
                EXPECT_NE(std::string(e.what()).find(game.prefix.gameFolderWindows()),
                          std::string::npos)
                    << "the error names no path of the game folder: " << e.what();
            }
            EXPECT_EQ(failed, step.fails);
            EXPECT_EQ(game.layout(), step.layout);
            const std::vector<std::string> expected =
                *step.message ? std::vector<std::string>{step.message} : std::vector<std::string>{};
            EXPECT_EQ(texts(game.messages), expected);
            if (step.fails || std::string(step.message) == "You didn't select a patch_d2") {
                EXPECT_EQ(game.snapshot(), before) << "a stopped command changed the game folder";
            }
        }
        EXPECT_EQ(game.saves(), savesBefore);
    }
}

TEST(PatchSwap, Check1BacksUpTheSavesOnlyWhenExactlyTicked)
{
    struct Case
    {
        int check1;
        bool savesCopied;
        int lookups;
    };
    for (const Case c : {Case{0, false, 1}, Case{1, true, 2}, Case{2, false, 1}}) {
        SCOPED_TRACE("Check1 = " + std::to_string(c.check1));
        ScratchFolder scratch("velmoran-swap");
        SwapGame game(scratch.path());
        FixedRegistry registry{game.prefix.gameFolderWindows()};
        game.form.checks[0] = c.check1;
        CommandContext context = game.context(registry);
        backupPatch(context);

        EXPECT_EQ(registry.lookups, c.lookups);
        EXPECT_EQ(texts(game.messages), std::vector<std::string>{" Backup created !!"});
        EXPECT_EQ(fs::exists(game.game() / "save_Backup"), c.savesCopied);
        if (c.savesCopied) {
            EXPECT_EQ(game.saves("save_Backup/save"), game.saves());
        }
        EXPECT_EQ(game.label(game.game() / "Backup" / "patch_d2.mpq"), "original");
        EXPECT_FALSE(fs::exists(game.game() / "patch_d2.mpq"));
    }
}

TEST(PatchSwap, UndoMergesTheSavesBack)
{
    ScratchFolder scratch("velmoran-swap");
    SwapGame game(scratch.path());
    const auto savesAtBackup = game.saves();
    game.backup(CheckValue::Ticked);
    game.replace("Median");

    // The game was played: one save changed, one new character.
    const std::string changed = standInBytes("Sorceress.d2s after a session", 1700);
    const std::string created = standInBytes("Amazon.d2s", 1200);
    writeFile(game.game() / "save" / "Sorceress.d2s", changed);
    writeFile(game.game() / "save" / "Amazon.d2s", created);

    game.messages.shown.clear();
    game.undo();
    EXPECT_EQ(texts(game.messages), std::vector<std::string>{" All changes are undone !!"});
    EXPECT_EQ(game.layout(), Installed);

    auto expected = savesAtBackup; // changed saves replaced by their backed-up version
    expected["Amazon.d2s"] = created;
    EXPECT_EQ(game.saves(), expected);
    EXPECT_EQ(game.files().fileAttributes(game.win("patch_d2.mpq")) & Attribute::Hidden, 0u);
}

// A save copy that holds no ordinary file is left where it is; the archive is still
// restored and the message still shown.
TEST(PatchSwap, UndoLeavesASaveCopyWithoutOrdinaryFiles)
{
    const std::vector<std::pair<const char*, std::function<void(SwapGame&)>>> copies = {
        {"hidden files only",
         [](SwapGame& game) {
             for (const auto& [name, bytes] : game.saves("save_Backup/save"))
                 game.files().setAttributes(game.win("save_Backup\\save\\" + name),
                                            Attribute::Hidden);
         }},
        {"a subfolder only",
         [](SwapGame& game) {
             for (const auto& [name, bytes] : game.saves("save_Backup/save"))
                 fs::remove(game.game() / "save_Backup" / "save" / name);
             writeFile(game.game() / "save_Backup" / "save" / "Old" / "Paladin.d2s",
                       standInBytes("Paladin.d2s", 900));
         }},
    };
    for (const auto& [name, prepare] : copies) {
        SCOPED_TRACE(name);
        ScratchFolder scratch("velmoran-swap");
        SwapGame game(scratch.path());
        game.backup(CheckValue::Ticked);
        prepare(game);
        writeFile(game.game() / "save" / "Sorceress.d2s", standInBytes("changed", 100));
        const auto copy = game.snapshot();
        const auto saves = game.saves();

        game.messages.shown.clear();
        game.undo();
        EXPECT_EQ(texts(game.messages), std::vector<std::string>{" All changes are undone !!"});
        EXPECT_EQ(game.label(game.game() / "patch_d2.mpq"), "original");
        EXPECT_FALSE(fs::exists(game.game() / "Backup"));
        EXPECT_EQ(game.saves(), saves) << "the save folder was touched";
        const auto after = game.snapshot();
        for (const auto& [path, value] : copy) {
            if (path.rfind("save_Backup", 0) == 0) {
                EXPECT_EQ(after.count(path) ? after.at(path) : "(gone)", value) << path;
            }
        }
    }
}

// The archives a search of the game folder lists.
std::vector<std::string> searchGameFolder(SwapGame& game)
{
    struct Collector : SearchObserver
    {
        std::vector<std::string> found;
        void subfolderFound(std::uint64_t) override {}
        void matchFound(const std::string& entry) override { found.push_back(entry); }
        void folderPassedOver(const OperationError& e) override { ADD_FAILURE() << e.what(); }
    } collector;
    FindFiles(game.files(), game.prefix.gameFolderWindows(), PatchFileName, collector);
    return collector.found;
}

TEST(PatchSwap, BackupShowsItsMessageBeforeHidingTheArchive)
{
    // The message box looks at the backed-up archive while it is open.
    struct Watcher : UserMessages
    {
        SwapGame* game = nullptr;
        std::vector<unsigned> attributes;
        std::vector<std::size_t> listed;
        std::vector<std::string> searched;
        void showMessage(const std::string& text, const std::string& title) override
        {
            game->messages.showMessage(text, title);
            searched = searchGameFolder(*game);
            attributes.push_back(game->files().fileAttributes(game->win("Backup\\patch_d2.mpq")));
            listed.push_back(
                findFirst(game->files(), game->win("Backup\\*.*"), FindFilter::Ordinary).size());
        }
    };
    ScratchFolder scratch("velmoran-swap");
    SwapGame game(scratch.path());
    // A read-only archive: the backup must end up hidden and nothing else.
    fs::permissions(game.game() / "patch_d2.mpq",
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    ASSERT_NE(game.files().fileAttributes(game.win("patch_d2.mpq")) & Attribute::ReadOnly, 0u);
    Watcher watcher;
    watcher.game = &game;
    CommandContext context{game.platform(), game.form, watcher};
    backupPatch(context);

    ASSERT_EQ(watcher.attributes.size(), 1u);
    EXPECT_EQ(watcher.attributes[0] & Attribute::Hidden, 0u) << "hidden while the message shows";
    EXPECT_GT(watcher.listed[0], 0u) << "an ordinary listing did not see the backup";
    // Hidden alone: read-only and system are gone (Wine reports every regular file with the
    // archive flag, which is no stored attribute).
    constexpr unsigned Stored = Attribute::ReadOnly | Attribute::Hidden | Attribute::System;
    EXPECT_EQ(game.files().fileAttributes(game.win("Backup\\patch_d2.mpq")) & Stored,
              Attribute::Hidden);
    EXPECT_EQ(findFirst(game.files(), game.win("Backup\\*.*"), FindFilter::Ordinary), "");
    EXPECT_EQ(findFirst(game.files(), game.win("Backup\\*.*"), FindFilter::Hidden), "patch_d2.mpq");

    // A search lists the backup while the message is open, and passes it over once hidden.
    EXPECT_EQ(watcher.searched, std::vector<std::string>{game.win("Backup\\patch_d2.mpq")});
    EXPECT_EQ(searchGameFolder(game), std::vector<std::string>{});

    // Undo clears the attribute before its copy: the restored archive is not hidden.
    game.undo();
    EXPECT_EQ(game.files().fileAttributes(game.win("patch_d2.mpq")) & Attribute::Hidden, 0u);
    EXPECT_EQ(searchGameFolder(game), std::vector<std::string>{game.win("patch_d2.mpq")});
}

TEST(PatchSwap, AFailedLookupEndsEveryCommandBeforeAnyStep)
{
    const std::vector<std::pair<const char*, std::function<void(CommandContext&, FakeForm&)>>>
        commands = {
            {"Backup", [](CommandContext& c, FakeForm&) { backupPatch(c); }},
            {"Backup+saves",
             [](CommandContext& c, FakeForm& form) {
                 form.checks[0] = CheckValue::Ticked;
                 backupPatch(c);
             }},
            {"Undo", [](CommandContext& c, FakeForm&) { undoChanges(c); }},
            {"Replace",
             [](CommandContext& c, FakeForm& form) {
                 form.list = {"d:\\Mods\\Median\\patch_d2.mpq"};
                 form.selected = 0;
                 replacePatch(c);
             }},
        };
    for (const bool backedUp : {false, true})
        for (const auto& [name, run] : commands) {
            SCOPED_TRACE(std::string(name) + (backedUp ? " (backed up)" : " (installed)"));
            ScratchFolder scratch("velmoran-swap");
            SwapGame game(scratch.path());
            if (backedUp)
                game.backup(CheckValue::Ticked);
            game.messages.shown.clear();
            // Save copies at the root of the current drive must not be touched either.
            writeFile(game.prefix.driveC() / "save_Backup" / "save" / "Stray.d2s", "stray");
            const auto before = game.snapshot();
            FixedRegistry registry; // finds nothing
            CommandContext context = game.context(registry);
            EXPECT_THROW(run(context, game.form), GameFolderNotFound);
            EXPECT_TRUE(game.messages.shown.empty());
            EXPECT_EQ(game.snapshot(), before);
            EXPECT_TRUE(fs::exists(game.prefix.driveC() / "save_Backup" / "save" / "Stray.d2s"));
        }
}

TEST(PatchSwap, ReplaceWithoutSelectionLooksNothingUp)
{
    ScratchFolder scratch("velmoran-swap");
    SwapGame game(scratch.path());
    for (const bool found : {true, false}) {
        FixedRegistry registry;
        if (found)
            registry.value = game.prefix.gameFolderWindows();
        game.messages.shown.clear();
        game.form.list = {"d:\\Mods\\Median\\patch_d2.mpq"};
        game.form.selected = -1;
        CommandContext context = game.context(registry);
        replacePatch(context);
        EXPECT_EQ(texts(game.messages), std::vector<std::string>{"You didn't select a patch_d2"});
        EXPECT_EQ(game.layout(), Installed);
    }
}

TEST(PatchSwap, BackupWithoutAnArchiveSaysSoAndLeavesNoBackupFolder)
{
    for (const int check1 : {0, 1}) {
        ScratchFolder scratch("velmoran-swap");
        SwapGame game(scratch.path());
        fs::remove(game.game() / "patch_d2.mpq");
        const auto before = game.snapshot();
        try {
            game.backup(check1);
            ADD_FAILURE() << "Backup without an archive reported no failure";
        } catch (const OperationError& e) {
            const std::string text = e.what();
            EXPECT_NE(text.find(game.win("patch_d2.mpq")), std::string::npos) << text;
            EXPECT_NE(text.find("no patch_d2.mpq"), std::string::npos) << text;
        }
        EXPECT_TRUE(game.messages.shown.empty());
        EXPECT_EQ(game.snapshot(), before);

        // Nothing is left that would block the next Backup once the archive is back.
        writeFile(game.game() / "patch_d2.mpq", game.versions["Median"]);
        game.backup(check1);
        EXPECT_EQ(game.label(game.game() / "Backup" / "patch_d2.mpq"), "Median");
    }
}

TEST(PatchSwap, ReplaceWithTheGamesOwnArchiveLeavesItUntouched)
{
    ScratchFolder scratch("velmoran-swap");
    SwapGame game(scratch.path());
    const std::string folder = game.prefix.gameFolderWindows();
    // The search lists the file as the file system stores it; the letters' case may differ.
    for (const std::string& entry : std::vector<std::string>{
             folder + "\\patch_d2.mpq", "c:\\program files (x86)\\diablo ii\\PATCH_D2.MPQ"}) {
        SCOPED_TRACE(entry);
        const auto before = game.snapshot();
        game.messages.shown.clear();
        game.replace(entry);
        EXPECT_EQ(texts(game.messages),
                  std::vector<std::string>{" The patch_D2 has been replaced "});
        EXPECT_EQ(game.snapshot(), before);
    }
}

TEST(PatchSwap, ReplaceWithAVanishedFileTouchesNothing)
{
    for (const bool backedUp : {false, true}) {
        ScratchFolder scratch("velmoran-swap");
        SwapGame game(scratch.path());
        if (backedUp)
            game.backup();
        fs::remove(game.prefix.driveD() / "Mods" / "Median" / "patch_d2.mpq");
        const auto before = game.snapshot();
        game.messages.shown.clear();
        try {
            game.replace("Median");
            ADD_FAILURE() << "Replace of a vanished file reported no failure";
        } catch (const OperationError& e) {
            EXPECT_NE(std::string(e.what()).find("d:\\Mods\\Median\\patch_d2.mpq"),
                      std::string::npos)
                << e.what();
            EXPECT_NE(std::string(e.what()).find("no longer there"), std::string::npos) << e.what();
        }
        EXPECT_TRUE(game.messages.shown.empty());
        EXPECT_EQ(game.snapshot(), before);
    }
}

// A run cut short (a crash, a power cut) can leave an empty Backup folder. It must not make
// every later Backup and Undo stop until the user deletes it by hand.
TEST(PatchSwap, AnEmptyBackupFolderLeftByAnInterruptedRunIsNoTrap)
{
    struct Case
    {
        const char* name;
        std::function<void(SwapGame&)> prepare;
        const char* command;
        const char* layout;
        const char* message; // "" when the command fails
    };
    const auto emptyBackup = [](SwapGame& g) { fs::create_directory(g.game() / "Backup"); };
    const std::vector<Case> cases = {
        {"Backup cut short before its copy, then Backup", emptyBackup, "Backup", BackedUp,
         " Backup created !!"},
        {"Backup cut short before its copy, then Undo", emptyBackup, "Undo", Installed,
         " All changes are undone !!"},
        {"Undo cut short before the saves, then Undo",
         [](SwapGame& g) {
             g.backup(CheckValue::Ticked);
             fs::copy_file(g.game() / "Backup" / "patch_d2.mpq", g.game() / "patch_d2.mpq");
             fs::remove(g.game() / "Backup" / "patch_d2.mpq");
             writeFile(g.game() / "save" / "Sorceress.d2s", standInBytes("played", 321));
         },
         "Undo", Installed, " All changes are undone !!"},
        {"Undo cut short during the saves, then Undo",
         [](SwapGame& g) {
             g.backup(CheckValue::Ticked);
             fs::copy_file(g.game() / "Backup" / "patch_d2.mpq", g.game() / "patch_d2.mpq");
             fs::remove_all(g.game() / "Backup");
             writeFile(g.game() / "save" / "Sorceress.d2s", standInBytes("played", 321));
         },
         "Undo", Installed, " All changes are undone !!"},
        {"Backup with saves cut short before its copy, then Backup with saves",
         [](SwapGame& g) { fs::create_directories(g.game() / "save_Backup" / "save"); },
         "Backup+saves", BackedUpSaves, " Backup created !!"},
        {"Undo cut short after the saves' files, then Undo",
         [](SwapGame& g) {
             g.backup(CheckValue::Ticked);
             g.undo();
             fs::create_directories(g.game() / "save_Backup" / "save");
         },
         "Undo", Installed, " All changes are undone !!"},
        {"Undo of a Backup whose save folder was empty",
         [](SwapGame& g) {
             for (const auto& [name, bytes] : g.saves())
                 fs::rename(g.game() / "save" / name, g.game() / name);
             g.backup(CheckValue::Ticked);
             for (const auto& [name, bytes] : g.saveVersions)
                 fs::rename(g.game() / name, g.game() / "save" / name);
         },
         "Undo", Installed, " All changes are undone !!"},
        {"an empty Backup folder and no archive, then Undo",
         [](SwapGame& g) {
             fs::remove(g.game() / "patch_d2.mpq");
             fs::create_directory(g.game() / "Backup");
         },
         "Undo", "- | Backup:- | no save_Backup", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder scratch("velmoran-swap");
        SwapGame game(scratch.path());
        const auto saves = game.saves();
        c.prepare(game);
        game.messages.shown.clear();
        const auto before = game.snapshot();
        bool failed = false;
        try {
            click(game, c.command);
        } catch (const OperationError&) {
            failed = true;
        }
        EXPECT_EQ(failed, !*c.message);
        EXPECT_EQ(game.layout(), c.layout);
        if (*c.message) {
            EXPECT_EQ(texts(game.messages), std::vector<std::string>{c.message});
            EXPECT_EQ(game.saves(), saves);
        } else {
            EXPECT_TRUE(game.messages.shown.empty());
            EXPECT_EQ(game.snapshot(), before);
        }
    }
}

// Where a step fails the command stops: the steps before stay done, the error is raised.
TEST(PatchSwap, StopsWhereAStepFails)
{
    struct Case
    {
        const char* name;
        std::function<void(SwapGame&)> prepare;
        std::function<void(SwapGame&)> run;
        const char* layout;
        const char* pathInError;
    };
    const std::vector<Case> cases = {
        {"Undo with another file in Backup",
         [](SwapGame& g) {
             g.backup();
             writeFile(g.game() / "Backup" / "notes.txt", "mine");
         },
         [](SwapGame& g) { g.undo(); }, "original | Backup:- | no save_Backup", "\\Backup"},
        {"Undo with a subfolder in the save copy",
         [](SwapGame& g) {
             g.backup(CheckValue::Ticked);
             writeFile(g.game() / "save_Backup" / "save" / "Old" / "x.d2s", "old");
         },
         [](SwapGame& g) { g.undo(); }, "original | no Backup | save_Backup",
         "\\save_Backup\\save"},
        {"Backup with saves when save_Backup holds something",
         [](SwapGame& g) { writeFile(g.game() / "save_Backup" / "notes.txt", "mine"); },
         [](SwapGame& g) { g.backup(CheckValue::Ticked); }, "- | Backup:original | save_Backup",
         "\\save_Backup"},
        {"Backup with saves when there is no save folder",
         [](SwapGame& g) { fs::remove_all(g.game() / "save"); },
         [](SwapGame& g) { g.backup(CheckValue::Ticked); }, "- | Backup:original | save_Backup",
         "\\save"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder scratch("velmoran-swap");
        SwapGame game(scratch.path());
        c.prepare(game);
        game.messages.shown.clear();
        try {
            c.run(game);
            ADD_FAILURE() << "no failure reported";
        } catch (const OperationError& e) {
            EXPECT_NE(std::string(e.what()).find(game.prefix.gameFolderWindows() + c.pathInError),
                      std::string::npos)
                << e.what();
        }
        EXPECT_TRUE(game.messages.shown.empty());
        EXPECT_EQ(game.layout(), c.layout);
    }
}

// Wraps the real file layer and spoils every copy it makes in one byte, as failing storage
// would; the verification after each copy must catch it before anything is deleted.
class SpoilingFiles : public FileSystem
{
public:
    SpoilingFiles(FileSystem& real, SwapGame& game) : m_real(real), m_game(game) {}
    void copyFile(const std::string& source, const std::string& destination) override
    {
        m_real.copyFile(source, destination);
        const std::string prefix = m_game.prefix.gameFolderWindows() + "\\";
        if (destination.rfind(prefix, 0) != 0)
            return;
        std::string relative = destination.substr(prefix.size());
        for (char& c : relative)
            if (c == '\\')
                c = '/';
        std::fstream file(m_game.game() / relative,
                          std::ios::in | std::ios::out | std::ios::binary);
        file.seekg(100);
        const char byte = static_cast<char>(file.get() ^ 0x5a);
        file.seekp(100);
        file.put(byte);
    }
    void deleteFiles(const std::string& p) override { m_real.deleteFiles(p); }
    void makeFolder(const std::string& p) override { m_real.makeFolder(p); }
    void removeFolder(const std::string& p) override { m_real.removeFolder(p); }
    void setAttributes(const std::string& p, unsigned v) override { m_real.setAttributes(p, v); }
    unsigned fileAttributes(const std::string& p) override { return m_real.fileAttributes(p); }
    std::unique_ptr<Listing> findFile(const std::string& p, FindFilter f) override
    {
        return m_real.findFile(p, f);
    }
    void copyFolderTree(const std::string& s, const std::string& d) override
    {
        m_real.copyFolderTree(s, d);
    }
    void writeTextFile(const std::string& p, const std::vector<std::string>& l) override
    {
        m_real.writeTextFile(p, l);
    }
    bool sameContents(const std::string& a, const std::string& b) override
    {
        return m_real.sameContents(a, b);
    }
    void scanFolder(const std::string& f, const std::string& n, FolderScan& r) override
    {
        m_real.scanFolder(f, n, r);
    }

private:
    FileSystem& m_real;
    SwapGame& m_game;
};

TEST(PatchSwap, AVerifiedCopyComesBeforeEveryDelete)
{
    // Backup: the spoilt copy is removed again, the game's archive stays in place.
    {
        ScratchFolder scratch("velmoran-swap");
        SwapGame game(scratch.path());
        SpoilingFiles spoiling(game.files(), game);
        Platform& real = game.platform();
        Platform platform{spoiling,    real.registry,          real.starter,        real.drives,
                          real.viewer, real.applicationFolder, real.temporaryFolder};
        CommandContext context{platform, game.form, game.messages};
        try {
            backupPatch(context);
            ADD_FAILURE() << "a spoilt backup was accepted";
        } catch (const OperationError& e) {
            EXPECT_NE(std::string(e.what()).find("same bytes"), std::string::npos) << e.what();
        }
        EXPECT_EQ(game.layout(), Installed);
        EXPECT_TRUE(game.messages.shown.empty());
        game.backup(); // and a sound Backup still works afterwards
        EXPECT_EQ(game.layout(), BackedUp);
    }
    // Undo: the backup is kept, so a later Undo still restores the original.
    {
        ScratchFolder scratch("velmoran-swap");
        SwapGame game(scratch.path());
        game.backup();
        game.replace("Median");
        SpoilingFiles spoiling(game.files(), game);
        Platform& real = game.platform();
        Platform platform{spoiling,    real.registry,          real.starter,        real.drives,
                          real.viewer, real.applicationFolder, real.temporaryFolder};
        CommandContext context{platform, game.form, game.messages};
        game.messages.shown.clear();
        try {
            undoChanges(context);
            ADD_FAILURE() << "a spoilt restore was accepted";
        } catch (const OperationError& e) {
            EXPECT_NE(std::string(e.what()).find("same bytes"), std::string::npos) << e.what();
        }
        EXPECT_EQ(game.label(game.game() / "Backup" / "patch_d2.mpq"), "original");
        EXPECT_TRUE(game.messages.shown.empty());
        game.undo();
        EXPECT_EQ(game.layout(), Installed);
    }
}

} // namespace
