#pragma once

// A stand-in game on a sample Wine prefix, driven through the real platform, and the means
// to read its layout back: which archive lies where, whether the backup is hidden, which
// version each save file holds. Shared by the patch swap's tests and its fault injection.

#include "core/CommandContext.h"
#include "core/FileSystem.h"
#include "core/PatchSwap.h"
#include "support/Recorders.h"
#include "support/SamplePrefix.h"
#include "support/ScratchFolder.h"
#include "support/TestPlatform.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <system_error>
#include <vector>

namespace velmoran::testing {

namespace swapfs = std::filesystem;

// A file's bytes in one read (the tests read large archives many times over).
inline std::string fileBytes(const swapfs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string bytes(static_cast<std::size_t>(swapfs::file_size(path)), '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

// A mod archive of the sample drives, as the search lists it.
struct ModArchive
{
    const char* label;
    const char* windowsPath;
    swapfs::path (SamplePrefix::*drive)() const;
    const char* relative;
};

inline const std::vector<ModArchive>& modArchives()
{
    static const std::vector<ModArchive> mods = {
        {"Median", "d:\\Mods\\Median\\patch_d2.mpq", &SamplePrefix::driveD,
         "Mods/Median/patch_d2.mpq"},
        {"Eastern Sun", "d:\\Mods\\Eastern Sun\\PATCH_D2.MPQ", &SamplePrefix::driveD,
         "Mods/Eastern Sun/PATCH_D2.MPQ"},
        {"Zy-El", "e:\\Downloads\\Zy-El\\patch_d2.mpq", &SamplePrefix::driveE,
         "Downloads/Zy-El/patch_d2.mpq"},
    };
    return mods;
}

class SwapGame
{
public:
    explicit SwapGame(const swapfs::path& root, const SamplePrefix::Options& options = {})
        : prefix(root, options), services(prefix.prefix())
    {
        const swapfs::path game = prefix.gameFolder();
        if (swapfs::exists(game / "patch_d2.mpq"))
            versions["original"] = fileBytes(game / "patch_d2.mpq");
        for (const ModArchive& mod : modArchives()) {
            const swapfs::path file = (prefix.*mod.drive)() / mod.relative;
            if (swapfs::exists(file))
                versions[mod.label] = fileBytes(file);
        }
        for (const auto& entry : swapfs::directory_iterator(game / "save"))
            saveVersions[entry.path().filename().string()].push_back(fileBytes(entry.path()));
    }

    Platform& platform() { return services.real(); }
    FileSystem& files() { return services.real().files; }
    CommandContext context() { return CommandContext{services.real(), form, messages}; }
    CommandContext context(RegistryReader& registry)
    {
        return CommandContext{services.with(&registry), form, messages};
    }

    void backup(int check1 = CheckValue::Unticked)
    {
        form.checks[0] = check1;
        CommandContext c = context();
        backupPatch(c);
    }
    void replace(const std::string& label)
    {
        select(label);
        CommandContext c = context();
        replacePatch(c);
    }
    void undo()
    {
        CommandContext c = context();
        undoChanges(c);
    }

    // Puts the mod archive of that label in List1, selected.
    void select(const std::string& label)
    {
        for (const ModArchive& mod : modArchives())
            if (label == mod.label) {
                form.list = {mod.windowsPath};
                form.selected = 0;
                return;
            }
        form.list = {label};
        form.selected = 0;
    }

    swapfs::path game() const { return prefix.gameFolder(); }
    // The game folder's Windows path followed by "\" and the relative path.
    std::string win(const std::string& relative) const
    {
        return prefix.gameFolderWindows() + "\\" + relative;
    }

    // Which known archive a file holds: "-" when missing, else its label, else "?<size>".
    std::string label(const swapfs::path& file) const
    {
        std::error_code ec;
        if (!swapfs::is_regular_file(file, ec))
            return "-";
        const std::string bytes = fileBytes(file);
        for (const auto& [name, content] : versions)
            if (content == bytes)
                return name;
        return "?" + std::to_string(bytes.size());
    }

    // The swap's layout in one line: "<archive> | <backup>[ hidden] | <save copy>".
    std::string layout()
    {
        const swapfs::path game = prefix.gameFolder();
        std::string text = label(game / "patch_d2.mpq") + " | ";
        if (swapfs::exists(game / "Backup")) {
            text += "Backup:" + label(game / "Backup" / "patch_d2.mpq");
            if (swapfs::exists(game / "Backup" / "patch_d2.mpq") &&
                (files().fileAttributes(win("Backup\\patch_d2.mpq")) & Attribute::Hidden))
                text += " hidden";
        } else {
            text += "no Backup";
        }
        text += " | ";
        text += swapfs::exists(game / "save_Backup") ? "save_Backup" : "no save_Backup";
        return text;
    }

    // Every file and folder under the game folder with its bytes and attributes.
    std::map<std::string, std::string> snapshot()
    {
        std::map<std::string, std::string> entries;
        const swapfs::path game = prefix.gameFolder();
        for (const auto& entry : swapfs::recursive_directory_iterator(game)) {
            const std::string relative = entry.path().lexically_relative(game).string();
            std::string windows = relative;
            for (char& c : windows)
                if (c == '/')
                    c = '\\';
            std::string value =
                "attributes " + std::to_string(files().fileAttributes(win(windows)));
            if (entry.is_regular_file())
                value += " bytes " + fileBytes(entry.path());
            entries[relative] = value;
        }
        return entries;
    }

    // The saves as name -> bytes, in the given folder under the game folder.
    std::map<std::string, std::string> saves(const std::string& folder = "save") const
    {
        std::map<std::string, std::string> result;
        std::error_code ec;
        for (auto it = swapfs::directory_iterator(prefix.gameFolder() / folder, ec);
             !ec && it != swapfs::directory_iterator(); it.increment(ec))
            if (it->is_regular_file())
                result[it->path().filename().string()] = fileBytes(it->path());
        return result;
    }

    SamplePrefix prefix;
    TestPlatform services;
    FakeForm form;
    RecordingMessages messages;
    std::map<std::string, std::string> versions;                  // archive label -> bytes
    std::map<std::string, std::vector<std::string>> saveVersions; // save name -> its versions
};

} // namespace velmoran::testing
