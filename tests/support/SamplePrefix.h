#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace velmoran::testing {

// Deterministic stand-in bytes for an archive or a save, different for every tag.
std::string standInBytes(std::string_view tag, std::size_t size);

// A Wine prefix laid out as Wine lays it out, with a stand-in game install:
//   <root>/prefix/system.reg           the game's InstallPath (32-bit view on win64)
//   <root>/prefix/dosdevices/c: d: e: z:   (drive links only where the Linux layer reads them)
//   <root>/prefix/drive_c/Program Files (x86)/Diablo II/
//       patch_d2.mpq, Storm.dll, Diablo II.exe, save/*.d2s
//   <root>/drive_d, <root>/drive_e     two drives of stand-in mod archives
// On Windows the same files are made and reached by their own paths.
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
    // The game folder as the registry holds it.
    const std::string& gameFolderWindows() const { return m_gameWindows; }

    // Rewrites system.reg with the given install path (or without the value).
    void writeRegistry(const std::string* installPath) const;

    static constexpr std::size_t ArchiveSize = 64 * 1024;

private:
    std::filesystem::path m_root;
    Options m_options;
    std::filesystem::path m_game;
    std::string m_gameWindows;
};

} // namespace velmoran::testing
