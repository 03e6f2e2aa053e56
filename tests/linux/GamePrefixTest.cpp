// Where Velmoran finds the game without WINEPREFIX, and which Wine starts it: home folders laid
// out as Wine, Lutris and Bottles lay them out; stand-in wines record which was started, and how.
#include "core/ExcelFolders.h"
#include "core/FindCommand.h"
#include "core/GameFolder.h"
#include "core/LaunchCommand.h"
#include "core/OperationError.h"
#include "core/PatchSwap.h"
#include "platform/linux/LinuxPlatform.h"
#include "support/Recorders.h"
#include "support/SamplePrefix.h"
#include "support/ScratchFolder.h"
#include "support/StandIns.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <thread>

using namespace velmoran;
using namespace velmoran::testing;
namespace fs = std::filesystem;

namespace {

const std::string GameAt = "C:\\Program Files (x86)\\Diablo II";
const std::string Lutris = ".local/share/lutris/games/", Bottles = ".local/share/bottles";
const std::string Flatpak = ".var/app/com.usebottles.bottles/data/bottles";

// One thing in the home folder (paths relative to it) or in the environment.
// clang-format off
enum Kind { Game, NoGame, GameFile, Bottle, Wine, Text, DeadLink, DataHome, PrefixVar, WineVar };
// clang-format on
struct Item
{
    Kind kind;
    std::string a, b = {}, c = {}, d = {};
};

// A scratch home with stand-in wine programs that write to one record; wine on PATH is one.
struct Home
{
    ScratchFolder scratch{"velmoran-home"};
    fs::path home = scratch / "home", record = scratch / "record";
    LinuxEnvironment environment;
    ScopedVariable path{"PATH", (scratch / "bin").string() + ":/usr/bin:/bin"};
    ScopedVariable recordTo{"VELMORAN_WINE_RECORD", record.string()};
    int made = 0;

    Home()
    {
        environment.home = home;
        lay({Wine, "../bin/wine"});
    }
    void lay(const Item& i)
    {
        const fs::path at = home / i.a;
        if (i.kind == Game || i.kind == NoGame) { // a SamplePrefix moved in place
            SamplePrefix::Options options;
            options.withGameEntry = i.kind == Game;
            options.installPath = i.b.empty() ? GameAt : i.b;
            const SamplePrefix sample(scratch / ("made" + std::to_string(++made)), options);
            fs::create_directories(at.parent_path());
            fs::rename(sample.prefix(), at);
        } else if (i.kind == GameFile) { // as Lutris writes it for a Wine game
            const std::string prefix = i.b[0] == '~' ? i.b : (home / i.b).string();
            writeFile(at, "game:\n  exe: " + prefix + "/drive_c/Game.exe\n  prefix: " + prefix +
                              "\nname: Diablo II\nrunner: wine\nsystem: {}\nwine:\n  version: " +
                              i.c + "\n");
        } else if (i.kind == Bottle) { // a bottle with its bottle.yml, as Bottles lays it out
            lay({Game, i.a + "/bottles/" + i.b, i.d});
            writeFile(at / "bottles" / i.b / "bottle.yml",
                      "Arch: win64\nCustom_Path: false\nName: " + i.b + "\nPath: " + i.b +
                          "\nRunner: " + i.c + "\n");
        } else if (i.kind == Wine) {
            writeFile(at, "#!/bin/sh\n{ printf 'wine=%s\\ncwd=%s\\nWINEPREFIX=%s\\n' \"$0\" "
                          "\"$(pwd)\" \"$WINEPREFIX\"; for a; do printf 'arg=%s\\n' \"$a\"; done; "
                          "} > \"$VELMORAN_WINE_RECORD.part\" && mv \"$VELMORAN_WINE_RECORD.part\" "
                          "\"$VELMORAN_WINE_RECORD\"\n");
            fs::permissions(at, fs::perms::owner_all);
        } else if (i.kind == Text) {
            writeFile(at, i.b);
        } else if (i.kind == DeadLink) {
            fs::create_directories(at.parent_path());
            fs::create_directory_symlink(home / "nowhere", at);
        } else {
            if (i.kind == DataHome)
                environment.dataHome = at;
            else
                (i.kind == PrefixVar ? environment.winePrefix : environment.wine) = at.string();
        }
    }
    std::string inHome(std::string text) const
    {
        for (std::size_t at; (at = text.find('~')) != std::string::npos;)
            text.replace(at, 1, home.string());
        return text;
    }
    // What the started wine recorded, once it has (a detached start takes a moment).
    std::string recorded() const
    {
        for (int i = 0; i < 500 && !fs::exists(record); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return fs::exists(record) ? readFile(record) : "(no wine was started)";
    }
    std::string started(const std::string& wine, const fs::path& prefix) const
    {
        return "wine=" + fs::path(inHome(wine)).lexically_normal().string() +
               "\ncwd=" + prefix.string() +
               "/drive_c/Program Files (x86)/Diablo II\nWINEPREFIX=" + prefix.string() +
               "\narg=" + GameAt + "\\Diablo II.exe\n";
    }
};

// The platform on a home, with a main window and message box that record.
struct Velmoran
{
    explicit Velmoran(const Home& h) : services(createLinuxPlatformServices(h.environment)) {}
    std::unique_ptr<PlatformServices> services;
    Platform& platform = services->platform();
    FakeForm form;
    RecordingMessages messages;
    CommandContext context{platform, form, messages};
};

struct Case
{
    const char* name;
    std::vector<Item> home;
    const char* chosen; // the prefix used, relative to home; "" for none
    const char* wine;   // that Launch starts; when none is chosen, the drive list's first
    std::vector<std::string> says = {}; // when none is chosen, in the message ("~": home)
};

const std::string LutrisWine = "~/.local/share/lutris/runners/wine/lutris-7.2/bin/wine";
const std::string PathWine = "~/../bin/wine";

const Case Cases[] = {
    {"a Lutris prefix in ~/Games with its runner; ~/.wine without the game",
     {{NoGame, ".wine"},
      {GameFile, Lutris + "diablo-ii-1700000000.yml", "Games/d2", "lutris-7.2"},
      {Game, "Games/d2"},
      {Wine, LutrisWine.substr(2)}},
     "Games/d2",
     LutrisWine.c_str()},
    {"an older Lutris game file naming its prefix with ~, its runner not installed",
     {{GameFile, ".config/lutris/games/d2.yml", "~/Prefixes/d2", "lutris-7.2"},
      {Game, "Prefixes/d2"}},
     "Prefixes/d2",
     PathWine.c_str()},
    {"XDG_DATA_HOME in place of ~/.local/share",
     {{DataHome, "data"},
      {GameFile, "data/lutris/games/d2.yml", "Prefixes/xdg", "7"},
      {Game, "Prefixes/xdg"},
      {Wine, "data/lutris/runners/wine/7/bin/wine"},
      {GameFile, Lutris + "d2.yml", "Prefixes/not", "7"},
      {Game, "Prefixes/not"}},
     "Prefixes/xdg",
     "~/data/lutris/runners/wine/7/bin/wine"},
    {"WINE before the prefix's runner",
     {{GameFile, Lutris + "d2.yml", "Games/d2", "lutris-7.2"},
      {Game, "Games/d2"},
      {Wine, LutrisWine.substr(2)},
      {Wine, "own/wine"},
      {WineVar, "own/wine"}},
     "Games/d2",
     "~/own/wine"},
    {"a Bottles bottle with its runner",
     {{Bottle, Bottles, "D2", "soda-7.0-9"}, {Wine, Bottles + "/runners/soda-7.0-9/bin/wine"}},
     ".local/share/bottles/bottles/D2",
     "~/.local/share/bottles/runners/soda-7.0-9/bin/wine"},
    {"a bottle on the system's Wine; broken game files passed over",
     {{Text, Lutris + "a.yml", "game: [prefix: {\n\t- ]]:"},
      {Text, Lutris + "b.yml", std::string(5000, '[')},
      {Bottle, Bottles, "D2", "sys-wine-9.0"}},
     ".local/share/bottles/bottles/D2",
     PathWine.c_str()},
    {"two prefixes with the game",
     {{Game, ".wine"}, {Bottle, Bottles, "D2", "soda-7.0-9", "C:\\Games\\Diablo II"}},
     "",
     "c: [~/.wine/drive_c]",
     {"more than one Wine prefix", "~/.wine (Wine's default prefix): game folder " + GameAt,
      "~/.local/share/bottles/bottles/D2 (Bottles bottle D2): game folder C:\\Games\\Diablo II",
      "WINEPREFIX=~/.wine velmoran", "Exec=env WINEPREFIX=~/.wine velmoran"}},
    {"a broken game file and a prefix link that leads nowhere",
     {{NoGame, ".wine"},
      {Text, Lutris + "broken.yml", "game:\n  prefix: \"open"},
      {GameFile, Lutris + "gone.yml", "Games/gone", "7"},
      {DeadLink, "Games/gone"}},
     "",
     "c: [~/.wine/drive_c]",
     {"~/.wine (Wine's default prefix)", "lutris/games/broken.yml: not valid YAML",
      "gone.yml: names the prefix ~/Games/gone, which is a link that leads nowhere",
      "the Bottles bottles ~/" + Flatpak + "/bottles/*"}},
    {"WINEPREFIX before every other prefix",
     {{PrefixVar, "chosen"}, {NoGame, "chosen"}, {Bottle, Bottles, "D2", "soda-7.0-9"}},
     "",
     "c: [~/chosen/drive_c]",
     {"~/chosen/system.reg"}},
    {"no prefix at all", {}, "", "z: [/]", {"but found no Wine prefix"}},
};

// Every file under a folder with its bytes, to tell that nothing changed.
std::map<std::string, std::string> tree(const fs::path& root)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        files[entry.path().string()] = entry.is_regular_file() ? readFile(entry.path()) : "";
    return files;
}

TEST(GamePrefix, FindsTheOnePrefixThatHoldsTheGameAndStartsItsWineOrSaysWhy)
{
    for (const Case& c : Cases) {
        SCOPED_TRACE(c.name);
        Home h;
        for (const Item& item : c.home)
            h.lay(item);
        Velmoran v(h);
        if (*c.chosen) {
            const fs::path prefix = h.home / c.chosen;
            EXPECT_EQ(v.platform.drives.driveNames().front(),
                      "c: [" + prefix.string() + "/drive_c]");
            launchGame(v.context);
            EXPECT_EQ(h.recorded(), h.started(c.wine, prefix));
            backupPatch(v.context); // in the same prefix
            EXPECT_TRUE(fs::exists(prefix / "drive_c/Program Files (x86)/Diablo II/Backup"));
            continue;
        }
        EXPECT_EQ(v.platform.drives.driveNames().front(), h.inHome(c.wine));
        try {
            requireGameFolder(v.platform.registry);
            ADD_FAILURE() << "a game folder was found";
        } catch (const OperationError& e) {
            for (const std::string& part : c.says)
                EXPECT_NE(std::string(e.what()).find(h.inHome(part)), std::string::npos)
                    << part << " in\n"
                    << e.what();
        }
        // Then no command changes a file.
        const auto before = tree(h.scratch.path());
        v.form.list = {"c:\\windows\\patch_d2.mpq"};
        v.form.selected = 0;
        for (auto command : {backupPatch, replacePatch, undoChanges, launchGame, createExcelFolders,
                             deleteExcelFolders})
            EXPECT_THROW(command(v.context), OperationError);
        EXPECT_EQ(tree(h.scratch.path()), before);
    }
}

TEST(GamePrefix, AGameThatMovesToAnotherPrefixWhileVelmoranRunsChangesNothing)
{
    Home h;
    h.lay({Game, ".wine"});
    Velmoran v(h);
    EXPECT_EQ(requireGameFolder(v.platform.registry), GameAt);
    fs::rename(h.home / ".wine/system.reg", h.scratch / "moved.reg");
    h.lay({Bottle, Bottles, "D2", "soda-7.0-9"});
    const fs::path bottle = h.home / Bottles / "bottles/D2";
    try {
        backupPatch(v.context);
        FAIL() << "backed up in another prefix than the drive list's";
    } catch (const OperationError& e) {
        EXPECT_NE(std::string(e.what()).find("start it again to work in " + bottle.string()),
                  std::string::npos)
            << e.what();
    }
    EXPECT_FALSE(fs::exists(bottle / "drive_c/Program Files (x86)/Diablo II/Backup"));
}

} // namespace
