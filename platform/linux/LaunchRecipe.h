#pragma once

// How a program is started in a Wine prefix: through which Wine, Proton, umu or Bottles, as
// the launcher that keeps the prefix starts it; and the command line that results.
#include "platform/linux/LinuxEnvironment.h"

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace velmoran {

enum class StartThrough
{
    Wine,       // a Wine program with WINEPREFIX
    Proton,     // "<proton folder>/proton run" with Steam's compat data variables
    Umu,        // umu-run (PATH, else Lutris's own) with WINEPREFIX, GAMEID and PROTONPATH
    BottlesCli, // Flatpak Bottles' bottles-cli, inside its sandbox
};

struct PrefixStart
{
    StartThrough through = StartThrough::Wine;
    // Wine: the Wine programs the launcher names, in order; the first installed one starts.
    // None named: $WINE, else wine on PATH. Named but none installed: nothing starts.
    std::vector<std::filesystem::path> wines;
    std::filesystem::path proton;     // Proton: the folder of its proton script
    std::filesystem::path compatData; // Proton: STEAM_COMPAT_DATA_PATH
    std::filesystem::path steamRoot;  // Proton: STEAM_COMPAT_CLIENT_INSTALL_PATH
    std::string protonPath;           // umu: PROTONPATH, a folder or a name umu knows
    std::string gameId;               // umu: GAMEID
    // umu: where the launcher keeps umu when it is not on PATH (Lutris's runtime folder).
    std::vector<std::filesystem::path> umuPlaces;
    std::string bottle; // Bottles: the bottle's name
    // Where the prefix's own Wine or Proton is named but not installed: what is missing and
    // where it was looked for. Launch says so and starts nothing.
    std::string missing;

    // Nothing known about the prefix's launcher: $WINE or wine on PATH.
    bool unknown() const
    {
        return through == StartThrough::Wine && wines.empty() && missing.empty();
    }
};

// What is started: the program, its arguments, the variables set over the process's own (an
// empty value removes one), and the working folder.
struct LaunchRecipe
{
    std::string program;
    std::vector<std::string> arguments; // after argv[0]
    std::vector<std::pair<std::string, std::string>> environment;
    std::string workingFolder;
};

// The recipe that starts windowsProgram (its Unix path: unixProgram) with `switches` in the
// prefix at prefixRoot, in workingFolder (a Unix path). Raises an OperationError naming
// `operation` when what the start needs is missing: the prefix's own Wine or Proton, $WINE's
// program, wine or flatpak on PATH, umu-run on PATH or where the launcher keeps umu.
LaunchRecipe launchRecipe(const PrefixStart& start, const std::filesystem::path& prefixRoot,
                          const LinuxEnvironment& environment, const std::string& windowsProgram,
                          const std::string& unixProgram, const std::vector<std::string>& switches,
                          const std::string& workingFolder, const std::string& operation);

// Whether the path is an executable regular file.
bool isProgram(const std::filesystem::path& path);

} // namespace velmoran
