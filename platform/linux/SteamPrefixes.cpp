// Steam's Proton prefixes: compatdata/<id>/pfx in every library, each started through its
// Proton with Steam's compat data variables.
#include "platform/linux/LauncherPrefixes.h"

#include <system_error>

namespace fs = std::filesystem;

namespace velmoran {

void searchSteam(const LinuxEnvironment&, SteamInstall& steam, PrefixCollector& collector)
{
    collector.searched().insert(collector.searched().end(), steam.searched.begin(),
                                steam.searched.end());
    for (const SteamLibrary& library : steam.libraries) {
        const fs::path compat = library.folder / "steamapps" / "compatdata";
        collector.searched().push_back("the Steam Proton prefixes " + (compat / "*/pfx").string());
        for (const fs::path& entry : folderEntries(compat, collector.passedOver())) {
            const std::string id = entry.filename().string();
            if (id == "0" || id.find_first_not_of("0123456789") != std::string::npos)
                continue;
            if (!isWinePrefix(entry / "pfx"))
                continue;
            collector.add(entry / "pfx", "Steam Proton prefix of " + id,
                          steam.protonStart(entry, id, library.root, collector.passedOver()));
        }
    }
}

std::optional<fs::path> compatDataOf(const fs::path& prefix)
{
    std::error_code ec;
    const auto recorded = [&](const fs::path& folder) {
        return fs::exists(folder / "config_info", ec) || fs::exists(folder / "version", ec);
    };
    const fs::path named = prefix.lexically_normal();
    const fs::path root = named.has_filename() ? named : named.parent_path();
    if (root.filename() == "pfx" && recorded(root.parent_path()))
        return root.parent_path();
    if (fs::exists(root / "pfx", ec) && sameFolder(root / "pfx", root) && recorded(root))
        return root;
    return std::nullopt;
}

} // namespace velmoran
