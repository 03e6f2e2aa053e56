#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <tuple>

namespace velmoran::testing {

// Deterministic stand-in bytes for an archive or a save, different for every tag.
std::string standInBytes(std::string_view tag, std::size_t size);

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

    explicit SamplePrefix(const std::filesystem::path& root) : SamplePrefix(root, Options{}) {}
    SamplePrefix(const std::filesystem::path& root, const Options& options);
    std::filesystem::path prefix() const { return m_root / "prefix"; }
    std::filesystem::path driveC() const { return prefix() / "drive_c"; }
    std::filesystem::path driveD() const { return m_root / "drive_d"; }
    std::filesystem::path driveE() const { return m_root / "drive_e"; }
    std::filesystem::path gameFolder() const { return m_game; }
    std::filesystem::path modFile(const std::string& label) const; // empty for an unknown one
    const std::string& gameFolderWindows() const { return m_gameWindows; } // as in system.reg
    void writeRegistry(const std::string* installPath) const; // nullptr: without the value
    static constexpr std::size_t ArchiveSize = 64 * 1024;

private:
    std::filesystem::path m_root;
    Options m_options;
    std::filesystem::path m_game;
    std::string m_gameWindows;
};

} // namespace velmoran::testing
