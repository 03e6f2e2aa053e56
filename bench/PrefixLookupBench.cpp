// The game folder lookup without $WINEPREFIX, as every command makes it: ten Wine prefixes
// in a scratch home (~/.wine, Lutris game files and ~/Games, Bottles and Flatpak Bottles),
// each system.reg padded to a full prefix's size, one of them holding the game.
// Usage: PrefixLookupBench [rounds] [system.reg kilobytes]
#include "core/GameFolder.h"
#include "platform/linux/GamePrefixRegistry.h"
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
    makePrefix(home / ".wine", kilobytes, false);
    for (int i = 0; i < 3; ++i) {
        const fs::path prefix = home / "Games" / ("game-" + std::to_string(i));
        makePrefix(prefix, kilobytes, false);
        write(home / ".local/share/lutris/games" / ("game-" + std::to_string(i) + ".yml"),
              lutrisGame(prefix));
    }
    makePrefix(home / "Prefixes/old", kilobytes, false);
    write(home / ".config/lutris/games/old.yml", lutrisGame(home / "Prefixes/old"));
    makePrefix(home / "Games/plain", kilobytes, false);
    for (int i = 0; i < 2; ++i) {
        const fs::path bottle =
            home / ".local/share/bottles/bottles" / ("Bottle" + std::to_string(i));
        makePrefix(bottle, kilobytes, i == 1);
        write(bottle / "bottle.yml",
              "Name: Bottle\nPath: Bottle\nRunner: soda-7.0-9\nArch: win64\n");
        const fs::path flatpak = home / ".var/app/com.usebottles.bottles/data/bottles/bottles" /
                                 ("Flat" + std::to_string(i));
        makePrefix(flatpak, kilobytes, false);
        write(flatpak / "bottle.yml", "Name: Flat\nPath: Flat\nRunner: caffe-7.20\nArch: win64\n");
    }

    const std::size_t found = searchWinePrefixes(environment).prefixes.size();
    GamePrefixRegistry registry(environment,
                                chooseWorkingPrefix(environment, GameKeyPath, GameValueName));
    std::vector<double> lookup, lookupCpu, search;
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
    }
    std::printf("%zu prefixes, system.reg %zu KB each, %d rounds\n", found, kilobytes, rounds);
    std::printf("game folder lookup (find the prefixes, read every registry): "
                "median %.2f ms, 90%% %.2f ms\n",
                percentile(lookup, 0.5), percentile(lookup, 0.9));
    std::printf("the same, processor time (what a busy machine does not inflate): "
                "median %.2f ms, 90%% %.2f ms\n",
                percentile(lookupCpu, 0.5), percentile(lookupCpu, 0.9));
    std::printf("finding the prefixes alone (folders and YAML files):           "
                "median %.2f ms, 90%% %.2f ms\n",
                percentile(search, 0.5), percentile(search, 0.9));
    fs::remove_all(home);
    return 0;
}
