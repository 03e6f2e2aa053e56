// Lutris's prefixes: the game files of Lutris and Flatpak Lutris, and the Wine or Proton each
// game runs with (the game's own version, else the Wine runner's default, else GE-Proton).
#include "platform/linux/LauncherPrefixes.h"

#include "core/AsciiText.h"

#include <system_error>

namespace fs = std::filesystem;

namespace velmoran {

namespace {

const char* const FlatpakLutris = ".var/app/net.lutris.Lutris";
// What Lutris itself sets for a game that umu knows no id for.
const char* const DefaultGameId = "umu-default";

// Lutris's names for Wines installed outside its runners folder.
const std::pair<const char*, const char*> SystemWines[] = {
    {"winehq-devel", "/opt/wine-devel/bin/wine"},
    {"winehq-staging", "/opt/wine-staging/bin/wine"},
    {"wine-development", "/usr/lib/wine-development/wine"}};

// One Lutris install: where its game files, runners and runner settings are.
struct LutrisPlace
{
    fs::path games;
    fs::path data;   // runners/ below
    fs::path config; // runners/wine.yml of older versions
};

bool isLatestGeProton(const std::string& version)
{
    const std::string lower = asciiLowered(version);
    return lower == "ge-proton" || lower == "ge-proton (latest)";
}

bool isProtonVersion(const std::string& version)
{
    return isLatestGeProton(version) || (version.find("Proton") != std::string::npos &&
                                         version.find("lutris") == std::string::npos);
}

// The runners/wine.yml default version of a Lutris install, if any.
std::optional<std::string> defaultVersion(const LutrisPlace& place,
                                          std::vector<std::string>& passedOver)
{
    for (const fs::path& base : {place.data, place.config})
        if (const std::optional<YAML::Node> runner =
                loadYaml(base / "runners" / "wine.yml", passedOver, false))
            if (std::optional<std::string> version = scalarAt(*runner, {"wine", "version"}))
                return version;
    return std::nullopt;
}

PrefixStart lutrisStart(const std::string& version, const LutrisPlace& place, SteamInstall& steam,
                        const fs::path& file)
{
    PrefixStart start;
    if (version == "system")
        return start;
    for (const auto& [name, wine] : SystemWines)
        if (version == name) {
            start.wines.push_back(wine);
            return start;
        }
    if (!isProtonVersion(version)) {
        if (plainName(version))
            start.wines.push_back(place.data / "runners" / "wine" / version / "bin" / "wine");
        else
            start.missing = file.string() + " names the Wine version \"" + version +
                            "\", which is no name of a Lutris runner, so nothing was started.";
        return start;
    }
    start.through = StartThrough::Umu;
    start.gameId = DefaultGameId;
    // Where Lutris looks for umu after PATH: the folders it installs umu in, its own first.
    start.umuPlaces = {place.data / "runtime" / "umu" / "umu_run.py",
                       "/usr/local/share/umu/umu_run.py", "/usr/share/umu/umu_run.py",
                       "/opt/umu/umu_run.py"};
    if (isLatestGeProton(version)) {
        start.protonPath = "GE-Proton"; // umu's name for the latest GE-Proton it keeps
        return start;
    }
    std::vector<fs::path> places;
    if (plainName(version)) {
        for (const char* runners : {"proton", "wine"}) {
            const fs::path folder = place.data / "runners" / runners / version;
            if (isProgram(folder / "proton")) {
                start.protonPath = folder.string();
                return start;
            }
            places.push_back(place.data / "runners" / runners);
        }
        if (const InstalledProton* proton = steam.findProton(version)) {
            start.protonPath = proton->folder.string();
            return start;
        }
    }
    std::string looked;
    for (const fs::path& folder : places)
        looked += "\n    " + folder.string() + "/*/proton";
    for (const std::string& folder : steam.protonPlaces())
        looked += "\n    " + folder;
    start.missing = file.string() + " starts its game with " + version +
                    " (through umu), which is not installed. Velmoran starts a prefix only "
                    "with its own Proton, so nothing was started.\n\nLooked for it in:" +
                    looked;
    return start;
}

void searchGameFiles(const LinuxEnvironment& environment, const LutrisPlace& place,
                     SteamInstall& steam, PrefixCollector& collector)
{
    collector.searched().push_back("the Lutris game files " + (place.games / "*.yml").string());
    std::optional<std::optional<std::string>> fallback;
    for (const fs::path& file : folderEntries(place.games, collector.passedOver())) {
        if (!file.filename().string().ends_with(".yml"))
            continue;
        const std::optional<YAML::Node> document = loadYaml(file, collector.passedOver());
        if (!document)
            continue;
        std::optional<std::string> named = scalarAt(*document, {"game", "prefix"});
        if (!named)
            continue; // not a game that runs through Wine
        const fs::path prefix = expandHome(*named, environment.home);
        const std::string says = file.string() + ": names the prefix " + *named + ", which ";
        std::error_code ec;
        if (!prefix.is_absolute()) {
            collector.passedOver().push_back(says + "is not an absolute path");
        } else if (!fs::exists(prefix, ec)) {
            collector.passedOver().push_back(says + (fs::is_symlink(prefix, ec)
                                                         ? "is a link that leads nowhere"
                                                         : "does not exist"));
        } else if (!isWinePrefix(prefix)) {
            collector.passedOver().push_back(says +
                                             "is not a Wine prefix (no system.reg and drive_c)");
        } else {
            std::optional<std::string> version = scalarAt(*document, {"wine", "version"});
            if (!version) {
                if (!fallback)
                    fallback = defaultVersion(place, collector.passedOver());
                version = *fallback;
            }
            collector.add(prefix, "Lutris game file " + file.filename().string(),
                          lutrisStart(version.value_or("ge-proton"), place, steam, file));
        }
    }
}

} // namespace

void searchLutris(const LinuxEnvironment& environment, SteamInstall& steam,
                  PrefixCollector& collector)
{
    const fs::path data = environment.userData() / "lutris";
    const fs::path config = environment.userConfig() / "lutris";
    const fs::path flatpak = environment.home / FlatpakLutris;
    const LutrisPlace places[] = {
        {data / "games", data, config},
        {config / "games", data, config},
        {flatpak / "data" / "lutris" / "games", flatpak / "data" / "lutris",
         flatpak / "config" / "lutris"},
        {flatpak / "config" / "lutris" / "games", flatpak / "data" / "lutris",
         flatpak / "config" / "lutris"},
    };
    for (const LutrisPlace& place : places)
        searchGameFiles(environment, place, steam, collector);
}

} // namespace velmoran
