// Windows paths mapped onto a prefix's Unix files, checked against Wine's own winepath -u
// over generated paths: both slashes, repeated separators, "." and "..", climbs above the
// drive root, drive letters and names in any case. (Names with trailing dots or blanks are
// left out: Windows drops those, and Wine not always as Windows does.)
#include "core/OperationError.h"
#include "platform/linux/WinePrefix.h"
#include "support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <sstream>

using namespace velmoran;
using namespace velmoran::testing;

namespace {

// Debian's 64-bit Wine loader and its Windows-side programs.
const fs::path WineLoader = "/usr/lib/wine/wine64";
const fs::path WinePrograms = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows";

// Lexically the same Unix path: repeated and trailing slashes dropped.
std::string plain(std::string path)
{
    std::string out;
    for (char c : path)
        if (c != '/' || out.empty() || out.back() != '/')
            out += c;
    if (out.size() > 1 && out.back() == '/')
        out.pop_back();
    return out;
}

TEST(WinePath, PathsMapOntoTheFilesWinesOwnWinepathNames)
{
    if (!fs::exists(WineLoader) || !fs::exists(WinePrograms / "winepath.exe"))
        GTEST_SKIP() << "Wine's 64-bit loader is not installed";
    ScratchFolder scratch{"velmoran-winepath"};
    // The least of a prefix that Wine runs a program in: drive links and its own programs,
    // with the prefix update turned off.
    const fs::path root = scratch / "prefix";
    fs::create_directories(root / "dosdevices");
    fs::create_directories(root / "drive_c" / "windows");
    fs::create_directory_symlink(WinePrograms, root / "drive_c" / "windows" / "system32");
    fs::create_directory_symlink("../drive_c", root / "dosdevices" / "c:");
    fs::create_directory_symlink(scratch / "d", root / "dosdevices" / "d:");
    fs::create_directory_symlink(scratch / "d" / "Mods", root / "dosdevices" / "z:");
    writeFile(root / ".update-timestamp", "disable\n");
    for (const char* folder :
         {"prefix/drive_c/Games/Diablo II/Save", "prefix/drive_c/Spiele/\xC3\x84rger",
          "d/Mods/Median 2008", "d/\xCE\xA3\xCE\xBF\xCF\x86\xCE\xAF\xCE\xB1"})
        fs::create_directories(scratch / folder);
    writeFile(root / "drive_c" / "Games" / "Diablo II" / "patch_d2.mpq", "x");

    // Parts of paths: names as stored and in other cases, "." and "..", names that do not
    // exist.
    std::vector<std::string> parts;
    std::istringstream list(
        "Games|GAMES|Diablo II|DIABLO ii|save|SAVE|patch_d2.MPQ|Spiele|"
        "\xC3\xA4RGER|mods|MEDIAN 2008|\xCF\x83\xCE\x9F\xCE\xA6\xCE\x8A\xCE\x91|.|..|New|x y");
    for (std::string part; std::getline(list, part, '|');)
        parts.push_back(part);
    const char* separators[] = {"\\", "/", "\\\\", "/\\"};
    std::mt19937 random(20261208);
    std::vector<std::string> paths{"c:\\New\\..\\GAMES", "C:/x y/New/../../games/DIABLO II/"};
    for (int i = 0; i < 600; ++i) {
        std::string path{"cCdDzZ"[random() % 6], ':'};
        for (int n = 1 + random() % 6; n > 0; --n)
            path += separators[random() % 4] + parts[random() % parts.size()];
        if (random() % 4 == 0)
            path += separators[random() % 4];
        paths.push_back(path);
    }

    // One run of winepath for them all, each path quoted for the shell (none holds a quote).
    std::string command = "cd '" + scratch.path().string() + "' && WINEPREFIX='" + root.string() +
                          "' WINEDEBUG=-all DISPLAY= '" + WineLoader.string() + "' winepath.exe -u";
    for (const std::string& path : paths)
        command += " '" + path + "'";
    const fs::path output = scratch / "winepath.txt";
    command += " >'" + output.string() + "' 2>/dev/null; WINEPREFIX='" + root.string() +
               "' wineserver -k >/dev/null 2>&1";
    std::system(command.c_str());
    std::istringstream lines(readFile(output));

    const WinePrefix prefix(root);
    const std::string links = (root / "dosdevices").string() + "/";
    for (const std::string& path : paths) {
        std::string expected;
        ASSERT_TRUE(std::getline(lines, expected)) << "winepath gave no answer for " << path;
        // winepath names the drive link; we name what it leads to.
        ASSERT_EQ(expected.rfind(links, 0), 0u) << expected;
        const char drive = expected[links.size()];
        expected = prefix.driveTarget(drive)->string() + expected.substr(links.size() + 2);
        EXPECT_EQ(plain(prefix.toUnix(path).lexically_normal().string()),
                  plain(fs::path(expected).lexically_normal().string()))
            << path;
    }
}

// A prefix that Wine has not finished (no dosdevices yet) has the drives Wine gives it then:
// c: its drive_c, where that exists, and z: the root.
TEST(WinePath, APrefixWithoutDriveLinksHasDriveCAndTheRoot)
{
    const ScratchFolder scratch("velmoran-no-links");
    const WinePrefix prefix(scratch.path());
    EXPECT_EQ(prefix.driveTarget('c'), std::nullopt);
    fs::create_directories(scratch / "drive_c");
    for (const auto& [letter, target] : {std::pair{'C', scratch / "drive_c"}, {'z', fs::path("/")}})
        EXPECT_EQ(prefix.driveTarget(letter), target) << letter;
    EXPECT_EQ(prefix.driveTarget('d'), std::nullopt);
    EXPECT_EQ(prefix.toUnix("c:\\Games\\D2"), scratch / "drive_c" / "Games" / "D2");
    EXPECT_EQ(prefix.drives().size(), 2u);
}

} // namespace
