#include "core/OperationError.h"
#include "platform/linux/LinuxFileSystem.h"
#include "platform/linux/SafeFiles.h"
#include "support/SamplePrefix.h"
#include "support/ScratchFolder.h"
#include "AsNobody.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <functional>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace velmoran;
using namespace velmoran::testing;
namespace fs = std::filesystem;

namespace {

// A small file system mounted on a folder for the length of a test.
class Mount
{
public:
    Mount(const fs::path& where, const char* type, const char* options) : m_where(where)
    {
        fs::create_directories(where);
        if (::mount(type, where.c_str(), type, 0, options) != 0)
            m_error = std::string("cannot mount ") + type + " (" + options +
                      ") here: " + std::strerror(errno);
    }
    ~Mount()
    {
        if (m_error.empty())
            ::umount2(m_where.c_str(), MNT_DETACH);
    }
    Mount(const Mount&) = delete;
    Mount& operator=(const Mount&) = delete;
    const std::string& error() const { return m_error; }

private:
    fs::path m_where;
    std::string m_error;
};

std::vector<std::string> temporariesIn(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        if (SafeFiles::isTemporaryName(entry.path().filename().string()))
            names.push_back(entry.path().filename().string());
    return names;
}


std::string repeated(const std::string& block, std::size_t size)
{
    std::string bytes;
    bytes.reserve(size);
    while (bytes.size() < size)
        bytes += block;
    bytes.resize(size);
    return bytes;
}

std::string readLarge(const fs::path& path)
{
    std::string bytes(static_cast<std::size_t>(fs::file_size(path)), '\0');
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return "(unreadable)";
    const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    bytes.resize(got);
    return bytes;
}

TEST(CrashSafety, KilledInTheMiddleOfACopyTheOldFileStaysWhole)
{
    ScratchFolder scratch("velmoran-kill");
    SamplePrefix sample(scratch.path());
    const std::string game = sample.gameFolderWindows();
    const fs::path destination = sample.gameFolder() / "patch_d2.mpq";
    constexpr std::size_t Size = 64u << 20;
    const std::string oldBytes = repeated(standInBytes("old archive", 1u << 20), Size);
    const std::string newBytes = repeated(standInBytes("new archive", 1u << 20), Size);
    writeFile(destination, oldBytes);
    writeFile(sample.driveD() / "big" / "patch_d2.mpq", newBytes);

    int killedMidway = 0;
    for (int attempt = 0; attempt < 8 && killedMidway < 2; ++attempt) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            LinuxFileSystem files{WinePrefix(sample.prefix())};
            try {
                files.copyFile("d:\\big\\patch_d2.mpq", game + "\\patch_d2.mpq");
            } catch (...) {
                ::_exit(2);
            }
            ::_exit(0);
        }
        // Watch for the child's temporary file; kill the child once it is partly written.
        bool killed = false;
        for (;;) {
            int status = 0;
            if (::waitpid(child, &status, WNOHANG) == child)
                break;
            for (const std::string& name : temporariesIn(sample.gameFolder())) {
                struct stat st
                {
                };
                if (::stat((sample.gameFolder() / name).c_str(), &st) == 0 && st.st_size > 0 &&
                    static_cast<std::size_t>(st.st_size) < Size) {
                    ::kill(child, SIGKILL);
                    killed = true;
                }
            }
            if (killed) {
                ::waitpid(child, &status, 0);
                break;
            }
        }
        const std::string now = readLarge(destination);
        if (killed) {
            ++killedMidway;
            EXPECT_TRUE(now == oldBytes) << "attempt " << attempt << ": not the old bytes";
        } else {
            EXPECT_TRUE(now == newBytes) << "attempt " << attempt << ": a finished copy";
            writeFile(destination, oldBytes);
        }
    }
    EXPECT_GE(killedMidway, 1) << "no kill landed in the middle of a copy";

    // The killed copy's temporary file is recognised and removed by the next copy there.
    LinuxFileSystem files{WinePrefix(sample.prefix())};
    files.copyFile("d:\\Mods\\Median\\patch_d2.mpq", game + "\\patch_d2.mpq");
    EXPECT_EQ(temporariesIn(sample.gameFolder()), std::vector<std::string>{});
    EXPECT_EQ(readLarge(destination), readFile(sample.driveD() / "Mods/Median/patch_d2.mpq"));
}

TEST(CrashSafety, AFullFileSystemFailsCleanlyAndKeepsTheDestination)
{
    ScratchFolder scratch("velmoran-full");
    const fs::path small = scratch / "small";
    Mount mount(small, "tmpfs", "size=512k");
    if (!mount.error().empty())
        GTEST_SKIP() << "a small file system is needed to fill: " << mount.error();
    LinuxFileSystem files{WinePrefix(scratch / "prefix")};

    const std::string oldBytes = standInBytes("old", 300 * 1024);
    writeFile(small / "patch_d2.mpq", oldBytes);
    writeFile(scratch / "big.mpq", standInBytes("big", 400 * 1024));
    const std::string source = (scratch / "big.mpq").string();
    const std::string target = (small / "patch_d2.mpq").string();

    const std::string copyFailure = failureOf([&] { files.copyFile(source, target); });
    EXPECT_NE(copyFailure.find("No space left on device"), std::string::npos) << copyFailure;
    EXPECT_NE(copyFailure.find(source), std::string::npos) << copyFailure;
    EXPECT_NE(copyFailure.find(target), std::string::npos) << copyFailure;
    EXPECT_TRUE(readFile(small / "patch_d2.mpq") == oldBytes);
    EXPECT_EQ(temporariesIn(small), std::vector<std::string>{});

    const std::string lines(300 * 1024, 'x');
    const std::string textFailure =
        failureOf([&] { files.writeTextFile((small / "patch_d2.mpq").string(), {lines}); });
    EXPECT_NE(textFailure.find("No space left on device"), std::string::npos) << textFailure;
    EXPECT_TRUE(readFile(small / "patch_d2.mpq") == oldBytes);

    fs::create_directories(scratch / "tree" / "sub");
    writeFile(scratch / "tree" / "a.d2s", "a");
    writeFile(scratch / "tree" / "sub" / "big.d2s", standInBytes("tree", 400 * 1024));
    const std::string treeFailure = failureOf(
        [&] { files.copyFolderTree((scratch / "tree").string(), (small / "tree").string()); });
    EXPECT_NE(treeFailure.find("No space left on device"), std::string::npos) << treeFailure;
    EXPECT_EQ(temporariesIn(small / "tree" / "sub"), std::vector<std::string>{});
    EXPECT_EQ(readFile(small / "tree" / "a.d2s"), "a");
}

// The hidden attribute needs user extended attributes; where the file system has none,
// setting it is a clear failure, clearing it works, and reading attributes still works.
TEST(CrashSafety, HiddenOnAFileSystemWithoutUserAttributesIsAClearFailure)
{
    struct Case
    {
        const char* type;
        const char* options;
    };
    int withoutAttributes = 0;
    for (const Case& c : {Case{"tmpfs", "size=1m"}, Case{"ramfs", "mode=755"}}) {
        ScratchFolder scratch("velmoran-xattr");
        const fs::path where = scratch / "fs";
        Mount mount(where, c.type, c.options);
        if (!mount.error().empty())
            GTEST_SKIP() << "a file system must be mounted for this: " << mount.error();
        writeFile(where / "patch_d2.mpq", "x");
        const bool keepsAttributes =
            ::setxattr((where / "probe").c_str(), "user.x", "1", 1, 0) == 0 ||
            (writeFile(where / "probe", ""),
             ::setxattr((where / "probe").c_str(), "user.x", "1", 1, 0) == 0);
        LinuxFileSystem files{WinePrefix(scratch / "prefix")};
        const std::string file = (where / "patch_d2.mpq").string();
        const std::string failure =
            failureOf([&] { files.setAttributes(file, Attribute::Hidden); });
        if (keepsAttributes) {
            EXPECT_EQ(failure, "(no failure)") << c.type;
            EXPECT_EQ(files.fileAttributes(file), Attribute::Archive | Attribute::Hidden);
        } else {
            ++withoutAttributes;
            EXPECT_NE(failure.find("extended attributes"), std::string::npos) << failure;
            EXPECT_NE(failure.find(file), std::string::npos) << failure;
            EXPECT_EQ(files.fileAttributes(file), Attribute::Archive) << c.type;
        }
        files.setAttributes(file, Attribute::Normal);
        EXPECT_EQ(files.fileAttributes(file), Attribute::Archive) << c.type;
    }
    EXPECT_GE(withoutAttributes, 1) << "ramfs was expected to keep no user attributes";
}

TEST(CrashSafety, StrayTemporariesOfLiveProcessesAreKept)
{
    ScratchFolder scratch("velmoran-stray");
    // A process id that is in use (ours' parent) and one that cannot be (beyond pid_max).
    const std::string live = ".velmoran-copy-" + std::to_string(::getppid()) + "-1.tmp";
    const std::string dead = ".velmoran-copy-99999999-1.tmp";
    for (const std::string& name :
         {live, dead, std::string(".velmoran-copy-x-1.tmp"), std::string("velmoran-copy-1-1.tmp")})
        writeFile(scratch / name, "partial");
    EXPECT_EQ(SafeFiles::removeStrayTemporaries(scratch.path()), 1);
    EXPECT_TRUE(fs::exists(scratch / live));
    EXPECT_FALSE(fs::exists(scratch / dead));
    EXPECT_TRUE(fs::exists(scratch / ".velmoran-copy-x-1.tmp"));
    EXPECT_TRUE(fs::exists(scratch / "velmoran-copy-1-1.tmp"));
}

} // namespace
