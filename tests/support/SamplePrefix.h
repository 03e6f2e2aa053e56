#pragma once

#include "support/ScratchFolder.h"

#include <algorithm>
#include <tuple>

namespace velmoran::testing {

// Deterministic stand-in bytes for an archive or a save, different for every tag.
inline std::string standInBytes(std::string_view tag, std::size_t size)
{
    std::seed_seq seed(tag.begin(), tag.end());
    std::mt19937 random(seed);
    std::string bytes = "MPQ\x1a stand-in: " + std::string(tag) + "\n";
    for (bytes.reserve(size); bytes.size() < size;)
        bytes += static_cast<char>(random());
    bytes.resize(size);
    return bytes;
}

// The stand-in mod archives: label, drive, path on the drive.
inline constexpr std::tuple<const char*, char, const char*> Mods[] = {
    {"Median", 'd', "Mods/Median/patch_d2.mpq"},
    {"Eastern Sun", 'd', "Mods/Eastern Sun/PATCH_D2.MPQ"},
    {"Zy-El", 'e', "Downloads/Zy-El/patch_d2.mpq"}};

// A Wine prefix as Wine lays it out (system.reg, dosdevices, drive_c) with a stand-in game
// install, and two drives of stand-in mod archives; on Windows the same files by their paths.
class SamplePrefix
{
public:
    struct Options
    {
        bool win64 = true;
        bool withGameEntry = true; // write the InstallPath value
        std::string installPath = "C:\\Program Files (x86)\\Diablo II";
    };

    fs::path prefix() const { return m_root / "prefix"; }
    fs::path driveC() const { return prefix() / "drive_c"; }
    fs::path driveD() const { return m_root / "drive_d"; }
    fs::path driveE() const { return m_root / "drive_e"; }
    fs::path gameFolder() const { return m_game; }
    // The game folder as system.reg names it.
    const std::string& gameFolderWindows() const { return m_gameWindows; }
    explicit SamplePrefix(const fs::path& root) : SamplePrefix(root, Options{}) {}
    SamplePrefix(const fs::path& root, const Options& options)
        : m_root(root), m_options(options), m_game(driveC()), m_gameWindows(options.installPath)
    {
        // C:\Program Files (x86)\Diablo II -> drive_c/Program Files (x86)/Diablo II
        std::istringstream parts(options.installPath.substr(3));
        for (std::string part; std::getline(parts, part, '\\');)
            if (!part.empty())
                m_game /= part;
        fs::create_directories(prefix() / "dosdevices");
        fs::create_directories(driveC() / "windows" / "system32"); // d:, e: below
#ifdef _WIN32
        m_gameWindows = m_game.string();
        std::replace(m_gameWindows.begin(), m_gameWindows.end(), '/', '\\');
#else
        for (const auto& [letter, target] : {std::pair{"c:", fs::path("../drive_c")},
                                             {"z:", fs::path("/")},
                                             {"d:", driveD()},
                                             {"e:", driveE()}})
            fs::create_directory_symlink(target, prefix() / "dosdevices" / letter);
#endif
        writeRegistry(options.withGameEntry ? &options.installPath : nullptr);

        writeFile(m_game / "patch_d2.mpq", standInBytes("original patch_d2.mpq", ArchiveSize));
        for (const char* name : {"Storm.dll", "Diablo II.exe", "d2data.mpq"})
            writeFile(m_game / name, standInBytes(name, 4096));
        for (const auto& [name, size] :
             {std::pair{"Sorceress.d2s", 1500}, {"Sorceress.key", 40}, {"Barbarian.d2s", 1800}})
            writeFile(m_game / "save" / name, standInBytes(name, size));
        for (const auto& [label, drive, relative] : Mods)
            writeFile(modFile(label), standInBytes(label, ArchiveSize));
        writeFile(driveD() / "Mods" / "readme.txt", "Mods for Diablo II\n");
    }
    fs::path modFile(const std::string& label) const // empty for an unknown one
    {
        for (const auto& [name, drive, relative] : Mods)
            if (label == name)
                return (drive == 'e' ? driveE() : driveD()) / relative;
        return {};
    }
    // Writes system.reg with the game's key, with the install path unless it is nullptr.
    void writeRegistry(const std::string* installPath) const
    {
        std::string text = "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=";
        text += m_options.win64 ? "win64\n\n[Software\\\\Wow6432Node" : "win32\n\n[Software";
        text += "\\\\Blizzard Entertainment\\\\Diablo II] 1700000000\n#time=1da0000000000000\n";
        if (installPath) {
            text += "\"InstallPath\"=\"";
            for (char c : *installPath)
                text += c == '\\' || c == '"' ? std::string{'\\', c} : std::string{c};
            text += "\"\n";
        }
        writeFile(prefix() / "system.reg", text + "\"Program\"=\"Diablo II.exe\"\n\n");
    }
    static constexpr std::size_t ArchiveSize = 64 * 1024;

private:
    fs::path m_root;
    Options m_options;
    fs::path m_game;
    std::string m_gameWindows;
};

} // namespace velmoran::testing
