// The commands as tables: (starting layout, control values, command) -> (layout after,
// message shown), each row on a sample game of its own, through this platform's real layer.
#include "core/ExcelFolders.h"
#include "core/FindCommand.h"
#include "core/OperationError.h"
#include "core/PatchSwap.h"
#include "core/WebLink.h"
#include "support/SampleGame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

using namespace velmoran;
using namespace velmoran::testing;

namespace {

struct Row
{
    std::string start;   // steps that bring the game to the starting layout, and control values
    std::string command; // the click
    std::string layout;  // SampleGame::layout() afterwards; "=" when nothing changed at all
    // The one message shown; "" none; "!<text>|...": the click fails, showing nothing, with
    // an error that holds each <text> ("\..." in the game folder, "mod:<label>" a mod archive).
    std::string message;
};

const std::string Installed = "original | no Backup | no save_Backup";
const std::string BackedUp = "- | Backup:original hidden | no save_Backup";
const std::string Copy = " | copy: Barbarian.d2s Sorceress.d2s Sorceress.key";
const std::string BackedUpSaves = "- | Backup:original hidden | save_Backup" + Copy;
const std::string Played = " | save: Amazon.d2s Barbarian.d2s Sorceress.d2s@1 Sorceress.key";
// The copy over what was played.
const std::string Merged = " | save: Amazon.d2s Barbarian.d2s Sorceress.d2s Sorceress.key";
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
        const std::string& expected = row.message;
        const bool fails = expected.starts_with("!");
        std::vector<ShownMessage> shown;
        if (!expected.empty() && !fails)
            shown.push_back({expected, "Velmoran"});
        EXPECT_EQ(game.messages.shown, shown);
        EXPECT_TRUE(fails || failure.empty()) << failure;
        std::istringstream parts(fails ? expected.substr(1) : "");
        for (std::string part; std::getline(parts, part, '|');) {
            part = part.starts_with("\\")     ? game.prefix.gameFolderWindows() + part
                   : part.starts_with("mod:") ? game.mod(part.substr(4))
                                              : part;
            EXPECT_NE(failure.find(part), std::string::npos)
                << "the failure \"" << failure << "\" does not name " << part;
        }
    }
}

TEST(CommandTables, EachClickLeavesItsLayoutAndMessage)
{
    const std::string binFiles = "Create; write data/global/excel/armor.bin; write "
                                 "data/global/excel/Weapons.BIN; write data/global/excel/noext";
    runRows({
        {"", "Backup", BackedUp, Created},
        {"", "Backup+saves", BackedUpSaves, Created},
        {"Check1=2", "Backup", BackedUp, Created}, // greyed is not ticked
        {"Backup", "Replace Median", "Median | Backup:original hidden | no save_Backup", Replaced},
        {"Backup+saves; Replace Zy-El", "Replace Eastern Sun",
         "Eastern Sun | Backup:original hidden | save_Backup" + Copy, Replaced},
        {"", "Replace Median", "Median | no Backup | no save_Backup", Replaced},
        {"", "Replace GAME", "=", Replaced}, // the game's own archive, in other capitals
        {"", "Replace nothing", "=", NothingSelectedMessage},
        {"Backup+saves; Replace Median; play", "Undo", Installed + Merged, Undone},
        {"Backup; Undo; Backup+saves; Replace Zy-El", "Undo", Installed, Undone},
        // A backup exists: a second Backup stops at once.
        {"Backup", "Backup+saves", "=", "!\\Backup"},
        {"Backup; Replace Median", "Backup", "=", "!\\Backup"},
        // Nothing backed up: Undo stops before it changes anything.
        {"Replace Median", "Undo", "=", "!\\Backup\\patch_d2.mpq"},
        // No game folder: every command stops before its first step.
        {"no game", "Backup+saves", "=", NotFound},
        {"Backup+saves; no game", "Undo", "=", NotFound},
        {"Backup; no game", "Replace Median", "=", NotFound},
        // Where a step fails the command stops there; no backup folder is left behind.
        {"rm patch_d2.mpq", "Backup+saves", "=", "!\\patch_d2.mpq"},
        {"Backup; rmmod Median", "Replace Median", "=", "!mod:Median"},
        {"Backup; write Backup/notes.txt", "Undo", "original | Backup:- | no save_Backup",
         "!\\Backup"},
        {"Backup+saves; write save_Backup/save/Old/x.d2s", "Undo",
         "original | no Backup | save_Backup", "!\\save_Backup\\save"},
        {"write save_Backup/notes.txt", "Backup+saves", "- | Backup:original | save_Backup",
         "!\\save_Backup"},
        {"rm save", "Backup+saves", "- | Backup:original | save_Backup | save: none", "!\\save"},
        // A save copy without ordinary files stays; the archive is still restored.
        {"Backup+saves; hide save_Backup\\save\\Barbarian.d2s; hide "
         "save_Backup\\save\\Sorceress.d2s; "
         "hide save_Backup\\save\\Sorceress.key; play",
         "Undo", "original | no Backup | save_Backup" + Played + Copy, Undone},
        {"Backup+saves; rm save_Backup/save; write save_Backup/save/Old/Paladin.d2s; play", "Undo",
         "original | no Backup | save_Backup" + Played, Undone},
        // A run cut short may leave empty folders behind: the next Backup gets past them.
        // Undo with nothing backed up changes nothing, least of all newer saves with an old
        // copy of them; the error names the copy, for the player to take by hand.
        {"mkdir Backup", "Backup", BackedUp, Created},
        {"mkdir Backup", "Undo", "=", "!\\Backup\\patch_d2.mpq|changed nothing"},
        {"mkdir save_Backup/save", "Backup+saves", BackedUpSaves, Created},
        {"Backup+saves; cp Backup/patch_d2.mpq patch_d2.mpq; rm Backup; play", "Undo", "=",
         "!\\save_Backup\\save|by hand"},
        {"mv save aside; mkdir save; Backup+saves; rm save; mv aside save", "Undo", Installed,
         Undone},
        // The excel folders.
        {"", "Create", Installed + Excel, ExcelCreatedMessage},
        {"mv Storm.dll STORM.DLL", "Create", Installed + Excel, ExcelCreatedMessage},
        {"mkdir data", "Create", "=", "!\\data"},
        {"rm Storm.dll", "Create", Installed + " | data: global/ global/excel/", "!\\Storm.dll"},
        {"no game", "Create", "=", NotFound},
        {binFiles, "Delete", Installed, ExcelDeletedMessage},
        {"", "Delete", "=", "!\\data\\global\\excel\\*.*"},
        {(binFiles + "; mkdir data/global/excel/old"), "Delete",
         Installed + " | data: global/ global/excel/ global/excel/old/", "!\\data\\global\\excel"},
        {(binFiles + "; mkdir data/global/ui"), "Delete", Installed + " | data: global/ global/ui/",
         "!\\data\\global"},
        {(binFiles + "; write data/local/lng/eng.tbl"), "Delete",
         Installed + " | data: local/ local/lng/ local/lng/eng.tbl", "!\\data"},
        {"Create; no game", "Delete", "=", NotFound},
        // Launch: greyed is not ticked.
        {"Check2=1; Check3=1; Check4=1", "Launch", Started + " -w -txt -direct | minimized", ""},
        {"Check1=1; Check2=1; Check3=2; Check4=1", "Launch", Started + " -w -direct | minimized",
         ""},
        {"Check2=2; Check3=1; Check4=2", "Launch", Started + " -txt | minimized", ""},
        {"no game", "Launch", "=", NotFound},
    });
}

#ifndef _WIN32 // the drives of the sample prefix are Wine's drive letters
TEST(CommandTables, Find)
{
    const std::string d =
        " | List1: d:\\Mods\\Eastern Sun\\PATCH_D2.MPQ d:\\Mods\\Median\\patch_d2.mpq";
    const std::string e = " | List1: e:\\Downloads\\Zy-El\\patch_d2.mpq | caption \" Velmoran \"";
    runRows({
        {"drive d:", "Find", Installed + d + " | caption \"2\"", ""}, // the count stays
        {"drive d:; Find; drive e:", "Find", Installed + e, ""},      // the earlier list goes
        {"drive d:; rmmod Median; rmmod Eastern Sun", "Find",
         Installed + " | caption \" Velmoran \"", NothingFoundMessage},
    });
}
#endif

// Every click asks for the game folder afresh, and only as often as it needs it.
TEST(CommandTables, EveryClickLooksTheGameFolderUpAfresh)
{
    const std::pair<const char*, int> rows[] = {
        {"Backup", 1},         {"Backup+saves", 2},    {"Backup+saves; Undo", 4},
        {"Replace Median", 1}, {"Replace nothing", 0}, {"Create; Delete", 2},
        {"Launch", 1}};
    for (const auto& [commands, lookups] : rows) {
        ScratchFolder scratch("velmoran-lookups");
        SampleGame game(scratch.path());
        game.run(commands);
        EXPECT_EQ(game.registry.lookups, lookups) << commands;
    }
}

// Backup shows its message while the backup can still be seen, and hides it afterwards,
// with no attribute but hidden, even from a read-only archive.
TEST(CommandTables, BackupHidesTheArchiveOnlyOnceTheMessageIsClosed)
{
    ScratchFolder scratch("velmoran-hidden");
    SampleGame game(scratch.path());
#ifndef _WIN32 // a read-only archive, as Wine keeps one (Windows refuses to delete it)
    std::filesystem::permissions(game.game() / "patch_d2.mpq", std::filesystem::perms::owner_read,
                                 std::filesystem::perm_options::replace);
#endif
    struct Watcher : UserMessages
    {
        SampleGame* game;
        std::vector<std::string> seen;
        void showMessage(const std::string&, const std::string&) override
        {
            seen.push_back(
                findFirst(game->files(), game->win("Backup\\*.*"), FindFilter::Ordinary));
        }
    } watcher;
    watcher.game = &game;
    CommandContext context{game.platform(), game.form, watcher};
    backupPatch(context);
    EXPECT_EQ(watcher.seen, std::vector<std::string>{"patch_d2.mpq"});
    constexpr unsigned Stored = Attribute::ReadOnly | Attribute::Hidden | Attribute::System;
    EXPECT_EQ(game.files().fileAttributes(game.win("Backup\\patch_d2.mpq")) & Stored,
              Attribute::Hidden);
}

// A layer that spoils every copy into the game folder in one byte, as failing storage
// would: the check after each copy catches it before anything is deleted.
struct SpoilingFiles : ForwardingFiles
{
    SpoilingFiles(SampleGame& game) : ForwardingFiles(game.files()), game(game) {}
    void copyFile(const std::string& source, const std::string& destination) override
    {
        real.copyFile(source, destination);
        std::string relative = destination.substr(game.win("").size());
        std::replace(relative.begin(), relative.end(), '\\', '/');
        std::fstream file(game.game() / relative, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(100);
        file.put('\x5a');
    }
    // As across two file systems: nothing is moved, every archive is copied.
    bool moveFile(const std::string&, const std::string&) override { return false; }
    SampleGame& game;
};

TEST(CommandTables, AVerifiedCopyComesBeforeEveryDelete)
{
    for (const char* start : {"", "Backup; Replace Median"}) {
        ScratchFolder scratch("velmoran-spoilt");
        SampleGame game(scratch.path());
        game.run(start);
        SpoilingFiles spoiling(game);
        CommandContext context{game.services.with(&game.registry, nullptr, &spoiling), game.form,
                               game.messages};
        game.messages.shown.clear();
        EXPECT_THROW(*start ? undoChanges(context) : backupPatch(context), OperationError) << start;
        EXPECT_TRUE(game.messages.shown.empty());
        EXPECT_EQ(game.label(game.game() / (*start ? "Backup/patch_d2.mpq" : "patch_d2.mpq")),
                  "original")
            << start;
        game.run(*start ? "Undo" : "Backup"); // a sound run afterwards
        EXPECT_EQ(game.layout(), *start ? Installed : BackedUp);
    }
}

// The link writes the shortcut into the program's folder, or where that is gone into the
// temporary folder, and hands it to the viewer whole; with neither, it fails clearly.
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
    writeFile(scratch / "app" / "TEMP.URL", std::string(300, 'x')); // emptied, not appended to
    std::filesystem::create_directories(temp);
    Platform& real = game.platform();
    Platform platform{real.files, real.registry, real.starter, real.drives, viewer, app, temp};
    CommandContext context{platform, game.form, game.messages};
    for (const auto& [caption, folder] : {std::pair{"velmoran.example.org/?a=b&c=d", app},
                                          {"  blanks kept  ", app},
                                          {"velmoran.example.org", temp}}) {
        if (folder == temp)
            std::filesystem::remove_all(app);
        game.form.url = caption;
        openWebsite(context);
        EXPECT_EQ(viewer.seen.back(), folder + "\\TEMP.URL " + caption +
                                          "\n[InternetShortcut]\r\nURL=" + caption + "\r\n");
    }
    std::filesystem::remove_all(temp);
    try {
        openWebsite(context);
        ADD_FAILURE() << "no failure";
    } catch (const OperationError& error) {
        EXPECT_NE(std::string(error.what()).find(temp), std::string::npos) << error.what();
    }
    EXPECT_EQ(viewer.seen.size(), 3u);
    EXPECT_TRUE(game.messages.shown.empty());
}

} // namespace
