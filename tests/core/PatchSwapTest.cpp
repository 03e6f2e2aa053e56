#include "core/PatchSwap.h"
#include "core/OperationError.h"
#include "core/PatchSearch.h"
#include "swap/SwapGame.h"

#include <gtest/gtest.h>

#include <algorithm>
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

using Texts = std::vector<std::string>;

// `run` must raise an OperationError whose text holds every one of `parts`.
void expectFailure(const std::function<void()>& run, const std::vector<std::string>& parts)
{
    try {
        run();
        ADD_FAILURE() << "no failure reported";
    } catch (const OperationError& e) {
        for (const std::string& part : parts)
            EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
    }
}

// One click and what the game folder and the message box show afterwards.
struct Step
{
    const char* command; // "Backup", "Backup+saves", "Replace <label>", "Replace nothing", "Undo"
    const char* layout;  // SwapGame::layout() afterwards
    const char* message; // the one message shown, or "" when the click raises an OperationError
};

// Sets Form1 up for the command and runs it; the lookup goes to `registry` when one is given.
void click(SwapGame& game, const std::string& command, RegistryReader* registry = nullptr)
{
    CommandContext c = registry ? game.context(*registry) : game.context();
    if (command == "Backup" || command == "Backup+saves") {
        game.form.checks[0] = command == "Backup" ? CheckValue::Unticked : CheckValue::Ticked;
        backupPatch(c);
    } else if (command == "Undo") {
        undoChanges(c);
    } else if (command.rfind("Replace ", 0) == 0) {
        if (command == "Replace nothing")
            game.form.selected = -1; // List1 as it is, nothing selected in it
        else
            game.select(command.substr(8));
        replacePatch(c);
    } else {
        FAIL() << "unknown command " << command;
    }
}

constexpr const char* Installed = "original | no Backup | no save_Backup";
constexpr const char* BackedUp = "- | Backup:original hidden | no save_Backup";
constexpr const char* BackedUpSaves = "- | Backup:original hidden | save_Backup";
constexpr const char* Created = " Backup created !!";
constexpr const char* Replaced = " The patch_D2 has been replaced ";
constexpr const char* Undone = " All changes are undone !!";
constexpr const char* NoSelection = "You didn't select a patch_d2";

TEST(PatchSwap, FollowsTheStateTable)
{
    const char* median = "Median | Backup:original hidden | no save_Backup";
    const std::vector<std::vector<Step>> scenarios = {
        // The whole swap: Backup once, Replace as often as wanted, Undo once.
        {{"Backup", BackedUp, Created},
         {"Replace Median", median, Replaced},
         {"Replace Zy-El", "Zy-El | Backup:original hidden | no save_Backup", Replaced},
         {"Replace Eastern Sun", "Eastern Sun | Backup:original hidden | no save_Backup", Replaced},
         {"Undo", Installed, Undone}},
        // Undo straight after Backup.
        {{"Backup+saves", BackedUpSaves, Created}, {"Undo", Installed, Undone}},
        // Backup twice: the second stops at the existing backup folder, nothing changes.
        {{"Backup", BackedUp, Created},
         {"Backup", BackedUp, ""},
         {"Backup+saves", BackedUp, ""},
         {"Undo", Installed, Undone}},
        // Backup twice from the Replaced state.
        {{"Backup", BackedUp, Created},
         {"Replace Median", median, Replaced},
         {"Backup", median, ""},
         {"Undo", Installed, Undone}},
        // Undo with nothing backed up stops before touching anything.
        {{"Undo", Installed, ""}},
        // Replace without Backup overwrites the game's archive; Undo then finds no backup.
        {{"Replace Median", "Median | no Backup | no save_Backup", Replaced},
         {"Undo", "Median | no Backup | no save_Backup", ""}},
        // No selection: the message and nothing else, installed or backed up.
        {{"Replace nothing", Installed, NoSelection},
         {"Backup", BackedUp, Created},
         {"Replace nothing", BackedUp, NoSelection}},
        // The swap can be run again after an Undo.
        {{"Backup", BackedUp, Created},
         {"Undo", Installed, Undone},
         {"Backup+saves", BackedUpSaves, Created},
         {"Replace Zy-El", "Zy-El | Backup:original hidden | save_Backup", Replaced},
         {"Undo", Installed, Undone}},
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
            if (*step.message) {
                EXPECT_NO_THROW(click(game, step.command));
            } else { // the error names a path of the game folder
                expectFailure([&] { click(game, step.command); },
                              {game.prefix.gameFolderWindows()});
            }
            EXPECT_EQ(game.layout(), step.layout);
            EXPECT_EQ(texts(game.messages), *step.message ? Texts{step.message} : Texts{});
            if (!*step.message || std::string(step.message) == NoSelection) {
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
        EXPECT_EQ(texts(game.messages), Texts{Created});
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
    EXPECT_EQ(texts(game.messages), Texts{Undone});
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
        EXPECT_EQ(texts(game.messages), Texts{Undone});
        EXPECT_EQ(game.label(game.game() / "patch_d2.mpq"), "original");
        EXPECT_FALSE(fs::exists(game.game() / "Backup"));
        EXPECT_EQ(game.saves(), saves) << "the save folder was touched";
        const auto after = game.snapshot();
        for (const auto& [path, value] : copy)
            if (path.rfind("save_Backup", 0) == 0) {
                EXPECT_EQ(after.count(path) ? after.at(path) : "(gone)", value) << path;
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
    EXPECT_EQ(watcher.searched, Texts{game.win("Backup\\patch_d2.mpq")});
    EXPECT_TRUE(searchGameFolder(game).empty());

    // Undo clears the attribute before its copy: the restored archive is not hidden.
    game.undo();
    EXPECT_EQ(game.files().fileAttributes(game.win("patch_d2.mpq")) & Attribute::Hidden, 0u);
    EXPECT_EQ(searchGameFolder(game), Texts{game.win("patch_d2.mpq")});
}

TEST(PatchSwap, AFailedLookupEndsEveryCommandBeforeAnyStep)
{
    for (const bool backedUp : {false, true})
        for (const char* command : {"Backup", "Backup+saves", "Undo", "Replace Median"}) {
            SCOPED_TRACE(std::string(command) + (backedUp ? " (backed up)" : " (installed)"));
            ScratchFolder scratch("velmoran-swap");
            SwapGame game(scratch.path());
            if (backedUp)
                game.backup(CheckValue::Ticked);
            game.messages.shown.clear();
            // Save copies at the root of the current drive must not be touched either.
            writeFile(game.prefix.driveC() / "save_Backup" / "save" / "Stray.d2s", "stray");
            const auto before = game.snapshot();
            FixedRegistry registry; // finds nothing
            EXPECT_THROW(click(game, command, &registry), GameFolderNotFound);
            EXPECT_TRUE(game.messages.shown.empty());
            EXPECT_EQ(game.snapshot(), before);
            EXPECT_TRUE(fs::exists(game.prefix.driveC() / "save_Backup" / "save" / "Stray.d2s"));
        }
}

// Without a selection there is nothing to look up: the message, even with no game folder.
TEST(PatchSwap, ReplaceWithoutSelectionLooksNothingUp)
{
    ScratchFolder scratch("velmoran-swap");
    SwapGame game(scratch.path());
    FixedRegistry registry; // finds nothing
    game.select("Median");  // a list, but nothing selected in it
    click(game, "Replace nothing", &registry);
    EXPECT_EQ(texts(game.messages), Texts{NoSelection});
    EXPECT_EQ(game.layout(), Installed);
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
        EXPECT_EQ(texts(game.messages), Texts{Replaced});
        EXPECT_EQ(game.snapshot(), before);
    }
}

// One command on a game that `prepare` left in some state. It ends showing `message`, or fails
// ("") showing none, with an error naming `path` ("\\..." is in the game folder) and `reason`.
// Afterwards the game shows `layout`, or when that is nullptr, is untouched.
struct Case
{
    const char* name;
    std::function<void(SwapGame&)> prepare;
    const char* command;
    const char* layout;
    const char* message;
    const char* path = "";
    const char* reason = "";
};

void run(const std::vector<Case>& cases)
{
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder scratch("velmoran-swap");
        SwapGame game(scratch.path());
        const auto saves = game.saves();
        c.prepare(game);
        game.messages.shown.clear();
        const auto before = game.snapshot();
        if (*c.message) {
            EXPECT_NO_THROW(click(game, c.command));
            EXPECT_EQ(texts(game.messages), Texts{c.message});
            EXPECT_EQ(game.saves(), saves);
        } else {
            const std::string path =
                (*c.path == '\\' ? game.prefix.gameFolderWindows() : "") + c.path;
            expectFailure([&] { click(game, c.command); }, {path, c.reason});
            EXPECT_TRUE(game.messages.shown.empty());
        }
        if (c.layout) {
            EXPECT_EQ(game.layout(), c.layout);
        } else {
            EXPECT_EQ(game.snapshot(), before);
        }
        if (std::string(c.reason) == "no patch_d2.mpq") {
            // Nothing is left that would block the next Backup once the archive is back.
            writeFile(game.game() / "patch_d2.mpq", game.versions["Median"]);
            click(game, c.command);
            EXPECT_EQ(game.label(game.game() / "Backup" / "patch_d2.mpq"), "Median");
        }
    }
}

// A run cut short (a crash, a power cut) can leave an empty Backup folder: the next Backup
// gets past it. Undo with nothing backed up changes nothing, least of all newer saves with
// an old copy of them; the error names the copy, for the player to take by hand.
TEST(PatchSwap, AnEmptyBackupFolderLeftByAnInterruptedRunIsNoTrap)
{
    const auto emptyBackup = [](SwapGame& g) { fs::create_directory(g.game() / "Backup"); };
    // Backup with saves, then an Undo that restored the archive and stopped with or without
    // the Backup folder left; the game was played in between.
    const auto undoCutShort = [](bool keepBackupFolder) {
        return [keepBackupFolder](SwapGame& g) {
            g.backup(CheckValue::Ticked);
            fs::copy_file(g.game() / "Backup" / "patch_d2.mpq", g.game() / "patch_d2.mpq");
            keepBackupFolder ? fs::remove(g.game() / "Backup" / "patch_d2.mpq")
                             : fs::remove_all(g.game() / "Backup");
            writeFile(g.game() / "save" / "Sorceress.d2s", standInBytes("played", 321));
        };
    };
    run({
        {"Backup cut short before its copy, then Backup", emptyBackup, "Backup", BackedUp, Created},
        {"Backup cut short before its copy, then Undo", emptyBackup, "Undo", nullptr, "",
         "\\Backup\\patch_d2.mpq", "changed nothing"},
        {"Undo cut short before the saves, then Undo", undoCutShort(true), "Undo", nullptr, "",
         "\\save_Backup\\save", "by hand"},
        {"Undo cut short during the saves, then Undo", undoCutShort(false), "Undo", nullptr, "",
         "\\save_Backup\\save", "by hand"},
        {"Backup with saves cut short before its copy, then Backup with saves",
         [](SwapGame& g) { fs::create_directories(g.game() / "save_Backup" / "save"); },
         "Backup+saves", BackedUpSaves, Created},
        {"Undo cut short after the saves' files, then Undo",
         [](SwapGame& g) {
             g.backup(CheckValue::Ticked);
             g.undo();
             fs::create_directories(g.game() / "save_Backup" / "save");
         },
         "Undo", nullptr, "", "\\save_Backup\\save"},
        {"Undo of a Backup whose save folder was empty",
         [](SwapGame& g) {
             for (const auto& [name, bytes] : g.saves())
                 fs::rename(g.game() / "save" / name, g.game() / name);
             g.backup(CheckValue::Ticked);
             for (const auto& [name, bytes] : g.saveVersions)
                 fs::rename(g.game() / name, g.game() / "save" / name);
         },
         "Undo", Installed, Undone},
        {"an empty Backup folder and no archive, then Undo",
         [](SwapGame& g) {
             fs::remove(g.game() / "patch_d2.mpq");
             fs::create_directory(g.game() / "Backup");
         },
         "Undo", nullptr, "", "\\Backup\\patch_d2.mpq"},
    });
}

// Where a step fails the command stops: the steps before stay done, the error is raised.
TEST(PatchSwap, StopsWhereAStepFails)
{
    const auto noArchive = [](SwapGame& g) { fs::remove(g.game() / "patch_d2.mpq"); };
    const auto vanished = [](SwapGame& g) {
        fs::remove(g.prefix.driveD() / "Mods" / "Median" / "patch_d2.mpq");
    };
    const char* median = "d:\\Mods\\Median\\patch_d2.mpq";
    run({
        {"Backup without an archive", noArchive, "Backup", nullptr, "", "\\patch_d2.mpq",
         "no patch_d2.mpq"},
        {"Backup with saves without an archive", noArchive, "Backup+saves", nullptr, "",
         "\\patch_d2.mpq", "no patch_d2.mpq"},
        {"Replace with a vanished file", vanished, "Replace Median", nullptr, "", median,
         "no longer there"},
        {"Replace with a vanished file after Backup",
         [&](SwapGame& g) {
             g.backup();
             vanished(g);
         },
         "Replace Median", nullptr, "", median, "no longer there"},
        {"Undo with another file in Backup",
         [](SwapGame& g) {
             g.backup();
             writeFile(g.game() / "Backup" / "notes.txt", "mine");
         },
         "Undo", "original | Backup:- | no save_Backup", "", "\\Backup"},
        {"Undo with a subfolder in the save copy",
         [](SwapGame& g) {
             g.backup(CheckValue::Ticked);
             writeFile(g.game() / "save_Backup" / "save" / "Old" / "x.d2s", "old");
         },
         "Undo", "original | no Backup | save_Backup", "", "\\save_Backup\\save"},
        {"Backup with saves when save_Backup holds something",
         [](SwapGame& g) { writeFile(g.game() / "save_Backup" / "notes.txt", "mine"); },
         "Backup+saves", "- | Backup:original | save_Backup", "", "\\save_Backup"},
        {"Backup with saves when there is no save folder",
         [](SwapGame& g) { fs::remove_all(g.game() / "save"); }, "Backup+saves",
         "- | Backup:original | save_Backup", "", "\\save"},
    });
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
        std::replace(relative.begin(), relative.end(), '\\', '/');
        std::fstream file(m_game.game() / relative,
                          std::ios::in | std::ios::out | std::ios::binary);
        file.seekg(100);
        const char byte = static_cast<char>(file.get() ^ 0x5a);
        file.seekp(100);
        file.put(byte);
    }
    // As across two file systems: nothing is moved, every archive is copied.
    bool moveFile(const std::string&, const std::string&) override { return false; }
    // clang-format off
    void deleteFiles(const std::string& p) override { m_real.deleteFiles(p); }
    void makeFolder(const std::string& p) override { m_real.makeFolder(p); }
    void removeFolder(const std::string& p) override { m_real.removeFolder(p); }
    void setAttributes(const std::string& p, unsigned v) override { m_real.setAttributes(p, v); }
    unsigned fileAttributes(const std::string& p) override { return m_real.fileAttributes(p); }
    std::unique_ptr<Listing> findFile(const std::string& p, FindFilter f) override { return m_real.findFile(p, f); }
    void copyFolderTree(const std::string& s, const std::string& d) override { m_real.copyFolderTree(s, d); }
    void writeTextFile(const std::string& p, const std::vector<std::string>& l) override { m_real.writeTextFile(p, l); }
    bool sameContents(const std::string& a, const std::string& b) override { return m_real.sameContents(a, b); }
    void scanFolder(const std::string& f, const std::string& n, FolderScan& r) override { m_real.scanFolder(f, n, r); }
    // clang-format on

private:
    FileSystem& m_real;
    SwapGame& m_game;
};

// Backup: the spoilt copy is removed again and the game's archive stays in place. Undo: the
// backup is kept, so a later Undo still restores the original. A sound run works afterwards.
TEST(PatchSwap, AVerifiedCopyComesBeforeEveryDelete)
{
    for (const bool undo : {false, true}) {
        SCOPED_TRACE(undo ? "Undo" : "Backup");
        ScratchFolder scratch("velmoran-swap");
        SwapGame game(scratch.path());
        if (undo) {
            game.backup();
            game.replace("Median");
            game.messages.shown.clear();
        }
        SpoilingFiles spoiling(game.files(), game);
        Platform& real = game.platform();
        Platform platform{spoiling,    real.registry,          real.starter,        real.drives,
                          real.viewer, real.applicationFolder, real.temporaryFolder};
        CommandContext context{platform, game.form, game.messages};
        expectFailure([&] { undo ? undoChanges(context) : backupPatch(context); }, {"same bytes"});
        EXPECT_TRUE(game.messages.shown.empty());
        if (undo) {
            EXPECT_EQ(game.label(game.game() / "Backup" / "patch_d2.mpq"), "original");
            game.undo();
        } else {
            EXPECT_EQ(game.layout(), Installed);
            game.backup();
        }
        EXPECT_EQ(game.layout(), undo ? Installed : BackedUp);
    }
}

} // namespace
