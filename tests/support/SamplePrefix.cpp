#include "support/SamplePrefix.h"

#include "support/ScratchFolder.h"

#include <cstdint>

namespace fs = std::filesystem;

namespace velmoran::testing {

std::string standInBytes(std::string_view tag, std::size_t size)
{
    std::uint32_t state = 2166136261u;
    for (char c : tag)
        state = (state ^ static_cast<unsigned char>(c)) * 16777619u;
    std::string bytes = "MPQ\x1a stand-in: " + std::string(tag) + "\n";
    bytes.reserve(size);
    while (bytes.size() < size) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        bytes += static_cast<char>(state & 0xFF);
    }
    bytes.resize(size);
    return bytes;
}

SamplePrefix::SamplePrefix(const fs::path& root, const Options& options)
    : m_root(root), m_options(options), m_game(driveC())
{
    // C:\Program Files (x86)\Diablo II -> drive_c/Program Files (x86)/Diablo II
    for (std::size_t pos = 3; pos < options.installPath.size();) {
        const std::size_t end =
            std::min(options.installPath.find('\\', pos), options.installPath.size());
        if (end > pos)
            m_game /= options.installPath.substr(pos, end - pos);
        pos = end + 1;
    }
    fs::create_directories(prefix() / "dosdevices");
    fs::create_directories(driveC() / "windows" / "system32");
    fs::create_directories(driveD());
    fs::create_directories(driveE());
#ifdef _WIN32
    m_gameWindows = windowsPath(m_game);
#else
    m_gameWindows = options.installPath;
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
    writeFile(m_game / "save" / "Sorceress.d2s", standInBytes("Sorceress.d2s", 1500));
    writeFile(m_game / "save" / "Sorceress.key", standInBytes("Sorceress.key", 40));
    writeFile(m_game / "save" / "Barbarian.d2s", standInBytes("Barbarian.d2s", 1800));
    writeFile(driveD() / "Mods" / "Median" / "patch_d2.mpq", standInBytes("Median", ArchiveSize));
    writeFile(driveD() / "Mods" / "Eastern Sun" / "PATCH_D2.MPQ",
              standInBytes("Eastern Sun", ArchiveSize));
    writeFile(driveD() / "Mods" / "readme.txt", "Mods for Diablo II\n");
    writeFile(driveE() / "Downloads" / "Zy-El" / "patch_d2.mpq",
              standInBytes("Zy-El", ArchiveSize));
}

std::string SamplePrefix::windowsPath(const fs::path& file) const
{
    std::string path;
#ifdef _WIN32
    path = file.string();
#else
    const fs::path relative = file.lexically_relative(m_game);
    if (!relative.empty() && *relative.begin() != "..")
        path = m_gameWindows + (relative == "." ? "" : "\\" + relative.string());
    for (const auto& [drive, letter] :
         {std::pair{driveD(), "d:"}, {driveE(), "e:"}, {driveC(), "c:"}})
        if (const fs::path inside = file.lexically_relative(drive);
            path.empty() && !inside.empty() && *inside.begin() != "..")
            path = std::string(letter) + "\\" + (inside == "." ? "" : inside.string());
#endif
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

void SamplePrefix::writeRegistry(const std::string* installPath) const
{
    std::string text = "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n";
    text += m_options.win64 ? "#arch=win64\n\n" : "#arch=win32\n\n";
    const std::string key = m_options.win64
                                ? "Software\\\\Wow6432Node\\\\Blizzard Entertainment\\\\Diablo II"
                                : "Software\\\\Blizzard Entertainment\\\\Diablo II";
    text += "[" + key + "] 1700000000\n#time=1da0000000000000\n";
    if (installPath) {
        text += "\"InstallPath\"=\"";
        for (char c : *installPath)
            text += c == '\\' || c == '"' ? std::string{'\\', c} : std::string{c};
        text += "\"\n";
    }
    writeFile(prefix() / "system.reg", text + "\"Program\"=\"Diablo II.exe\"\n\n");
}

} // namespace velmoran::testing
