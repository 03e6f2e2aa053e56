// The commands as tables (start, click) -> (layout, message), each row on a sample game.
#include "core/ExcelFolders.h"
#include "core/FindCommand.h"
#include "core/OperationError.h"
#include "core/PatchSwap.h"
#include "core/WebLink.h"
#include "support/SampleGame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>
#include <utility>

using namespace velmoran;
using namespace velmoran::testing;

namespace {

struct Row
{
    std::string start, command;
    std::string layout; // SampleGame::layout() afterwards; "=" when nothing changed at all
    // The message shown, or "!<text>|...": the click fails with an error holding each <text>.
    std::string message;
};

const std::string Installed = "original | no Backup | no save_Backup";
const std::string BackedUp = "- | Backup:original hidden | no save_Backup";
const std::string Copy = " | copy: Barbarian.d2s Sorceress.d2s Sorceress.key";
const std::string Played = " | save: Amazon.d2s Barbarian.d2s Sorceress.d2s@1 Sorceress.key";
const std::string Excel = " | data: global/ global/excel/ global/excel/Storm.dll=Storm";
const std::string Started = Installed + " | started Diablo II.exe";
const char* Created = " Backup created !!";
const char* Replaced = " The patch_D2 has been replaced ";
const char* Undone = " All changes are undone !!";
const char* NotFound = "!install folder was not found";

void runRows(const std::vector<Row>& rows)
{
    for (const Row& row : rows) {
        SCOPED_TRACE(row.start + " -> " + row.command);
        ScratchFolder scratch("velmoran-command");
        SampleGame game(scratch.path());
        game.run(row.start);
        game.messages.shown.clear();
        const auto before = game.snapshot();
        const std::string layoutBefore = game.layout();
        std::string failure;
        try {
            game.run(row.command);
        } catch (const OperationError& error) {
            failure = error.what();
        }
        const bool same = row.layout == "=";
        EXPECT_EQ(game.layout(), same ? layoutBefore : row.layout);
        EXPECT_TRUE(!same || game.snapshot() == before) << "the game folder changed";
        const bool fails = row.message.starts_with("!");
        EXPECT_EQ(game.messages.shown,
                  (fails || row.message.empty()
                       ? std::vector<ShownMessage>{}
                       : std::vector<ShownMessage>{{row.message, "Velmoran"}}));
        EXPECT_TRUE(fails || failure.empty()) << failure;
        std::istringstream parts(fails ? row.message.substr(1) : "");
        for (std::string part; std::getline(parts, part, '|');) {
            part = part.starts_with("\\")     ? game.prefix.gameFolderWindows() + part
                   : part.starts_with("mod:") ? game.mod(part.substr(4))
                                              : part;
            EXPECT_NE(failure.find(part), std::string::npos)
                << "the failure \"" << failure << "\" does not name " << part;
        }
    }
}

TEST(CommandTables, BackupAndReplace)
{
    runRows({
        {"Check1=2", "Backup", BackedUp, Created}, // greyed is not ticked
        {"", "Replace GAME", "=", Replaced},       // the game's own archive, in other capitals
        {"", "Replace nothing", "=", NothingSelectedMessage},
        // A backup exists: a second Backup stops at once.
        {"Backup", "Backup+saves", "=", "!\\Backup"},
        {"no game", "Backup+saves", "=", NotFound},
        // Where a step fails the command stops there; no backup folder is left behind.
        {"rm patch_d2.mpq", "Backup+saves", "=", "!\\patch_d2.mpq|nothing to back up"},
        {"Backup; rmmod Median", "Replace Median", "=", "!mod:Median"},
        {"write save_Backup/notes.txt", "Backup+saves", "- | Backup:original | save_Backup",
         "!\\save_Backup"},
        {"rm save", "Backup+saves", "- | Backup:original | save_Backup | save: none", "!\\save"},
        // A run cut short may leave empty folders behind: the next Backup gets past them.
        {"mkdir Backup", "Backup", BackedUp, Created},
    });
}

TEST(CommandTables, Undo)
{
    runRows({
        {"Backup+saves; no game", "Undo", "=", NotFound},
        // Nothing backed up: Undo stops before it changes anything, and names a save copy.
        {"Replace Median", "Undo", "=", "!\\Backup\\patch_d2.mpq"},
        {"mkdir Backup", "Undo", "=", "!\\Backup\\patch_d2.mpq|changed nothing"},
        {"Backup+saves; cp Backup/patch_d2.mpq patch_d2.mpq; rm Backup; play", "Undo", "=",
         "!\\save_Backup\\save|by hand"},
        {"Backup; write Backup/notes.txt", "Undo", "original | Backup:- | no save_Backup",
         "!\\Backup"},
        {"Backup+saves; write save_Backup/save/Old/x.d2s", "Undo",
         "original | no Backup | save_Backup", "!\\save_Backup\\save"},
        // A save copy without ordinary files stays; the archive is still restored.
        {"Backup+saves; hide save_Backup/save/Barbarian.d2s; hide save_Backup/save/Sorceress.d2s; "
         "hide save_Backup/save/Sorceress.key; play",
         "Undo", "original | no Backup | save_Backup" + Played + Copy, Undone},
        {"mv save aside; mkdir save; Backup+saves; rm save; mv aside save", "Undo", Installed,
         Undone},
    });
}

// Random runs of the swap commands and play, each step checked against a model of the game
// folder: which archive is where, the saves and their copy, and which click fails.
TEST(CommandTables, RandomRunsLoseNeitherTheArchivesNorTheSaves)
{
    const char* steps[] = {"Backup", "Backup+saves", "Replace Median", "Replace Zy-El", "Undo",
                           "Undo",   "play"};
    std::mt19937 random(2312);
    for (int run = 0; run < 10; ++run) {
        ScratchFolder scratch("velmoran-runs");
        SampleGame game(scratch.path());
        std::string archive = "original", backup = "-", history;
        std::map<std::string, std::string> saves = game.saves(), copy;
        bool ticked = false;
        for (int n = 0; n < 10; ++n) {
            const std::string step = steps[random() % std::size(steps)];
            history += step + "; ";
            SCOPED_TRACE(history);
            bool failed = false;
            try {
                game.run(step);
            } catch (const OperationError&) {
                failed = true;
            }
            bool fails = false;
            ticked = ticked || step == "Backup+saves";
            if (step.starts_with("Backup") && !(fails = backup != "-")) {
                backup = std::exchange(archive, "-");
                if (ticked)
                    copy = saves;
            } else if (step.starts_with("Replace")) {
                archive = step.substr(8);
            } else if (step == "Undo" && !(fails = backup == "-")) {
                archive = std::exchange(backup, "-");
                for (const auto& [name, bytes] : std::exchange(copy, {}))
                    saves[name] = bytes;
            } else if (step == "play") {
                saves = game.saves();
            }
            EXPECT_EQ(failed, fails);
            const char* message = fails || step == "play"    ? nullptr
                                  : step.starts_with("Back") ? Created
                                  : step == "Undo"           ? Undone
                                                             : Replaced;
            EXPECT_EQ(game.messages.shown,
                      (message ? std::vector<ShownMessage>{{message, "Velmoran"}}
                               : std::vector<ShownMessage>{}));
            game.messages.shown.clear();
            EXPECT_EQ(game.label(game.game() / "patch_d2.mpq"), archive);
            EXPECT_EQ(game.label(game.game() / "Backup" / "patch_d2.mpq"), backup);
            EXPECT_EQ(game.layout().find(" hidden |") != std::string::npos, backup != "-");
            EXPECT_EQ(fs::exists(game.game() / "Backup"), backup != "-");
            EXPECT_EQ(game.saves(), saves);
            EXPECT_EQ(game.saves("save_Backup/save"), copy);
            EXPECT_EQ(fs::exists(game.game() / "save_Backup"), !copy.empty());
        }
    }
}

TEST(CommandTables, ExcelFoldersAndLaunch)
{
    const std::string binFiles = "Create; write data/global/excel/armor.bin; write "
                                 "data/global/excel/Weapons.BIN; write data/global/excel/noext";
    runRows({
        {"", "Create", Installed + Excel, ExcelCreatedMessage},
        {"mv Storm.dll STORM.DLL", "Create", Installed + Excel, ExcelCreatedMessage},
        {"mkdir data", "Create", "=", "!\\data"},
        {"rm Storm.dll", "Create", Installed + " | data: global/ global/excel/", "!\\Storm.dll"},
        {binFiles, "Delete", Installed, ExcelDeletedMessage},
        {"", "Delete", "=", "!\\data\\global\\excel\\*.*"},
        {(binFiles + "; mkdir data/global/excel/old"), "Delete",
         Installed + " | data: global/ global/excel/ global/excel/old/", "!\\data\\global\\excel"},
        {(binFiles + "; write data/local/lng/eng.tbl"), "Delete",
         Installed + " | data: local/ local/lng/ local/lng/eng.tbl", "!\\data"},
        // Launch: greyed is not ticked.
        {"Check2=1; Check3=2; Check4=1", "Launch", Started + " -w -direct | minimized", ""},
        {"Check2=2; Check3=1; Check4=2", "Launch", Started + " -txt | minimized", ""},
        {"no game", "Launch", "=", NotFound},
    });
}

#ifndef _WIN32 // the drives of the sample prefix are Wine's drive letters
TEST(CommandTables, Find)
{
    const std::string e = " | List1: e:\\Downloads\\Zy-El\\patch_d2.mpq | caption \" Velmoran \"";
    runRows({
        {"drive d:; Find; drive e:", "Find", Installed + e, ""}, // the earlier list goes
        {"drive d:; rmmod Median; rmmod Eastern Sun", "Find",
         Installed + " | caption \" Velmoran \"", NothingFoundMessage},
    });
}
#endif

// As across two file systems: nothing is moved, every archive is copied; with `spoil`, every
// copy is spoilt in one byte, as failing storage would.
struct CopyingFiles : ForwardingFiles
{
    CopyingFiles(SampleGame& game, bool spoil)
        : ForwardingFiles(game.files()), game(game), spoil(spoil)
    {
    }
    void copyFile(const std::string& source, const std::string& destination) override
    {
        real.copyFile(source, destination);
        std::string relative = destination.substr(game.win("").size());
        std::replace(relative.begin(), relative.end(), '\\', '/');
        std::fstream file(game.game() / relative, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(100);
        if (spoil)
            file.put('\x5a');
    }
    bool moveFile(const std::string&, const std::string&) override { return false; }
    SampleGame& game;
    bool spoil;
};

// A spoilt copy is caught before anything is deleted; a sound one lets the original go.
TEST(CommandTables, AcrossFileSystemsAVerifiedCopyComesBeforeEveryDelete)
{
    for (const bool spoil : {true, false})
        for (const char* start : {"", "Backup; Replace Median"}) {
            SCOPED_TRACE(std::string(start) + (spoil ? " spoilt" : ""));
            ScratchFolder scratch("velmoran-copied");
            SampleGame game(scratch.path());
            game.run(start);
            CopyingFiles copying(game, spoil);
            CommandContext context{game.services.with(&game.registry, nullptr, &copying), game.form,
                                   game.messages};
            game.messages.shown.clear();
            const auto command = [&] { *start ? undoChanges(context) : backupPatch(context); };
            if (spoil) {
                EXPECT_THROW(command(), OperationError);
                EXPECT_TRUE(game.messages.shown.empty());
                EXPECT_EQ(
                    game.label(game.game() / (*start ? "Backup/patch_d2.mpq" : "patch_d2.mpq")),
                    "original");
                game.run(*start ? "Undo" : "Backup"); // a sound run afterwards
            } else {
                EXPECT_NO_THROW(command());
            }
            EXPECT_EQ(game.layout(), *start ? Installed : BackedUp);
        }
}

// The shortcut goes to the program's folder, else the temporary folder, else the link fails.
TEST(CommandTables, TheLinkHandsTheViewerAWholeShortcut)
{
    struct Viewer : UrlViewer
    {
        void openShortcut(const std::string& file, const std::string& address) override
        {
            std::string path = file;
            std::replace(path.begin(), path.end(), '\\', '/');
            seen.push_back(file + " " + address + "\n" + readFile(path));
        }
        std::vector<std::string> seen;
    } viewer;
    ScratchFolder scratch("velmoran-link");
    SampleGame game(scratch / "game");
    const std::string app = (scratch / "app").string(), temp = (scratch / "temp").string();
    for (const std::string& folder : {app, temp})
        std::filesystem::create_directories(folder);
    Platform& real = game.platform();
    Platform platform{real.files, real.registry, real.starter, real.drives, viewer, app, temp};
    CommandContext context{platform, game.form, game.messages};
    game.form.url = "velmoran.example.org/?a=b&c=d";
    for (const std::string& folder : {app, temp}) {
        openWebsite(context);
        EXPECT_EQ(viewer.seen.back(), folder + "\\TEMP.URL " + game.form.url +
                                          "\n[InternetShortcut]\r\nURL=" + game.form.url + "\r\n");
        std::filesystem::remove_all(folder);
    }
    EXPECT_TRUE(failsWith([&] { openWebsite(context); }, {temp}));
    EXPECT_EQ(viewer.seen.size(), 2u);
    EXPECT_TRUE(game.messages.shown.empty());
}

} // namespace
