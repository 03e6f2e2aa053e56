// The command line for each way a launcher starts a prefix's programs: plain Wine, Steam's
// Proton, umu (Lutris's Proton) and Flatpak Bottles' own command-line tool.
#include "platform/linux/LaunchRecipe.h"

#include "core/OperationError.h"
#include "platform/linux/DetachedProcess.h"

#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace velmoran {

namespace {

std::string chooseWine(const PrefixStart& start, const LinuxEnvironment& environment,
                       const std::string& operation)
{
    if (const std::optional<std::string>& named = environment.wine) {
        const std::string wine =
            named->find('/') == std::string::npos ? findOnPath(*named) : *named;
        if (wine.empty() || !isProgram(wine))
            throw OperationError(operation, {*named},
                                 "WINE is set to \"" + *named +
                                     "\", which is no program that can be run. Set it to your "
                                     "Wine program, or unset it to use wine from PATH.");
        return wine;
    }
    if (!start.missing.empty())
        throw OperationError(operation, {}, start.missing);
    for (const fs::path& wine : start.wines)
        if (isProgram(wine))
            return wine.string();
    if (!start.wines.empty()) {
        std::string looked;
        for (const fs::path& wine : start.wines)
            looked += (looked.empty() ? "" : ", ") + wine.string();
        throw OperationError(operation, {start.wines.front().string()},
                             "the Wine that the prefix's launcher names for it is not installed "
                             "(looked for " +
                                 looked +
                                 "). Velmoran starts a prefix only with its own Wine, so "
                                 "nothing was started; install that Wine in its launcher, or "
                                 "set WINE to the Wine program to use.");
    }
    const std::string wine = findOnPath("wine");
    if (wine.empty())
        throw OperationError(operation, {},
                             "wine was not found on PATH. Velmoran starts the game through "
                             "Wine; install it (on Debian: apt install wine) and try again.");
    return wine;
}

std::string requireOnPath(const std::string& name, const std::string& why,
                          const std::string& operation)
{
    const std::string found = findOnPath(name);
    if (found.empty())
        throw OperationError(operation, {}, name + " was not found on PATH. " + why);
    return found;
}

} // namespace

bool isProgram(const fs::path& path)
{
    struct stat st
    {
    };
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

LaunchRecipe launchRecipe(const PrefixStart& start, const fs::path& prefixRoot,
                          const LinuxEnvironment& environment, const std::string& windowsProgram,
                          const std::string& unixProgram, const std::vector<std::string>& switches,
                          const std::string& workingFolder, const std::string& operation)
{
    LaunchRecipe recipe;
    recipe.workingFolder = workingFolder;
    switch (start.through) {
    case StartThrough::Wine:
        recipe.program = chooseWine(start, environment, operation);
        recipe.arguments = {windowsProgram};
        recipe.environment = {{"WINEPREFIX", prefixRoot.string()}};
        break;
    case StartThrough::Proton: {
        if (!start.missing.empty())
            throw OperationError(operation, {start.compatData.string()}, start.missing);
        const fs::path proton = start.proton / "proton";
        if (!isProgram(proton))
            throw OperationError(operation, {proton.string()},
                                 "the prefix's Proton, " + proton.string() +
                                     ", is no program that can be run, so nothing was started");
        recipe.program = proton.string();
        recipe.arguments = {"run", windowsProgram};
        recipe.environment = {{"WINEPREFIX", ""},
                              {"STEAM_COMPAT_DATA_PATH", start.compatData.string()},
                              {"STEAM_COMPAT_CLIENT_INSTALL_PATH", start.steamRoot.string()}};
        break;
    }
    case StartThrough::Umu:
        if (!start.missing.empty())
            throw OperationError(operation, {prefixRoot.string()}, start.missing);
        recipe.program = findOnPath("umu-run");
        for (const fs::path& umu : start.umuPlaces)
            if (recipe.program.empty() && isProgram(umu))
                recipe.program = umu.string();
        if (recipe.program.empty()) {
            std::string looked = "PATH";
            for (const fs::path& umu : start.umuPlaces)
                looked += ", " + umu.string();
            throw OperationError(
                operation, {},
                "umu-run was not found (looked in " + looked +
                    "). Lutris starts this prefix's game with Proton through umu, and Velmoran "
                    "does the same, so nothing was started. Install umu (umu-launcher), or "
                    "choose a Wine version for the game in Lutris.");
        }
        recipe.arguments = {windowsProgram};
        recipe.environment = {{"WINEPREFIX", prefixRoot.string()},
                              {"GAMEID", start.gameId},
                              {"PROTONPATH", start.protonPath},
                              {"WINEARCH", "win64"}};
        break;
    case StartThrough::BottlesCli:
        recipe.program = requireOnPath(
            "flatpak",
            "The prefix is a bottle of Bottles from Flatpak, whose Wine runs only inside "
            "Flatpak, so nothing was started.",
            operation);
        recipe.arguments = {"run",
                            "--command=bottles-cli",
                            "com.usebottles.bottles",
                            "run",
                            "-b",
                            start.bottle,
                            "-e",
                            unixProgram};
        if (!switches.empty())
            recipe.arguments.push_back("--");
        break;
    }
    recipe.arguments.insert(recipe.arguments.end(), switches.begin(), switches.end());
    return recipe;
}

} // namespace velmoran
