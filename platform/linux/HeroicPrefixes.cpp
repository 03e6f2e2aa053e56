// Heroic's prefixes: the games' settings files of Heroic and Flatpak Heroic, and Heroic's
// default prefix folders, each started through the Wine or Proton Heroic runs it with.
#include "platform/linux/LauncherPrefixes.h"

#include <nlohmann/json.hpp>

#include <system_error>

namespace fs = std::filesystem;

namespace velmoran {

namespace {

// A game's settings are a few kilobytes.
constexpr std::size_t MaxJsonFile = 4 << 20;

const char* const FlatpakHeroic = ".var/app/com.heroicgameslauncher.hgl/config/heroic";

std::string textAt(const nlohmann::json& object, const char* key)
{
    const auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

void addGame(const nlohmann::json& game, const fs::path& file, const std::string& appName,
             const LinuxEnvironment& environment, SteamInstall& steam, PrefixCollector& collector)
{
    const std::string named = textAt(game, "winePrefix");
    if (named.empty())
        return; // a native game
    const fs::path folder = expandHome(named, environment.home);
    const nlohmann::json version = game.contains("wineVersion") && game["wineVersion"].is_object()
                                       ? game["wineVersion"]
                                       : nlohmann::json::object();
    const std::string type = textAt(version, "type");
    const std::string bin = expandHome(textAt(version, "bin"), environment.home).string();
    const bool proton = type == "proton";
    const fs::path prefix = proton ? folder / "pfx" : folder;
    const std::string says = file.string() + ": names the prefix " + prefix.string() + ", which ";
    if (!folder.is_absolute()) {
        collector.passedOver().push_back(says + "is not an absolute path");
        return;
    }
    if (!isWinePrefix(prefix)) {
        std::error_code ec;
        collector.passedOver().push_back(
            says + (fs::exists(prefix, ec) ? "is not a Wine prefix (no system.reg and drive_c)"
                                           : "does not exist"));
        return;
    }
    PrefixStart start;
    if (proton) {
        start.through = StartThrough::Proton;
        start.compatData = folder;
        start.steamRoot = steam.defaultRoot();
        start.proton = fs::path(bin).parent_path();
        if (bin.empty() || !isProgram(bin))
            start.missing =
                "The Wine prefix " + prefix.string() + " is started by Heroic through " +
                (version.contains("name") ? textAt(version, "name") + ", " : "") + "the Proton " +
                (bin.empty() ? "(none named)" : bin) + " (" + file.string() +
                "), which is not installed. Velmoran starts a Proton prefix only "
                "with its own Proton, so nothing was started.";
    } else if (!bin.empty()) {
        start.wines.push_back(bin);
    }
    collector.add(prefix, "Heroic game " + appName, std::move(start));
}

void searchGamesConfig(const fs::path& folder, const LinuxEnvironment& environment,
                       SteamInstall& steam, PrefixCollector& collector)
{
    collector.searched().push_back("the Heroic game settings " + (folder / "*.json").string());
    for (const fs::path& file : folderEntries(folder, collector.passedOver())) {
        if (file.extension() != ".json")
            continue;
        const std::optional<std::string> text =
            readLauncherFile(file, MaxJsonFile, collector.passedOver());
        if (!text)
            continue;
        nlohmann::json document;
        try {
            document = nlohmann::json::parse(*text);
        } catch (const std::exception& e) {
            collector.passedOver().push_back(file.string() + ": not valid JSON (" + e.what() + ")");
            continue;
        }
        if (!document.is_object())
            continue;
        for (const auto& [appName, game] : document.items())
            if (game.is_object())
                addGame(game, file, appName, environment, steam, collector);
    }
}

void searchDefaultFolder(const fs::path& folder, SteamInstall& steam, PrefixCollector& collector)
{
    collector.searched().push_back("the Heroic prefixes " + (folder / "*").string());
    for (const fs::path& entry : folderEntries(folder, collector.passedOver())) {
        const std::string origin = "Heroic prefix " + entry.filename().string();
        if (isWinePrefix(entry / "pfx")) {
            // A pfx leading back to its folder is umu's: the folder is the prefix itself.
            const fs::path prefix = sameFolder(entry / "pfx", entry) ? entry : entry / "pfx";
            collector.add(
                prefix, origin,
                steam.protonStart(entry, "", steam.defaultRoot(), collector.passedOver()));
        } else if (isWinePrefix(entry)) {
            collector.add(entry, origin, {});
        }
    }
}

} // namespace

void searchHeroic(const LinuxEnvironment& environment, SteamInstall& steam,
                  PrefixCollector& collector)
{
    searchGamesConfig(environment.userConfig() / "heroic" / "GamesConfig", environment, steam,
                      collector);
    searchGamesConfig(environment.home / FlatpakHeroic / "GamesConfig", environment, steam,
                      collector);
    const fs::path prefixes = environment.home / "Games" / "Heroic" / "Prefixes";
    searchDefaultFolder(prefixes, steam, collector);
    searchDefaultFolder(prefixes / "default", steam, collector);
}

} // namespace velmoran
