#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace velmoran {

// The environment variables that decide which Wine prefix and which Wine Velmoran uses,
// taken as one value so that a test can point them at a scratch home folder.
struct LinuxEnvironment
{
    std::filesystem::path home = "/";                // $HOME; "/" when unset or empty
    std::optional<std::string> winePrefix;           // $WINEPREFIX when set and not empty
    std::optional<std::string> wine;                 // $WINE when set and not empty
    std::optional<std::filesystem::path> dataHome;   // $XDG_DATA_HOME when an absolute path
    std::optional<std::filesystem::path> configHome; // $XDG_CONFIG_HOME when an absolute path

    static LinuxEnvironment fromProcess();

    // $XDG_DATA_HOME, else ~/.local/share; $XDG_CONFIG_HOME, else ~/.config.
    std::filesystem::path userData() const;
    std::filesystem::path userConfig() const;
};

} // namespace velmoran
