#pragma once

// Steam as Velmoran reads it: its install folders, the libraries each lists, the Protons
// installed in them, and which Proton runs a compat data folder's prefix.
#include "platform/linux/LaunchRecipe.h"
#include "platform/linux/LinuxEnvironment.h"

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace velmoran {

struct SteamLibrary
{
    std::filesystem::path folder; // holds steamapps/
    std::filesystem::path root;   // the Steam install that lists it
};

struct InstalledProton
{
    std::filesystem::path folder;   // holds the proton script
    std::vector<std::string> names; // its folder name, and the names Steam's mapping uses
};

class SteamInstall
{
public:
    // Steam's install folders, in this order, each once: ~/.local/share/Steam,
    // ~/.steam/steam, ~/.steam/root, ~/.steam/debian-installation, Flatpak's
    // ~/.var/app/com.valvesoftware.Steam/.local/share/Steam and .../data/Steam, Snap's
    // ~/snap/steam/common/.local/share/Steam; and each one's libraries: itself, then those
    // its steamapps/libraryfolders.vdf lists (the format with "path" keys, and the older one
    // with bare paths).
    static SteamInstall find(const LinuxEnvironment& environment);

    std::vector<std::filesystem::path> roots;
    std::vector<SteamLibrary> libraries;
    std::vector<std::string> searched;   // in words
    std::vector<std::string> passedOver; // with the reason, found at any time

    // The Protons in every library's steamapps/common/*/ and every install's
    // compatibilitytools.d/*/, listed once.
    const std::vector<InstalledProton>& protons();
    // Where protons() looks, in words.
    std::vector<std::string> protonPlaces() const;
    // The installed Proton of that name (a folder name, or a name of Steam's mapping).
    const InstalledProton* findProton(const std::string& name);

    // How a program starts in the prefix <compatData>/pfx: through the Proton that last ran
    // it, as its config_info records (or its version file, for Protons that stamp their own
    // name there), else the one Steam's config/config.vdf maps the id to
    // (CompatToolMapping; the id "0" is Steam's default). When neither is installed the start
    // says which Proton was looked for and where.
    PrefixStart protonStart(const std::filesystem::path& compatData, const std::string& appId,
                            const std::filesystem::path& steamRoot,
                            std::vector<std::string>& passedOver);

    // The install to name in STEAM_COMPAT_CLIENT_INSTALL_PATH for a prefix that no library
    // holds: the first found, else ~/.steam/steam.
    std::filesystem::path defaultRoot() const;

private:
    std::optional<std::string> mappedTool(const std::string& appId,
                                          std::vector<std::string>& passedOver);

    std::filesystem::path m_home;
    std::optional<std::vector<InstalledProton>> m_protons;
    std::optional<std::map<std::string, std::string>> m_mapping; // id -> tool name
};

} // namespace velmoran
