#pragma once

#include "platform/linux/LaunchRecipe.h"
#include "platform/linux/LinuxEnvironment.h"

#include <filesystem>
#include <string>
#include <vector>

namespace velmoran {

// A Wine prefix that Wine's default or a launcher keeps, and how its launcher starts a
// program there.
struct FoundPrefix
{
    std::filesystem::path root; // as it was named
    std::string origin;         // where it was named, in words
    PrefixStart start;
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
// that Lutris game files name; the folders in ~/Games that are prefixes; the Bottles bottles;
// the Steam Proton prefixes; the Heroic prefixes (LauncherPrefixes.h says where each launcher
// keeps them). A folder found twice counts once, with the first launcher that knows how to
// start it. A file that cannot be read or parsed is passed over with its reason, never fatal.
PrefixSearch searchWinePrefixes(const LinuxEnvironment& environment);

// How a program is started in the prefix: as the launcher that keeps it starts it, found by
// searchWinePrefixes; for a Proton prefix that no launcher names (WINEPREFIX=<...>/pfx),
// through the Proton its compat data folder records; else through $WINE or wine on PATH.
PrefixStart startFor(const LinuxEnvironment& environment, const std::filesystem::path& root);

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
