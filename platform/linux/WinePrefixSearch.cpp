// The user's Wine prefixes, asked of every launcher in turn, and the one holding a registry
// value; what each launcher adds is in its own unit (LauncherPrefixes.h).
#include "platform/linux/WinePrefixSearch.h"

#include "core/OperationError.h"
#include "platform/linux/LauncherPrefixes.h"
#include "platform/linux/WineRegistry.h"

#include <sys/stat.h>
#include <system_error>

namespace fs = std::filesystem;

namespace velmoran {

bool isWinePrefix(const fs::path& folder)
{
    std::error_code ec;
    return fs::is_regular_file(folder / "system.reg", ec) &&
           fs::is_directory(folder / "drive_c", ec);
}

bool sameFolder(const fs::path& first, const fs::path& second)
{
    struct stat a
    {
    };
    struct stat b
    {
    };
    if (::stat(first.c_str(), &a) == 0 && ::stat(second.c_str(), &b) == 0)
        return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
    return first.lexically_normal() == second.lexically_normal();
}

PrefixSearch searchWinePrefixes(const LinuxEnvironment& environment)
{
    PrefixSearch search;
    PrefixCollector collector(search);
    SteamInstall steam = SteamInstall::find(environment);
    searchDefaultWine(environment, collector);
    searchLutris(environment, steam, collector);
    searchGamesFolder(environment, collector);
    searchBottles(environment, collector);
    searchSteam(environment, steam, collector);
    searchHeroic(environment, steam, collector);
    // What Steam's files held that could not be read, whichever launcher asked for them.
    search.passedOver.insert(search.passedOver.end(), steam.passedOver.begin(),
                             steam.passedOver.end());
    return search;
}

PrefixStart startFor(const LinuxEnvironment& environment, const fs::path& root)
{
    PrefixSearch search = searchWinePrefixes(environment);
    for (FoundPrefix& found : search.prefixes)
        if (sameFolder(found.root, root) && !found.start.unknown())
            return std::move(found.start);
    if (const std::optional<fs::path> compat = compatDataOf(root)) {
        SteamInstall steam = SteamInstall::find(environment);
        std::string id = compat->filename().string();
        if (compat->parent_path().filename() != "compatdata")
            id.clear();
        fs::path steamRoot = steam.defaultRoot();
        for (const SteamLibrary& library : steam.libraries)
            if (sameFolder(library.folder / "steamapps" / "compatdata", compat->parent_path()))
                steamRoot = library.root;
        std::vector<std::string> notes;
        return steam.protonStart(*compat, id, steamRoot, notes);
    }
    return {};
}

ValueSearch findPrefixesHolding(const LinuxEnvironment& environment, const std::string& keyPath,
                                const std::string& valueName)
{
    ValueSearch result{searchWinePrefixes(environment), {}};
    for (const FoundPrefix& prefix : result.search.prefixes) {
        try {
            WineRegistryReader registry{WinePrefix(prefix.root)};
            if (std::optional<std::string> value =
                    registry.readString(RootKey::LocalMachine, keyPath, valueName))
                result.holding.push_back({prefix, std::move(*value)});
        } catch (const OperationError& e) {
            result.search.passedOver.push_back((prefix.root / "system.reg").string() +
                                               ": could not be read (" + e.reason() + ")");
        }
    }
    return result;
}

} // namespace velmoran
