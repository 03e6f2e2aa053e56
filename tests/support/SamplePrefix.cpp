#include "support/SamplePrefix.h"

#include "support/ScratchFolder.h"

#include <cstdint>

namespace fs = std::filesystem;

namespace velmoran::testing {

namespace {

// One drive letter of the prefix. Only the Linux layer reads these links; on Windows the
// system's own drive letters are used, so the layout is made without them.
void linkDrive([[maybe_unused]] const fs::path& target, [[maybe_unused]] const fs::path& link)
{
#ifndef _WIN32
    fs::create_directory_symlink(target, link);
#endif
}

} // namespace

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

std::string wineEscape(std::string_view text)
{
    std::string out;
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out;
}

SamplePrefix::SamplePrefix(const fs::path& root)
    : SamplePrefix(root, Options{})
{
}

SamplePrefix::SamplePrefix(const fs::path& root, const Options& options)
    : m_root(root)
    , m_options(options)
{
    fs::create_directories(prefix() / "dosdevices");
    fs::create_directories(driveC() / "windows" / "system32");
    linkDrive("../drive_c", prefix() / "dosdevices" / "c:");
    linkDrive("/", prefix() / "dosdevices" / "z:");
    writeRegistry(options.withGameEntry ? &options.installPath : nullptr);

    const fs::path game = gameFolder();
    writeFile(game / "patch_d2.mpq", standInBytes("original patch_d2.mpq", ArchiveSize));
    writeFile(game / "Storm.dll", standInBytes("Storm.dll", 4096));
    writeFile(game / "Diablo II.exe", standInBytes("Diablo II.exe", 4096));
    writeFile(game / "d2data.mpq", standInBytes("d2data.mpq", 4096));
    writeFile(game / "save" / "Sorceress.d2s", standInBytes("Sorceress.d2s", 1500));
    writeFile(game / "save" / "Sorceress.key", standInBytes("Sorceress.key", 40));
    writeFile(game / "save" / "Barbarian.d2s", standInBytes("Barbarian.d2s", 1800));

    if (options.withModDrives) {
        fs::create_directories(driveD());
        fs::create_directories(driveE());
        linkDrive(driveD(), prefix() / "dosdevices" / "d:");
        linkDrive(driveE(), prefix() / "dosdevices" / "e:");
        writeFile(driveD() / "Mods" / "Median" / "patch_d2.mpq",
                  standInBytes("Median patch_d2.mpq", ArchiveSize));
        writeFile(driveD() / "Mods" / "Eastern Sun" / "PATCH_D2.MPQ",
                  standInBytes("Eastern Sun patch_d2.mpq", ArchiveSize));
        writeFile(driveD() / "Mods" / "readme.txt", "Mods for Diablo II\n");
        writeFile(driveE() / "Downloads" / "Zy-El" / "patch_d2.mpq",
                  standInBytes("Zy-El patch_d2.mpq", ArchiveSize));
    }
}

fs::path SamplePrefix::gameFolder() const
{
    // C:\Program Files (x86)\Diablo II -> drive_c/Program Files (x86)/Diablo II
    fs::path folder = driveC();
    std::string rest = m_options.installPath.substr(2);
    std::size_t pos = 0;
    while (pos < rest.size()) {
        std::size_t end = rest.find('\\', pos);
        if (end == std::string::npos)
            end = rest.size();
        if (end > pos)
            folder /= rest.substr(pos, end - pos);
        pos = end + 1;
    }
    return folder;
}

void SamplePrefix::writeRegistry(const std::string* installPath) const
{
    std::string text = "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n";
    text += m_options.win64 ? "#arch=win64\n\n" : "#arch=win32\n\n";
    text += "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion] 1700000000\n"
            "#time=1da0000000000000\n\"ProgramFilesDir\"=\"C:\\\\Program Files\"\n\n";
    const std::string key = m_options.win64
                                ? "Software\\\\Wow6432Node\\\\Blizzard Entertainment\\\\Diablo II"
                                : "Software\\\\Blizzard Entertainment\\\\Diablo II";
    text += "[" + key + "] 1700000000\n#time=1da0000000000000\n";
    if (installPath)
        text += "\"InstallPath\"=\"" + wineEscape(*installPath) + "\"\n";
    text += "\"Program\"=\"Diablo II.exe\"\n\n";
    writeFile(prefix() / "system.reg", text);
}

} // namespace velmoran::testing
