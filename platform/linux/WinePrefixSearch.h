#pragma once

#include "platform/linux/LinuxEnvironment.h"

#include <filesystem>
#include <string>
#include <vector>

namespace velmoran {

// A Wine prefix that Wine's default or a game manager keeps.
struct FoundPrefix
{
    std::filesystem::path root; // as it was named
    std::string origin;         // where it was named, in words
    // The Wine programs that the prefix's game manager names for it, in the order found;
    // each may be missing.
    std::vector<std::filesystem::path> runners;
};

struct PrefixSearch
{
    std::vector<FoundPrefix> prefixes;   // each folder once, whatever path led to it
    std::vector<std::string> searched;   // every place looked in, in words
    std::vector<std::string> passedOver; // what was skipped there, and why
};

// A folder is a Wine prefix when it holds system.reg and drive_c.
bool isWinePrefix(const std::filesystem::path& folder);

// Whether two paths lead to the same folder.
bool sameFolder(const std::filesystem::path& first, const std::filesystem::path& second);

// The user's Wine prefixes, found afresh and read only, in this order: ~/.wine; the prefixes
// that Lutris game files name (game: prefix:) in <data>/lutris/games/*.yml, then in
// <config>/lutris/games/*.yml; the folders in ~/Games that are prefixes; the Bottles
// bottles in <data>/bottles/bottles/ and in Flatpak's
// ~/.var/app/com.usebottles.bottles/data/bottles/bottles/. <data> is $XDG_DATA_HOME, else
// ~/.local/share; <config> $XDG_CONFIG_HOME, else ~/.config. $WINEPREFIX is not looked at.
// A file that cannot be read or is no valid YAML is passed over, never fatal.
PrefixSearch searchWinePrefixes(const LinuxEnvironment& environment);

// A prefix whose registry holds the value looked for, and the value.
struct PrefixHolding
{
    FoundPrefix prefix;
    std::string value;
};

struct ValueSearch
{
    PrefixSearch search;
    std::vector<PrefixHolding> holding;
};

// searchWinePrefixes, then the string value of HKEY_LOCAL_MACHINE\keyPath in each prefix's
// system.reg (in a 64-bit prefix its 32-bit view first). A registry that cannot be read is
// passed over.
ValueSearch findPrefixesHolding(const LinuxEnvironment& environment, const std::string& keyPath,
                                const std::string& valueName);

} // namespace velmoran
