// Wine's own places: the default prefix ~/.wine and the prefixes directly in ~/Games, started
// through $WINE or wine on PATH.
#include "platform/linux/LauncherPrefixes.h"

namespace fs = std::filesystem;

namespace velmoran {

void searchDefaultWine(const LinuxEnvironment& environment, PrefixCollector& collector)
{
    const fs::path defaultPrefix = environment.home / ".wine";
    collector.searched().push_back(defaultPrefix.string());
    if (isWinePrefix(defaultPrefix))
        collector.add(defaultPrefix, "Wine's default prefix", {});
}

void searchGamesFolder(const LinuxEnvironment& environment, PrefixCollector& collector)
{
    const fs::path games = environment.home / "Games";
    collector.searched().push_back("the folders in " + games.string());
    for (const fs::path& folder : folderEntries(games, collector.passedOver()))
        if (isWinePrefix(folder))
            collector.add(folder, "a folder in " + games.string(), {});
}

} // namespace velmoran
