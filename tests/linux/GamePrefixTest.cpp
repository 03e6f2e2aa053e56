// Where the game is found without WINEPREFIX, in homes as Wine, Lutris, Bottles, Steam and
// Heroic lay them out, and how Launch starts it there; and Steam's text files that are broken.
#include "core/ExcelFolders.h"
#include "core/GameFolder.h"
#include "core/LaunchCommand.h"
#include "core/OperationError.h"
#include "core/PatchSwap.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/VdfText.h"
#include "support/SampleGame.h"
#include "support/StandIns.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <thread>

using namespace velmoran;
using namespace velmoran::testing;
using Texts = std::vector<std::string>;

namespace {

const std::string GameAt = "C:\\Program Files (x86)\\Diablo II", Game = GameAt + "\\Diablo II.exe";
const std::string Lutris = ".local/share/lutris/", Bottle = ".local/share/bottles/bottles/D2",
                  Runners = ".local/share/bottles/runners/";
const std::string LutrisWine = "~/" + Lutris + "runners/wine/lutris-7.2/bin/wine";
const std::string Steam = ".local/share/Steam/", Proton8 = Steam + "steamapps/common/Proton 8.0/",
                  DebianSteam = ".steam/debian-installation/",
                  FlatpakSteam = ".var/app/com.valvesoftware.Steam/data/Steam/";
const std::string FlatpakHeroic = ".var/app/com.heroicgameslauncher.hgl/config/heroic/",
                  FlatpakLutris = ".var/app/net.lutris.Lutris/data/lutris/",
                  FlatpakBottles = ".var/app/com.usebottles.bottles/data/bottles/";

std::string lutris(const std::string& prefix, const std::string& version)
{
    return "=game:\n  exe: " + prefix + "/drive_c/Game.exe\n  prefix: " + prefix +
           "\nrunner: wine\nwine:\n  version: " + version + "\n";
}

// What Proton writes into a compat data folder: its prefix version, then its own folders.
std::string configInfo(const std::string& proton)
{
    return "=8.0-104\n$HOME/" + proton + "files/share/fonts/\n$HOME/" + proton + "files/lib/\n";
}

std::string heroic(const std::string& app, const std::string& prefix, const std::string& bin,
                   const std::string& type)
{
    return "={\"" + app + "\": {\"winePrefix\": \"$HOME/" + prefix +
           "\", \"wineVersion\": {\"bin\": \"$HOME/" + bin + "\", \"name\": \"x\", \"type\": \"" +
           type + "\"}, \"language\": \"\"}, \"version\": \"v0\", \"explicit\": true}";
}

// A home, as "<path relative to it>=<what is there>": "game" or "nogame" (a Wine prefix with or
// without the game; "game:<install path>"), "program" (a stand-in that records how it was
// started), "dead" (a link to nowhere), "->target" (a link), else a file's text ("$HOME": the
// home folder); "$WINEPREFIX=" and "$WINE=" set the environment's.
struct Home
{
    ScratchFolder scratch{"velmoran-home"};
    fs::path home = scratch / "home", record = scratch / "record";
    LinuxEnvironment environment;
    ScopedVariable path{"PATH", (scratch / "bin").string() + ":/usr/bin:/bin"};
    // The launchers' own variables replace the user's, once each; others whose names begin
    // alike stay.
    ScopedVariable kept{"WINEPREFIX_KEPT", "kept"}, replaced{"GAMEID", "stale"};
    FakeForm form;
    RecordingMessages messages;

    explicit Home(const Texts& layout)
    {
        environment.home = home;
        fs::create_directories(home);
        lay("../bin/wine=program");
        for (const std::string& item : layout)
            lay(item);
    }
    void lay(const std::string& item)
    {
        const std::string path = item.substr(0, item.find('=')),
                          what = item.substr(path.size() + 1);
        const fs::path at = home / path;
        fs::create_directories(at.parent_path());
        if (what == "game" || what == "nogame" || what.starts_with("game:C")) { // a SamplePrefix
            SamplePrefix::Options options;
            options.withGameEntry = what != "nogame";
            options.installPath = what.starts_with("game:") ? what.substr(5) : GameAt;
            fs::rename(SamplePrefix(scratch / "sample", options).prefix(), at);
            fs::remove_all(scratch / "sample");
        } else if (what == "program") {
            writeFile(at, "#!/bin/sh\n{ printf 'program=%s\\ncwd=%s\\n' \"$0\" \"$(pwd)\"\n"
                          "  env | grep -E '^(GAMEID|PROTONPATH|STEAM_COMPAT_[A-Z_]*|WINEARCH|"
                          "WINEPREFIX)=' | grep -v =stale | sort\n"
                          "  tr '\\0' '\\n' < /proc/$$/environ | cut -d= -f1 | sort | uniq -d |"
                          " sed s/^/twice=/\n"
                          "  [ \"$WINEPREFIX_KEPT\" = kept ] || echo lost=WINEPREFIX_KEPT\n"
                          "  for a in \"$@\"; do printf 'arg=%s\\n' \"$a\"; done\n} > " +
                              record.string() + ".part && mv " + record.string() + ".part " +
                              record.string() + "\n");
            fs::permissions(at, fs::perms::owner_all);
        } else if (what == "dead") {
            fs::create_directory_symlink(home / "nowhere", at);
        } else if (what.starts_with("->")) {
            fs::create_directory_symlink(what.substr(2), at);
        } else if (path.starts_with("$")) {
            (path == "$WINE" ? environment.wine : environment.winePrefix) = (home / what).string();
        } else {
            writeFile(at, inHome(what, "$HOME"));
        }
    }
    std::string inHome(std::string text, const std::string& mark = "~") const
    {
        for (std::size_t at; (at = text.find(mark)) != std::string::npos;)
            text.replace(at, mark.size(), home.string());
        return text;
    }
};

// The home; then the prefix chosen (relative to home) and what the stand-in that Launch started
// recorded: the program ("~": home), the launchers' variables that were set, in name order, and
// the arguments before the switches -w -direct; or "!" and what Launch's failure says; or, when
// no prefix is chosen, "", the drive list's first and what the lookup's message says.
const std::pair<Texts, Texts> Cases[] = {
    {{".wine=nogame", Lutris + "games/d2.yml" + lutris("$HOME/Games/d2", "lutris-7.2"),
      "Games/d2=game", LutrisWine.substr(2) + "=program"},
     {"Games/d2", LutrisWine, "WINEPREFIX=~/Games/d2", "arg=" + Game}},
    {{".config/lutris/games/d2.yml" + lutris("~/Prefixes/d2", "lutris-7.2"), "Prefixes/d2=game"},
     {"Prefixes/d2", "!", "the Wine that the prefix's launcher names for it is not installed",
      "lutris-7.2/bin/wine"}}, // an older Lutris file, its runner not installed
    {{Lutris + "games/d2.yml" + lutris("$HOME/Games/d2", "lutris-7.2"), "Games/d2=game",
      LutrisWine.substr(2) + "=program", "own/wine=program", "$WINE=own/wine"},
     {"Games/d2", "~/own/wine", "WINEPREFIX=~/Games/d2", "arg=" + Game}}, // $WINE first
    {{Lutris + "games/a.yml=game: [prefix: {\n\t- ]]:",
      Lutris + "games/b.yml=" + std::string(5000, '['), Bottle + "=game",
      Lutris + "games/c.yml" + lutris("$HOME/Games/c", "lutris-7.2"), "Games/c=nogame",
      LutrisWine.substr(2) + "=program", // another prefix, which has a Wine of its own
      Bottle + "/bottle.yml=Name: D2\nRunner: soda-7.0-9\n",
      Runners + "soda-7.0-9/bin/wine=program", Runners + "soda-7.0-9/bin/wine64=program"},
     {Bottle, "~/" + Runners + "soda-7.0-9/bin/wine", "WINEPREFIX=~/" + Bottle,
      "arg=" + Game}}, // a 32-bit bottle: not wine64
    {{".wine=game", Bottle + "=game:C:\\Games\\Diablo II"},
     {"", "c: [~/.wine/drive_c]", "more than one Wine prefix",
      "~/.wine (Wine's default prefix): game folder " + GameAt,
      "~/" + Bottle + " (Bottles bottle D2): game folder C:\\Games\\Diablo II",
      "WINEPREFIX=~/.wine velmoran", "Exec=env WINEPREFIX=~/.wine velmoran"}},
    {{".wine=nogame", Lutris + "games/broken.yml=game:\n  prefix: \"open",
      Lutris + "games/gone.yml" + lutris("$HOME/Games/gone", "7"), "Games/gone=dead",
      Steam + "steamapps/libraryfolders.vdf=\"libraryfolders\"\n{\n\t\"1\" { \"path\" \"/x\" }\n",
      ".config/heroic/GamesConfig/bad.json={\"d2\": {"},
     {"", "c: [~/.wine/drive_c]", "~/.wine (Wine's default prefix)",
      "lutris/games/broken.yml: not valid YAML",
      "gone.yml: names the prefix ~/Games/gone, which is a link that leads nowhere",
      "libraryfolders.vdf: not a valid Steam file (the text ends inside a block",
      "GamesConfig/bad.json: not valid JSON",
      "the Bottles bottles ~/.var/app/com.usebottles.bottles/data/bottles/bottles/*",
      "Steam in ~/snap/steam/common/.local/share/Steam",
      "the Heroic prefixes ~/Games/Heroic/Prefixes/default/*",
      "the Lutris game files ~/.local/share/lutris/games/*.yml"}},
    {{"$WINEPREFIX=chosen", "chosen=nogame", Bottle + "=game"},
     {"", "c: [~/chosen/drive_c]", "~/chosen/system.reg"}},
    {{}, {"", "z: [/]", "but found no Wine prefix", "~/.wine", "the folders in ~/Games"}},
    // Files that are merely missing go unnoted: a Lutris game's default Wine, a Proton prefix's
    // config_info, Steam's config.vdf, a bottle's placeholder.yml and bottle.yml.
    {{Lutris + "games/d2.yml=game:\n  prefix: $HOME/Games/d2\nrunner: wine\n", "Games/d2=nogame",
      Steam + "steamapps/compatdata/5/pfx=nogame", Steam + "steamapps/compatdata/5/version=8.0",
      Bottle + "=nogame"},
     {"", "z: [/]", "~/Games/d2 (", "compatdata/5/pfx ("}},
    // A Proton prefix that neither config_info nor a config.vdf that maps no Proton ties to a
    // Proton is not started.
    {{Steam + "steamapps/compatdata/6/pfx=game", Steam + "steamapps/compatdata/6/version=8.0",
      Steam + "config/config.vdf=\"InstallConfigStore\" { \"Software\" { } }",
      Proton8 + "proton=program"},
     {Steam + "steamapps/compatdata/6/pfx", "!", "is a Proton prefix, but neither",
      "/compatdata/6/config_info nor Steam's CompatToolMapping", "nothing was started"}},
    // Steam, its second library listed in libraryfolders.vdf, its Proton as config_info says;
    // ~/.steam/steam is the same install again, and $WINE does not override a Proton.
    {{Steam + "steamapps/libraryfolders.vdf=\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t"
              "\"$HOME/.local/share/Steam\"\n\t}\n\t\"1\"\n\t{\n\t\t\"PATH\"\t\t\"$HOME/Library "
              "2\"\n\t\t\"apps\" { \"3012345678\" \"1\" }\n\t}\n}\n",
      ".steam/steam=->../.local/share/Steam", Proton8 + "proton=program", "$WINE=../bin/wine",
      "Library 2/steamapps/compatdata/3012345678/pfx=game",
      "Library 2/steamapps/compatdata/3012345678/config_info" + configInfo(Proton8),
      "Library 2/steamapps/compatdata/0/pfx=nogame"},
     {"Library 2/steamapps/compatdata/3012345678/pfx", "~/" + Proton8 + "proton",
      "STEAM_COMPAT_CLIENT_INSTALL_PATH=~/.local/share/Steam",
      "STEAM_COMPAT_DATA_PATH=~/Library 2/steamapps/compatdata/3012345678", "arg=run",
      "arg=" + Game}},
    // Debian's Steam, the older libraryfolders.vdf, the Proton that config.vdf maps the id to.
    {{DebianSteam + "steamapps/libraryfolders.vdf=\"LibraryFolders\"\n{\n\t\"TimeNextStatsReport\""
                    "\t\"1700000000\"\n\t\"ContentStatsID\"\t\"-42\"\n\t\"1\"\t\"$HOME/Old\"\n"
                    "\t\"Note\"\t\"$HOME/Not a library\"\n}\n",
      "Old/steamapps/compatdata/123/pfx=game", "Not a library/steamapps/compatdata/7/pfx=game",
      DebianSteam + "config/config.vdf=\"InstallConfigStore\" { \"Software\" { \"Valve\" { "
                    "\"Steam\" { \"CompatToolMapping\" { \"0\" { \"name\" \"proton_8\" } // x\n"
                    "\"123\" { \"name\" \"GE-Proton9-20\" \"config\" \"\" } } } } } }",
      DebianSteam + "compatibilitytools.d/GE-Proton9-2/proton=program",
      DebianSteam + "compatibilitytools.d/GE-Proton9-20/proton=program"},
     {"Old/steamapps/compatdata/123/pfx",
      "~/" + DebianSteam + "compatibilitytools.d/GE-Proton9-20/proton",
      "STEAM_COMPAT_CLIENT_INSTALL_PATH=~/.steam/debian-installation",
      "STEAM_COMPAT_DATA_PATH=~/Old/steamapps/compatdata/123", "arg=run", "arg=" + Game}},
    // A Proton of its own known by the name its compatibilitytool.vdf gives it.
    {{Steam + "steamapps/compatdata/31/pfx=game",
      Steam + "config/config.vdf=\"InstallConfigStore\" { \"Software\" { \"Valve\" { \"Steam\" { "
              "\"CompatToolMapping\" { \"31\" { \"name\" \"Custom-9\" } } } } } }",
      Steam + "compatibilitytools.d/My Proton/proton=program",
      Steam + "compatibilitytools.d/My Proton/compatibilitytool.vdf=\"compatibilitytools\" { "
              "\"compat_tools\" { \"Custom-9\" { \"install_path\" \".\" } } }"},
     {Steam + "steamapps/compatdata/31/pfx", "~/" + Steam + "compatibilitytools.d/My Proton/proton",
      "STEAM_COMPAT_CLIENT_INSTALL_PATH=~/.local/share/Steam",
      "STEAM_COMPAT_DATA_PATH=~/" + Steam + "steamapps/compatdata/31", "arg=run", "arg=" + Game}},
    // Flatpak Steam, the Proton that last ran the prefix no longer installed.
    {{FlatpakSteam + "steamapps/compatdata/456/pfx=game",
      FlatpakSteam + "steamapps/compatdata/456/config_info" +
          configInfo(FlatpakSteam + "steamapps/common/Proton 7.0/")},
     {FlatpakSteam + "steamapps/compatdata/456/pfx", "!",
      "through Proton 7.0 (the Proton that last ran it", "is not installed",
      "~/" + FlatpakSteam + "steamapps/common/*/proton",
      "~/" + FlatpakSteam + "compatibilitytools.d/*/proton", "nothing was started"}},
    // ... even where Steam's CompatToolMapping names another that is installed.
    {{Steam + "steamapps/compatdata/44/pfx=game",
      Steam + "steamapps/compatdata/44/config_info" +
          configInfo(Steam + "steamapps/common/Proton 7.0/"),
      Steam + "config/config.vdf=\"InstallConfigStore\" { \"Software\" { \"Valve\" { \"Steam\" { "
              "\"CompatToolMapping\" { \"44\" { \"name\" \"proton_8\" } } } } } }",
      Proton8 + "proton=program"},
     {Steam + "steamapps/compatdata/44/pfx", "!", "through Proton 7.0 (the Proton that last ran it",
      "is not installed"}},
    // Heroic: a Wine one, and a Proton one of Flatpak Heroic, whose prefix is pfx.
    {{".config/heroic/GamesConfig/Diablo.json" +
          heroic("Diablo", "Games/Heroic/Prefixes/default/Diablo", "wine-ge/bin/wine", "wine"),
      "Games/Heroic/Prefixes/default/Diablo=game", "wine-ge/bin/wine=program"},
     {"Games/Heroic/Prefixes/default/Diablo", "~/wine-ge/bin/wine",
      "WINEPREFIX=~/Games/Heroic/Prefixes/default/Diablo", "arg=" + Game}},
    {{FlatpakHeroic + "GamesConfig/d2.json" +
          heroic("d2", "Games/Heroic/Prefixes/default/d2",
                 FlatpakHeroic + "tools/proton/GE-Proton8-25/proton", "proton"),
      "Games/Heroic/Prefixes/default/d2/pfx=game",
      FlatpakHeroic + "tools/proton/GE-Proton8-25/proton=program"},
     {"Games/Heroic/Prefixes/default/d2/pfx",
      "~/" + FlatpakHeroic + "tools/proton/GE-Proton8-25/proton",
      "STEAM_COMPAT_CLIENT_INSTALL_PATH=~/.steam/steam",
      "STEAM_COMPAT_DATA_PATH=~/Games/Heroic/Prefixes/default/d2", "arg=run", "arg=" + Game}},
    {{".config/heroic/GamesConfig/d2.json" +
          heroic("d2", "Heroic/d2", ".config/heroic/tools/proton/GE-Proton1-1/proton", "proton"),
      "Heroic/d2/pfx=game"},
     {"Heroic/d2/pfx", "!",
      "through x, the Proton ~/.config/heroic/tools/proton/GE-Proton1-1/proton",
      "is not installed"}},
    // Heroic's default folder: a Proton prefix whose version file names a GE-Proton of Steam.
    {{"Games/Heroic/Prefixes/default/D2/pfx=game",
      "Games/Heroic/Prefixes/default/D2/version=GE-Proton9-20\n",
      ".steam/root/steamapps/libraryfolders.vdf=\"libraryfolders\" { }",
      ".steam/root/compatibilitytools.d/GE-Proton9-20/proton=program"},
     {"Games/Heroic/Prefixes/default/D2/pfx",
      "~/.steam/root/compatibilitytools.d/GE-Proton9-20/proton",
      "STEAM_COMPAT_CLIENT_INSTALL_PATH=~/.steam/root",
      "STEAM_COMPAT_DATA_PATH=~/Games/Heroic/Prefixes/default/D2", "arg=run", "arg=" + Game}},
    // Flatpak Lutris, the version from runners/wine.yml (a Lutris build: Wine, not Proton).
    {{FlatpakLutris + "games/d2.yml=game:\n  prefix: $HOME/Games/d2\nrunner: wine\n",
      FlatpakLutris + "runners/wine.yml=wine:\n  version: lutris-GE-Proton8-26-x86_64\n",
      FlatpakLutris + "runners/wine/lutris-GE-Proton8-26-x86_64/bin/wine=program", "Games/d2=game"},
     {"Games/d2", "~/" + FlatpakLutris + "runners/wine/lutris-GE-Proton8-26-x86_64/bin/wine",
      "WINEPREFIX=~/Games/d2", "arg=" + Game}},
    // Lutris's default GE-Proton through umu-run, which may be missing.
    {{Lutris + "games/d2.yml" + lutris("$HOME/Games/d2", "ge-proton"), "Games/d2=game",
      "../bin/umu-run=program"},
     {"Games/d2", "~/../bin/umu-run", "GAMEID=umu-default", "PROTONPATH=GE-Proton",
      "WINEARCH=win64", "WINEPREFIX=~/Games/d2", "arg=" + Game}},
    {{Lutris + "games/d2.yml=game:\n  prefix: $HOME/Games/d2\nrunner: wine\n", "Games/d2=game"},
     {"Games/d2", "!",
      "umu-run was not found (looked in PATH, ~/" + Lutris + "runtime/umu/umu_run.py",
      "through umu"}},
    {{FlatpakLutris + "games/d2.yml=game:\n  prefix: $HOME/Games/d2\nrunner: wine\n",
      FlatpakLutris + "runners/wine.yml=wine:\n  version: GE-Proton (Latest)\n", "Games/d2=game",
      FlatpakLutris + "runtime/umu/umu_run.py=program"}, // Lutris's own umu
     {"Games/d2", "~/" + FlatpakLutris + "runtime/umu/umu_run.py", "GAMEID=umu-default",
      "PROTONPATH=GE-Proton", "WINEARCH=win64", "WINEPREFIX=~/Games/d2", "arg=" + Game}},
    {{Lutris + "games/d2.yml" + lutris("$HOME/Games/d2", "GE-Proton7-1"), "Games/d2=game",
      "../bin/umu-run=program"},
     {"Games/d2", "!", "with GE-Proton7-1 (through umu), which is not installed",
      "~/" + Lutris + "runners/proton/*/proton"}},
    // umu's pfx link back to its own prefix, in Lutris's prefix and in Heroic's folder.
    {{Lutris + "games/d2.yml" + lutris("$HOME/Games/umu/d2", "GE-Proton9-20"), "Games/umu/d2=game",
      "Games/umu/d2/pfx=->.", "Games/Heroic/Prefixes/x=nogame", "Games/Heroic/Prefixes/x/pfx=->.",
      Steam + "steamapps/compatdata/9/pfx=->.",
      Lutris + "runners/proton/GE-Proton9-20/proton=program", "../bin/umu-run=program"},
     {"Games/umu/d2", "~/../bin/umu-run", "GAMEID=umu-default",
      "PROTONPATH=~/" + Lutris + "runners/proton/GE-Proton9-20", "WINEARCH=win64",
      "WINEPREFIX=~/Games/umu/d2", "arg=" + Game}},
    // Lutris: the system's Wine, a WineHQ build, a version that names no runner, and a GE-Proton
    // that only Steam has.
    {{Lutris + "games/d2.yml" + lutris("$HOME/Games/d2", "system"), "Games/d2=game"},
     {"Games/d2", "~/../bin/wine", "WINEPREFIX=~/Games/d2", "arg=" + Game}},
    {{Lutris + "games/d2.yml" + lutris("$HOME/Games/d2", "winehq-staging"), "Games/d2=game"},
     {"Games/d2", "!", "is not installed (looked for /opt/wine-staging/bin/wine)"}},
    {{Lutris + "games/d2.yml" + lutris("$HOME/Games/d2", "../x"), "Games/d2=game"},
     {"Games/d2", "!",
      "d2.yml names the Wine version \"../x\", which is no name of a Lutris runner"}},
    {{Lutris + "games/d2.yml" + lutris("$HOME/Games/d2", "GE-Proton9-2"), "Games/d2=game",
      Steam + "steamapps/libraryfolders.vdf=\"libraryfolders\" { }",
      Steam + "compatibilitytools.d/GE-Proton9-2/proton=program", "../bin/umu-run=program"},
     {"Games/d2", "~/../bin/umu-run", "GAMEID=umu-default",
      "PROTONPATH=~/" + Steam + "compatibilitytools.d/GE-Proton9-2", "WINEARCH=win64",
      "WINEPREFIX=~/Games/d2", "arg=" + Game}},
    // WINE that names no program.
    {{".wine=game", "$WINE=nowine"},
     {".wine", "!", "WINE is set to \"~/nowine\", which is no program"}},
    // Games the launchers name that are no Wine prefix, or none at all (native games).
    {{Lutris + "games/native.yml=game:\n  exe: /bin/true\nrunner: linux\n",
      Lutris + "games/rel.yml=game:\n  prefix: Games/d2\n",
      Lutris + "games/np.yml=game:\n  prefix: $HOME/NoPrefix\n",
      ".config/heroic/GamesConfig/x.txt=x", ".config/heroic/GamesConfig/list.json=[1]",
      ".config/heroic/GamesConfig/n.json={\"n\": {\"winePrefix\": \"\"}}",
      ".config/heroic/GamesConfig/r.json={\"r\": {\"winePrefix\": \"Heroic/r\"}}",
      ".config/heroic/GamesConfig/p.json" + heroic("p", "NoPrefix", "x", "proton"),
      "NoPrefix/pfx/x=x",
      ".config/heroic/GamesConfig/q.json" + heroic("q", "Missing", "x", "wine")},
     {"", "z: [/]", "but found no Wine prefix",
      "rel.yml: names the prefix Games/d2, which is not an absolute path",
      "np.yml: names the prefix ~/NoPrefix, which is not a Wine prefix (no system.reg and drive_c)",
      "r.json: names the prefix Heroic/r, which is not an absolute path",
      "p.json: names the prefix ~/NoPrefix/pfx, which is not a Wine prefix (no system.reg and "
      "drive_c)",
      "q.json: names the prefix ~/Missing, which does not exist"}},
    // Bottles: a custom bottles folder with a win64 bottle; a placeholder and a system Wine.
    {{".local/share/bottles/data.yml=custom_bottles_path: $HOME/My Bottles\n", "My Bottles/D2=game",
      "My Bottles/D2/bottle.yml=Name: Diablo\nRunner: soda-7.0-9\nArch: win64\n",
      Runners + "soda-7.0-9/bin/wine=program", Runners + "soda-7.0-9/bin/wine64=program"},
     {"My Bottles/D2", "~/" + Runners + "soda-7.0-9/bin/wine64", "WINEPREFIX=~/My Bottles/D2",
      "arg=" + Game}},
    {{Bottle + "/placeholder.yml=Path: $HOME/Elsewhere/D2\n", "Elsewhere/D2=game",
      "Elsewhere/D2/bottle.yml=Name: D2\nRunner: sys-wine-9.0\nCustom_Path: true\n"},
     {"Elsewhere/D2", "~/../bin/wine", "WINEPREFIX=~/Elsewhere/D2", "arg=" + Game}},
    // A bottle whose bottle.yml has it elsewhere; placeholders that lead to no prefix.
    {{Bottle + "/bottle.yml=Name: D2\nRunner: sys-wine-9.0\nCustom_Path: true\nPath: ~/Custom/D2\n",
      "Custom/D2=game"},
     {"Custom/D2", "~/../bin/wine", "WINEPREFIX=~/Custom/D2", "arg=" + Game}},
    {{Bottle + "/placeholder.yml=Path: Games/D2\n", Bottle + "2/placeholder.yml=Path: ~/Empty\n",
      "Empty/x=x"},
     {"", "z: [/]", "but found no Wine prefix",
      "D2/placeholder.yml: names no absolute Path for the bottle",
      "D22/placeholder.yml: leads to ~/Empty, which is not a Wine prefix"}},
    // Flatpak Bottles, through bottles-cli inside Flatpak.
    {{FlatpakBottles + "bottles/D2=game",
      FlatpakBottles + "bottles/D2/bottle.yml=Name: Diablo Two\nRunner: caffe-7.20\n",
      "../bin/flatpak=program"},
     {FlatpakBottles + "bottles/D2", "~/../bin/flatpak", "arg=run", "arg=--command=bottles-cli",
      "arg=com.usebottles.bottles", "arg=run", "arg=-b", "arg=Diablo Two", "arg=-e",
      "arg=~/" + FlatpakBottles + "bottles/D2/drive_c/Program Files (x86)/Diablo II/Diablo II.exe",
      "arg=--"}},
    // Two launchers holding the game.
    {{Steam + "steamapps/compatdata/7/pfx=game",
      "Games/Heroic/Prefixes/Other=game:C:\\Games\\Diablo II"},
     {"", "z: [/]", "more than one Wine prefix",
      "~/" + Steam + "steamapps/compatdata/7/pfx (Steam Proton prefix of 7): game folder " + GameAt,
      "~/Games/Heroic/Prefixes/Other (Heroic prefix Other): game folder C:\\Games\\Diablo II",
      "WINEPREFIX=~/" + Steam + "steamapps/compatdata/7/pfx velmoran",
      "WINEPREFIX=~/Games/Heroic/Prefixes/Other velmoran"}}, // a line to copy for each
    // WINEPREFIX=<...>/pfx starts through that prefix's Proton as well.
    {{"$WINEPREFIX=" + Steam + "steamapps/compatdata/77/pfx",
      Steam + "steamapps/compatdata/77/pfx=game",
      Steam + "steamapps/compatdata/77/config_info" + configInfo(Proton8),
      Proton8 + "proton=program"},
     {Steam + "steamapps/compatdata/77/pfx", "~/" + Proton8 + "proton",
      "STEAM_COMPAT_CLIENT_INSTALL_PATH=~/.local/share/Steam",
      "STEAM_COMPAT_DATA_PATH=~/" + Steam + "steamapps/compatdata/77", "arg=run", "arg=" + Game}},
    // ... also where no Steam library holds it, through the Proton that last ran it.
    {{"$WINEPREFIX=Elsewhere/steamapps/compatdata/88/pfx",
      "Elsewhere/steamapps/compatdata/88/pfx=game",
      "Elsewhere/steamapps/compatdata/88/config_info" + configInfo(Proton8),
      Proton8 + "proton=program"},
     {"Elsewhere/steamapps/compatdata/88/pfx", "~/" + Proton8 + "proton",
      "STEAM_COMPAT_CLIENT_INSTALL_PATH=~/.local/share/Steam",
      "STEAM_COMPAT_DATA_PATH=~/Elsewhere/steamapps/compatdata/88", "arg=run", "arg=" + Game}},
};

std::map<std::string, std::string> tree(const fs::path& root)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        files[entry.path().string()] = entry.is_regular_file() ? readFile(entry.path()) : "";
    return files;
}

// Each home is a test of its own.
class GamePrefixIn : public ::testing::TestWithParam<std::pair<Texts, Texts>>
{
};

TEST_P(GamePrefixIn, FindsTheOnePrefixThatHoldsTheGameAndStartsItAsItsLauncherDoesOrSaysWhy)
{
    const auto& [layout, expected] = GetParam();
    SCOPED_TRACE(layout.empty() ? "" : layout[0]);
    Home h(layout);
    h.form.checks = {0, 1, 0, 1};
    const auto services = createLinuxPlatformServices(h.environment);
    CommandContext context{services->platform(), h.form, h.messages};
    Texts says(expected.begin() + 2, expected.end());
    std::transform(says.begin(), says.end(), says.begin(), [&](auto t) { return h.inHome(t); });
    if (!expected[0].empty()) {
        const fs::path prefix = h.home / expected[0],
                       game = prefix / "drive_c/Program Files (x86)/Diablo II";
        EXPECT_EQ(context.platform.drives.driveNames().front(),
                  "c: [" + prefix.string() + "/drive_c]");
        if (expected[1] == "!") { // found, but Launch starts nothing and changes nothing
            const auto before = tree(h.scratch.path());
            EXPECT_TRUE(failsWith([&] { launchGame(context); }, says));
            EXPECT_EQ(tree(h.scratch.path()), before);
            return;
        }
        launchGame(context); // detached: its record comes a moment later
        for (int i = 0; i < 500 && !fs::exists(h.record); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::string record =
            "program=" + fs::path(h.inHome(expected[1])).lexically_normal().string() +
            "\ncwd=" + game.string() + "\n";
        for (const std::string& line : says)
            record += line + "\n";
        EXPECT_EQ(readFile(h.record), record + "arg=-w\narg=-direct\n");
        backupPatch(context); // in the same prefix
        EXPECT_TRUE(fs::exists(game / "Backup"));
        return;
    }
    EXPECT_EQ(context.platform.drives.driveNames().front(), h.inHome(expected[1]));
    EXPECT_TRUE(failsWith([&] { requireGameFolder(context.platform.registry); }, says));
    EXPECT_FALSE(failsWith([&] { requireGameFolder(context.platform.registry); }, {"(No such"}))
        << "a file that is merely missing is noted";
    const auto before = tree(h.scratch.path()); // then no command changes a file
    h.form.list = {"c:\\windows\\patch_d2.mpq"};
    h.form.selected = 0;
    for (auto command : {backupPatch, replacePatch, undoChanges, launchGame, createExcelFolders,
                         deleteExcelFolders})
        EXPECT_THROW(command(context), OperationError);
    EXPECT_EQ(tree(h.scratch.path()), before);
}

INSTANTIATE_TEST_SUITE_P(Homes, GamePrefixIn, ::testing::ValuesIn(Cases));

TEST(GamePrefix, AGameThatMovesToAnotherPrefixWhileVelmoranRunsChangesNothing)
{
    Home h(Texts{".wine=game"});
    const auto services = createLinuxPlatformServices(h.environment);
    CommandContext context{services->platform(), h.form, h.messages};
    EXPECT_EQ(requireGameFolder(context.platform.registry), GameAt);
    fs::rename(h.home / ".wine", h.scratch / "moved"); // the prefix Velmoran works in
    h.lay(Bottle + "=game");
    EXPECT_TRUE(failsWith([&] { backupPatch(context); },
                          {"start it again to work in " + (h.home / Bottle).string()}));
    EXPECT_FALSE(fs::exists(h.home / Bottle / "drive_c/Program Files (x86)/Diablo II/Backup"));
}

// Steam's text files as users and crashes leave them: each refused with its reason, or read.
TEST(SteamFiles, BrokenTextIsRefusedWithItsReasonAndTheRestIsRead)
{
    VdfLimits small;
    small.maxDepth = 3;
    small.maxNodes = 5;
    small.maxText = 64;
    const std::tuple<const char*, std::string, VdfLimits, std::string> rows[] = {
        {"an unclosed quotation mark", "\"a\" \"b", {}, "an unclosed quotation mark"},
        {"a backslash at the end", "\"a\" \"b\\", {}, "an unclosed quotation mark"},
        {"a block never closed", "\"a\" { \"b\" \"c\"", {}, "the text ends inside a block"},
        {"a stray closing brace", "\"a\" \"b\" }", {}, "a closing brace without an opening"},
        {"a key with no value", "\"a\" { \"b\" }", {}, "a key without a value"},
        {"a key at the end", "\"a\"", {}, "a key without a value"},
        {"a brace for a key", "{ }", {}, "an opening brace where a key belongs"},
        {"an unclosed condition", "\"a\" \"b\" [$WIN", {}, "an unclosed condition"},
        {"a zero byte", std::string("\"a\" \"b\0\"", 7), {}, "a zero byte"},
        {"deeper than the limit", "a { b { c { d { } } } }", small, "nested deeper"},
        {"more keys than the limit", "a 1 b 2 c 3 d 4 e 5 f 6", small, "more keys"},
        {"larger than the limit", std::string(65, ' '), small, "larger than"},
        {"as deep as the limit", "a { b { c { } } }", small, ""},
        {"as many keys as the limit", "a 1 b 2 c 3 d 4 e 5", small, ""},
        {"as large as the limit", std::string(64, ' '), small, ""},
        {"comments, bare texts, conditions", "// c\na { b c [$LINUX] // d\n }", {}, ""},
        {"an empty file", "", {}, ""},
    };
    for (const auto& [what, text, limits, reason] : rows) {
        std::string error;
        const std::optional<VdfNode> root = parseVdf(text, error, limits);
        EXPECT_EQ(root.has_value(), reason.empty()) << what;
        EXPECT_NE(error.find(reason), std::string::npos) << what << ": " << error;
    }
    std::string error;
    const std::optional<VdfNode> root = parseVdf(
        "\"LibraryFolders\" { \"1\" \"/a \\\"b\\\" \\\\ c\\n\\q\" \"1\" \"second\" }", error);
    ASSERT_TRUE(root) << error;
    EXPECT_EQ(root->valueAt({"libraryfolders", "1"}), "/a \"b\" \\ c\n\\q"); // case, escapes
    EXPECT_EQ(root->valueAt({"libraryfolders"}), std::nullopt);              // a block
    EXPECT_EQ(root->valueAt({"libraryfolders", "1", "path"}), std::nullopt); // a value
    // A comment begins at "//" anywhere but in quotes; a single "/" is text; a condition
    // between a key and its value is passed over.
    const std::optional<VdfNode> commented =
        parseVdf("// c\na { b c/d // d\n e f//x\n g /h \"i\" \"//j\" k [$WIN32] v }", error);
    ASSERT_TRUE(commented) << error;
    for (const auto& [key, value] :
         {std::pair{"b", "c/d"}, {"e", "f"}, {"g", "/h"}, {"i", "//j"}, {"k", "v"}})
        EXPECT_EQ(commented->valueAt({"a", key}), value) << key;
}

} // namespace
