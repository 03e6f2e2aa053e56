// Steam's install folders and libraries, its Protons, and the Proton of a compat data folder,
// read from libraryfolders.vdf, compatibilitytool.vdf, config.vdf and config_info.
#include "platform/linux/SteamLibraries.h"

#include "core/AsciiText.h"
#include "platform/linux/PrefixFiles.h"
#include "platform/linux/VdfText.h"
#include "platform/linux/WinePrefixSearch.h"

#include <system_error>

namespace fs = std::filesystem;

namespace velmoran {

namespace {

// libraryfolders.vdf is a few kilobytes; config.vdf grows with the games a user has.
constexpr std::size_t MaxLibraryFile = 1 << 20;
constexpr std::size_t MaxConfigFile = 16 << 20;
constexpr std::size_t MaxRecordFile = 64 << 10;

const char* const SteamRoots[] = {
    ".local/share/Steam",
    ".steam/steam",
    ".steam/root",
    ".steam/debian-installation",
    ".var/app/com.valvesoftware.Steam/.local/share/Steam",
    ".var/app/com.valvesoftware.Steam/data/Steam",
    "snap/steam/common/.local/share/Steam",
};

bool isFolder(const fs::path& path)
{
    std::error_code ec;
    return fs::is_directory(path, ec);
}

std::optional<VdfNode> loadVdf(const fs::path& file, std::size_t maxSize,
                               std::vector<std::string>& passedOver, bool noteMissing)
{
    const std::optional<std::string> text =
        readLauncherFile(file, maxSize, passedOver, noteMissing);
    if (!text)
        return std::nullopt;
    std::string error;
    std::optional<VdfNode> root = parseVdf(*text, error);
    if (!root)
        passedOver.push_back(file.string() + ": not a valid Steam file (" + error + ")");
    return root;
}

bool allDigits(std::string_view text)
{
    if (text.empty())
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// The name Steam's mapping gives a Proton of Valve's by its folder: "Proton 8.0" is
// proton_8, "Proton 5.13" proton_513, "Proton - Experimental" proton_experimental.
std::optional<std::string> valveToolName(const std::string& folder)
{
    if (folder == "Proton - Experimental")
        return "proton_experimental";
    if (folder == "Proton Hotfix")
        return "proton_hotfix";
    if (!folder.starts_with("Proton "))
        return std::nullopt;
    const std::string version = folder.substr(7);
    const std::size_t dot = version.find('.');
    if (dot == std::string::npos || !allDigits(version.substr(0, dot)) ||
        !allDigits(version.substr(dot + 1)))
        return std::nullopt;
    const std::string minor = version.substr(dot + 1);
    return "proton_" + version.substr(0, dot) + (minor == "0" ? "" : minor);
}

// A Proton folder's names: its own, Valve's mapping name, and the tool names of its
// compatibilitytool.vdf.
InstalledProton describeProton(const fs::path& folder, std::vector<std::string>& passedOver)
{
    InstalledProton proton{folder, {folder.filename().string()}};
    if (std::optional<std::string> valve = valveToolName(folder.filename().string()))
        proton.names.push_back(*valve);
    if (std::optional<VdfNode> tool =
            loadVdf(folder / "compatibilitytool.vdf", MaxLibraryFile, passedOver, false))
        if (const VdfNode* tools = tool->child("compatibilitytools"))
            if (const VdfNode* compat = tools->child("compat_tools"))
                for (const VdfNode& entry : compat->children)
                    proton.names.push_back(entry.key);
    return proton;
}

// The Proton folder that config_info's second line (its fonts folder) lies in.
std::optional<fs::path> recordedProton(const std::string& record)
{
    std::size_t end = record.find('\n');
    if (end == std::string::npos)
        return std::nullopt;
    const std::size_t start = end + 1;
    end = record.find('\n', start);
    std::string fonts = record.substr(start, end == std::string::npos ? end : end - start);
    while (!fonts.empty() && (fonts.back() == '/' || fonts.back() == '\r'))
        fonts.pop_back();
    for (const char* tail : {"/files/share/fonts", "/dist/share/fonts"})
        if (fonts.ends_with(tail) && fonts.front() == '/')
            return fs::path(fonts.substr(0, fonts.size() - std::string_view(tail).size()));
    return std::nullopt;
}

} // namespace

SteamInstall SteamInstall::find(const LinuxEnvironment& environment)
{
    SteamInstall steam;
    steam.m_home = environment.home;
    for (const char* relative : SteamRoots) {
        const fs::path root = environment.home / relative;
        steam.searched.push_back("Steam in " + root.string());
        if (!isFolder(root / "steamapps"))
            continue;
        bool seen = false;
        for (const fs::path& known : steam.roots)
            seen = seen || sameFolder(known, root);
        if (!seen)
            steam.roots.push_back(root);
    }
    const auto addLibrary = [&](const fs::path& folder, const fs::path& root) {
        if (!folder.is_absolute() || !isFolder(folder / "steamapps"))
            return;
        for (const SteamLibrary& known : steam.libraries)
            if (sameFolder(known.folder, folder))
                return;
        steam.libraries.push_back({folder.lexically_normal(), root});
    };
    for (const fs::path& root : steam.roots) {
        addLibrary(root, root);
        const fs::path file = root / "steamapps" / "libraryfolders.vdf";
        const std::optional<VdfNode> vdf = loadVdf(file, MaxLibraryFile, steam.passedOver, false);
        if (!vdf)
            continue;
        const VdfNode* folders = vdf->child("libraryfolders");
        if (!folders || !folders->block)
            continue;
        for (const VdfNode& entry : folders->children) {
            if (!allDigits(entry.key))
                continue; // TimeNextStatsReport, ContentStatsID
            if (entry.block) {
                if (std::optional<std::string> path = entry.valueAt({"path"}))
                    addLibrary(*path, root);
            } else {
                addLibrary(entry.value, root);
            }
        }
    }
    return steam;
}

const std::vector<InstalledProton>& SteamInstall::protons()
{
    if (m_protons)
        return *m_protons;
    m_protons.emplace();
    std::vector<fs::path> folders;
    for (const SteamLibrary& library : libraries)
        folders.push_back(library.folder / "steamapps" / "common");
    for (const fs::path& root : roots)
        folders.push_back(root / "compatibilitytools.d");
    for (const fs::path& folder : folders)
        for (const fs::path& entry : folderEntries(folder, passedOver))
            if (isProgram(entry / "proton"))
                m_protons->push_back(describeProton(entry, passedOver));
    return *m_protons;
}

std::vector<std::string> SteamInstall::protonPlaces() const
{
    std::vector<std::string> places;
    for (const SteamLibrary& library : libraries)
        places.push_back((library.folder / "steamapps" / "common").string() + "/*/proton");
    for (const fs::path& root : roots)
        places.push_back((root / "compatibilitytools.d").string() + "/*/proton");
    if (places.empty())
        places.push_back("no Steam install (none of ~/.steam/steam, ~/.local/share/Steam and "
                         "the others Velmoran knows holds steamapps)");
    return places;
}

const InstalledProton* SteamInstall::findProton(const std::string& name)
{
    for (const InstalledProton& proton : protons())
        for (const std::string& known : proton.names)
            if (equalsIgnoreAsciiCase(known, name))
                return &proton;
    return nullptr;
}

fs::path SteamInstall::defaultRoot() const
{
    return roots.empty() ? m_home / ".steam" / "steam" : roots.front();
}

std::optional<std::string> SteamInstall::mappedTool(const std::string& appId,
                                                    std::vector<std::string>& notes)
{
    if (!m_mapping) {
        m_mapping.emplace();
        for (const fs::path& root : roots) {
            const std::optional<VdfNode> config =
                loadVdf(root / "config" / "config.vdf", MaxConfigFile, notes, false);
            if (!config)
                continue;
            const VdfNode* node = &*config;
            for (const char* key :
                 {"InstallConfigStore", "Software", "Valve", "Steam", "CompatToolMapping"})
                if (node && node->block)
                    node = node->child(key);
            if (!node || !node->block)
                continue;
            for (const VdfNode& entry : node->children)
                if (std::optional<std::string> name = entry.valueAt({"name"});
                    name && !name->empty())
                    m_mapping->emplace(entry.key, *name); // the first install's wins
        }
    }
    for (const std::string& id : {appId, std::string("0")})
        if (const auto it = m_mapping->find(id); it != m_mapping->end())
            return it->second;
    return std::nullopt;
}

PrefixStart SteamInstall::protonStart(const fs::path& compatData, const std::string& appId,
                                      const fs::path& steamRoot, std::vector<std::string>& notes)
{
    PrefixStart start;
    start.through = StartThrough::Proton;
    start.compatData = compatData;
    start.steamRoot = steamRoot;
    std::string wanted;
    std::string says;
    if (const std::optional<std::string> record =
            readLauncherFile(compatData / "config_info", MaxRecordFile, notes, false)) {
        if (const std::optional<fs::path> folder = recordedProton(*record)) {
            if (isProgram(*folder / "proton")) {
                start.proton = *folder;
                return start;
            }
            wanted = folder->filename().string();
            says = wanted + " (the Proton that last ran it, as " +
                   (compatData / "config_info").string() + " records: " + folder->string() + ")";
        }
    }
    if (wanted.empty()) {
        // Without a config_info, the prefix version Proton stamps in `version` names GE's
        // builds by their folder name ("GE-Proton9-20"); Valve's ("8.0-104") match nothing.
        if (std::optional<std::string> version =
                readLauncherFile(compatData / "version", MaxRecordFile, notes, false)) {
            while (!version->empty() && (version->back() == '\n' || version->back() == '\r'))
                version->pop_back();
            if (const InstalledProton* proton = version->empty() ? nullptr : findProton(*version)) {
                start.proton = proton->folder;
                return start;
            }
        }
    }
    if (wanted.empty() && !appId.empty()) {
        if (std::optional<std::string> tool = mappedTool(appId, notes)) {
            wanted = *tool;
            says = wanted + " (the Proton that Steam's CompatToolMapping in config.vdf names)";
        }
    }
    if (!wanted.empty()) {
        if (const InstalledProton* proton = findProton(wanted)) {
            start.proton = proton->folder;
            return start;
        }
    }
    std::string places;
    for (const std::string& place : protonPlaces())
        places += "\n    " + place;
    const std::string prefix = (compatData / "pfx").string();
    if (wanted.empty())
        start.missing = "The Wine prefix " + prefix + " is a Proton prefix, but neither " +
                        (compatData / "config_info").string() +
                        " nor Steam's CompatToolMapping in config.vdf says which Proton runs "
                        "it. Velmoran starts a Proton prefix only with its own Proton, so "
                        "nothing was started.\n\nProtons installed in:" +
                        places + "\n\nStart the game once from its launcher.";
    else
        start.missing = "The Wine prefix " + prefix + " is started through " + says +
                        ". That Proton is not installed, and Velmoran starts a Proton prefix "
                        "only with its own Proton, so nothing was started.\n\nLooked for it "
                        "in:" +
                        places +
                        "\n\nInstall that Proton (in Steam, or in compatibilitytools.d), or "
                        "start the game once from its launcher.";
    return start;
}

} // namespace velmoran
