#include "support/SamplePrefix.h"

#include "support/ScratchFolder.h"

#include <algorithm>
#include <random>
#include <sstream>

namespace fs = std::filesystem;

namespace velmoran::testing {

std::string standInBytes(std::string_view tag, std::size_t size)
{
    std::seed_seq seed(tag.begin(), tag.end());
    std::mt19937 random(seed);
    std::string bytes = "MPQ\x1a stand-in: " + std::string(tag) + "\n";
    for (bytes.reserve(size); bytes.size() < size;)
        bytes += static_cast<char>(random());
    bytes.resize(size);
    return bytes;
}

SamplePrefix::SamplePrefix(const fs::path& root, const Options& options)
    : m_root(root), m_options(options), m_game(driveC()), m_gameWindows(options.installPath)
{
    // C:\Program Files (x86)\Diablo II -> drive_c/Program Files (x86)/Diablo II
    std::istringstream parts(options.installPath.substr(3));
    for (std::string part; std::getline(parts, part, '\\');)
        if (!part.empty())
            m_game /= part;
    fs::create_directories(prefix() / "dosdevices");
    fs::create_directories(driveC() / "windows" / "system32"); // drive_d and drive_e: below
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

fs::path SamplePrefix::modFile(const std::string& label) const
{
    for (const auto& [name, drive, relative] : Mods)
        if (label == name)
            return (drive == 'e' ? driveE() : driveD()) / relative;
    return {};
}

void SamplePrefix::writeRegistry(const std::string* installPath) const
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

} // namespace velmoran::testing
