// The game folder lookup without $WINEPREFIX, as every command makes it: fifty Wine prefixes
// in a scratch home across every launcher (~/.wine and ~/Games; Lutris and Flatpak Lutris;
// Bottles and Flatpak Bottles; Steam's two libraries; Heroic's Wine and Proton games), each
// system.reg padded to a full prefix's size, one of them holding the game; and how Launch
// finds the way to start it.
// Usage: PrefixLookupBench [rounds] [system.reg kilobytes]
#include "core/GameFolder.h"
#include "platform/linux/GamePrefixRegistry.h"
#include "platform/linux/LaunchRecipe.h"
#include "platform/linux/WinePrefixSearch.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <time.h>
#include <vector>

using namespace velmoran;
namespace fs = std::filesystem;

namespace {

void write(const fs::path& file, const std::string& text)
{
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

// A prefix whose system.reg holds `kilobytes` of class registrations, and the game's key
// when `game` is set.
void makePrefix(const fs::path& root, std::size_t kilobytes, bool game)
{
    fs::create_directories(root / "drive_c" / "Games" / "Diablo II");
    std::string text = "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n"
                       "#arch=win64\n\n";
    for (int i = 0; text.size() < kilobytes * 1024; ++i) {
        char key[160];
        std::snprintf(key, sizeof key,
                      "[Software\\\\Classes\\\\CLSID\\\\{%08X-0000-0000-C000-000000000046}"
                      "\\\\InProcServer32] 1700000000\n#time=1da0000000000000\n",
                      i);
        text += key;
        text += "@=\"C:\\\\windows\\\\system32\\\\ole32.dll\"\n\"ThreadingModel\"=\"Both\"\n\n";
    }
    if (game)
        text += "[Software\\\\Wow6432Node\\\\Blizzard Entertainment\\\\Diablo II] 1700000000\n"
                "\"InstallPath\"=\"C:\\\\Games\\\\Diablo II\"\n\n";
    write(root / "system.reg", text);
}

std::string lutrisGame(const fs::path& prefix)
{
    return "game:\n  exe: " + (prefix / "drive_c/Games/Diablo II/Game.exe").string() +
           "\n  prefix: " + prefix.string() +
           "\nname: Game\nrunner: wine\nsystem: {}\nwine:\n  version: lutris-7.2-2-x86_64\n";
}

double cpuMilliseconds()
{
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1))];
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 200;
    const std::size_t kilobytes = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 1536;
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/velmoran-bench-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        return 1;
    const fs::path home = pattern;

    LinuxEnvironment environment;
    environment.home = home;
    const auto program = [](const fs::path& file) {
        write(file, "#!/bin/sh\n");
        fs::permissions(file, fs::perms::owner_all);
    };
    const std::string h = home.string();
    makePrefix(home / ".wine", kilobytes, false);
    for (int i = 0; i < 5; ++i) {
        const std::string n = std::to_string(i);
        makePrefix(home / "Games" / ("plain-" + n), kilobytes, false);
        // Lutris: its own Wine builds, and Flatpak Lutris's GE-Proton through umu.
        const fs::path lutris = home / "Games" / ("lutris-" + n);
        makePrefix(lutris, kilobytes, false);
        write(home / ".local/share/lutris/games" / ("game-" + n + ".yml"), lutrisGame(lutris));
        const fs::path umu = home / "Games/umu" / ("umu-" + n);
        makePrefix(umu, kilobytes, false);
        fs::create_directory_symlink(".", umu / "pfx");
        write(home / ".var/app/net.lutris.Lutris/data/lutris/games" / ("umu-" + n + ".yml"),
              "game:\n  prefix: " + umu.string() + "\nrunner: wine\nwine:\n  version: ge-proton\n");
        // Bottles and Flatpak Bottles.
        const fs::path bottle = home / ".local/share/bottles/bottles" / ("Bottle" + n);
        makePrefix(bottle, kilobytes, false);
        write(bottle / "bottle.yml",
              "Name: Bottle\nPath: Bottle\nRunner: soda-7.0-9\nArch: win64\n");
        const fs::path flatpak =
            home / ".var/app/com.usebottles.bottles/data/bottles/bottles" / ("Flat" + n);
        makePrefix(flatpak, kilobytes, false);
        write(flatpak / "bottle.yml", "Name: Flat\nPath: Flat\nRunner: caffe-7.20\nArch: win64\n");
        // Heroic: a Wine game and a Proton game.
        const fs::path wine = home / "Games/Heroic/Prefixes/default" / ("Wine" + n);
        makePrefix(wine, kilobytes, false);
        const fs::path proton = home / "Games/Heroic/Prefixes/default" / ("Proton" + n);
        makePrefix(proton / "pfx", kilobytes, false);
        write(home / ".config/heroic/GamesConfig" / ("game" + n + ".json"),
              "{\"Wine" + n + "\": {\"winePrefix\": \"" + wine.string() +
                  "\", \"wineVersion\": {\"bin\": \"" + h +
                  "/wine-ge/bin/wine\", \"type\": \"wine\"}}, \"Proton" + n +
                  "\": {\"winePrefix\": \"" + proton.string() +
                  "\", \"wineVersion\": {\"bin\": \"" + h +
                  "/.config/heroic/tools/proton/GE-Proton8-25/proton\", \"type\": "
                  "\"proton\"}}}");
    }
    // Steam: 14 Proton prefixes in two libraries, some run by the Proton config.vdf maps.
    const fs::path steam = home / ".local/share/Steam";
    write(steam / "steamapps/libraryfolders.vdf",
          "\"libraryfolders\"\n{\n\t\"0\" { \"path\" \"" + steam.string() +
              "\" }\n\t\"1\" { \"path\" \"" + h + "/Library\" }\n}\n");
    fs::create_directories(home / ".steam");
    fs::create_directory_symlink(steam, home / ".steam/steam");
    program(steam / "steamapps/common/Proton 8.0/proton");
    program(steam / "compatibilitytools.d/GE-Proton9-20/proton");
    std::string mapping;
    for (int i = 0; i < 14; ++i) {
        const std::string id = std::to_string(3000000000 + i);
        const fs::path compat = (i % 2 ? steam : home / "Library") / "steamapps/compatdata" / id;
        makePrefix(compat / "pfx", kilobytes, i == 13);
        if (i % 3)
            write(compat / "config_info", "8.0-104\n" + steam.string() +
                                              "/steamapps/common/Proton 8.0/files/share/fonts/\n");
        else
            mapping += "\"" + id + "\" { \"name\" \"GE-Proton9-20\" }\n";
    }
    write(steam / "config/config.vdf",
          "\"InstallConfigStore\" { \"Software\" { \"Valve\" { \"Steam\" { "
          "\"CompatToolMapping\" {\n" +
              mapping + "} } } } }\n");

    const std::size_t found = searchWinePrefixes(environment).prefixes.size();
    GamePrefixRegistry registry(environment,
                                chooseWorkingPrefix(environment, GameKeyPath, GameValueName));
    std::vector<double> lookup, lookupCpu, search, starts;
    for (int i = 0; i < rounds; ++i) {
        const double cpuStart = cpuMilliseconds();
        auto start = std::chrono::steady_clock::now();
        const std::optional<std::string> folder = lookupGameFolder(registry);
        lookup.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
        lookupCpu.push_back(cpuMilliseconds() - cpuStart);
        if (!folder) {
            std::printf("the lookup did not find the game\n");
            return 1;
        }
        start = std::chrono::steady_clock::now();
        searchWinePrefixes(environment);
        search.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
        start = std::chrono::steady_clock::now();
        const PrefixStart how = startFor(environment, registry.workingPrefix().root());
        starts.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
        if (how.through != StartThrough::Proton || how.proton.empty()) {
            std::printf("Launch would not start the game through its Proton\n");
            return 1;
        }
    }
    std::printf("%zu prefixes, system.reg %zu KB each, %d rounds\n", found, kilobytes, rounds);
    std::printf("game folder lookup (find the prefixes, read every registry): "
                "median %.2f ms, 90%% %.2f ms\n",
                percentile(lookup, 0.5), percentile(lookup, 0.9));
    std::printf("the same, processor time (what a busy machine does not inflate): "
                "median %.2f ms, 90%% %.2f ms\n",
                percentile(lookupCpu, 0.5), percentile(lookupCpu, 0.9));
    std::printf("finding the prefixes alone (folders, YAML, JSON, VDF files):   "
                "median %.2f ms, 90%% %.2f ms\n",
                percentile(search, 0.5), percentile(search, 0.9));
    std::printf("how Launch starts the game (the search again, its Proton):     "
                "median %.2f ms, 90%% %.2f ms\n",
                percentile(starts, 0.5), percentile(starts, 0.9));
    fs::remove_all(home);
    return 0;
}
