#include "core/FindCommand.h"
#include "core/PatchSearch.h"
#include "core/PatchSwap.h"
#include "platform/linux/LinuxFileSystem.h"
#include "support/Recorders.h"
#include "support/SamplePrefix.h"
#include "support/ScratchFolder.h"
#include "support/SearchDrives.h"
#include "support/TestPlatform.h"
#include "AsNobody.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <sstream>
#include <thread>

#include <grp.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace velmoran;
using namespace velmoran::testing;
namespace fs = std::filesystem;

namespace {

struct Collect : SearchObserver
{
    void subfolderFound(std::uint64_t count) override { largest = std::max(largest, count); }
    void matchFound(const std::string& entry) override { entries.push_back(entry); }
    void folderPassedOver(const OperationError& error) override
    {
        passedOver.push_back(error.what());
    }
    std::vector<std::string> entries;
    std::vector<std::string> passedOver;
    std::uint64_t largest = 0;
};

std::vector<std::string> sorted(std::vector<std::string> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

void setDosAttributes(const fs::path& path, const char* value)
{
    ASSERT_EQ(::setxattr(path.c_str(), "user.DOSATTRIB", value, std::strlen(value), 0), 0)
        << path << ": " << std::strerror(errno);
}

class PatchSearchLinuxTest : public ::testing::Test
{
protected:
    fs::path c(const fs::path& relative = {}) const { return drives.drive('c') / relative; }
    void archive(const fs::path& relative) const { writeFile(c(relative), "archive"); }
    Collect walk(const std::string& root = "c:\\")
    {
        Collect seen;
        summary = FindFiles(files, root, PatchFileName, seen);
        return seen;
    }

    ScratchFolder scratch{"velmoran-search"};
    SearchDrives drives{scratch.path()};
    LinuxFileSystem files{WinePrefix(drives.prefix())};
    SearchSummary summary;
};

TEST_F(PatchSearchLinuxTest, SystemDotAndStoredAttributeRules)
{
    const struct
    {
        const char* folder;
        const char* attribute;     // user.DOSATTRIB of the folder, or nullptr
        const char* fileAttribute; // of its patch_d2.mpq
        bool listed;
    } cases[] = {
        {"plain", nullptr, nullptr, true},
        {".dotted", nullptr, nullptr, false}, // a dot-name is hidden
        {".shown", "0x0", nullptr, true},     // unless its attribute says it is not
        {"hidden", "0x2", nullptr, false},
        {"system", "0x4", nullptr, false},
        {"both", "0x6", nullptr, false},
        {"file hidden", nullptr, "0x2", false},
        {"file system", nullptr, "0x4", false},
        {"file shown", nullptr, "0x0", true},
        {"archive bit", "0x20", "0x20", true}, // other bits hide nothing
    };
    std::vector<std::string> expected;
    for (const auto& test : cases) {
        archive(fs::path(test.folder) / "patch_d2.mpq");
        if (test.attribute)
            setDosAttributes(c(test.folder), test.attribute);
        if (test.fileAttribute)
            setDosAttributes(c(test.folder) / "patch_d2.mpq", test.fileAttribute);
        if (test.listed)
            expected.push_back("c:\\" + std::string(test.folder) + "\\patch_d2.mpq");
    }
    EXPECT_EQ(sorted(walk().entries), sorted(expected));
}

TEST_F(PatchSearchLinuxTest, AFolderWithMoreThan32767SubfoldersIsWalkedWhole)
{
    // Made in memory where there is a tmpfs: removing 33,000 folders from a busy disk
    // takes minutes.
    const fs::path shm = "/dev/shm";
    std::optional<ScratchFolder> memory;
    fs::path big = c("Big");
    if (fs::is_directory(shm) && ::access(shm.c_str(), W_OK) == 0) {
        memory.emplace("velmoran-big");
        fs::create_directory_symlink(memory->path(), big);
        big = memory->path();
    } else {
        fs::create_directory(big);
    }
    const int count = 33000;
    char name[16];
    for (int i = 0; i < count; ++i) {
        std::snprintf(name, sizeof name, "s%05d", i);
        fs::create_directory(big / name);
    }
    std::vector<std::string> expected;
    for (int i : {0, 32767, 32768, count - 1}) {
        std::snprintf(name, sizeof name, "s%05d", i);
        writeFile(big / name / "patch_d2.mpq", "x");
        expected.push_back(std::string("c:\\Big\\") + name + "\\patch_d2.mpq");
    }
    const Collect seen = walk();
    EXPECT_EQ(seen.largest, static_cast<std::uint64_t>(count));
    EXPECT_EQ(sorted(seen.entries), expected);
    EXPECT_EQ(summary.foldersRead, static_cast<std::uint64_t>(count) + 2);
    EXPECT_EQ(summary.foldersPassedOver, 0u);
}

TEST_F(PatchSearchLinuxTest, LinkLoopsEndAndNoFolderIsWalkedTwice)
{
    archive("patch_d2.mpq");
    archive("A/B/patch_d2.mpq");
    fs::create_directory_symlink(c(), c("A/B/up"));          // back to the root
    fs::create_directory_symlink("../../A", c("A/B/again")); // back to A
    fs::create_directory_symlink(c("A/B"), c("Z"));          // B a second way
    fs::create_directory_symlink(c("A/B/Z/nothing"), c("A/dangling"));
    for (const unsigned readAhead : {0u, DefaultReadAhead}) {
        Collect seen;
        summary = FindFiles(files, "c:\\", PatchFileName, seen, nullptr, readAhead,
                            std::chrono::microseconds(0));
        ASSERT_EQ(seen.entries.size(), 2u) << ::testing::PrintToString(seen.entries);
        EXPECT_EQ(seen.entries[0], "c:\\patch_d2.mpq");
        EXPECT_TRUE(seen.entries[1] == "c:\\A\\B\\patch_d2.mpq" ||
                    seen.entries[1] == "c:\\Z\\patch_d2.mpq")
            << seen.entries[1];
        EXPECT_EQ(summary.repeatsSkipped, 3u); // up, again, and B by its second way
        EXPECT_EQ(summary.foldersPassedOver, 0u);
    }
}

int threadCount()
{
    int count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/task"))
        ++count;
    return count;
}

TEST_F(PatchSearchLinuxTest, AStopDuringReadAheadEndsTheWalkAndItsThreads)
{
    char name[32];
    for (int m = 0; m < 40; ++m)
        for (int v = 0; v < 40; ++v) {
            std::snprintf(name, sizeof name, "m%02d/v%02d", m, v);
            fs::create_directories(c(name));
            if (v == 0)
                archive(fs::path(name) / "patch_d2.mpq");
        }
    struct StopAfterFive : Collect
    {
        void matchFound(const std::string& entry) override
        {
            Collect::matchFound(entry);
            if (entries.size() == 5)
                stop.request();
        }
        StopRequest stop;
    } seen;
    const int before = threadCount();
    summary = FindFiles(files, "c:\\", PatchFileName, seen, &seen.stop, DefaultReadAhead,
                        std::chrono::microseconds(0));
    EXPECT_TRUE(summary.stopped);
    EXPECT_EQ(seen.entries.size(), 5u);
    EXPECT_LT(summary.foldersRead, 1641u);
    EXPECT_EQ(threadCount(), before);
}

TEST_F(PatchSearchLinuxTest, SystemFoldersAndThePrefixesOwnDrivesAreNotEntered)
{
    fs::create_directory_symlink("/", drives.prefix() / "dosdevices" / "z:");
    FolderScan scan;
    files.scanFolder("z:\\", PatchFileName, scan);
    for (const char* skipped : {"proc", "sys", "dev"})
        EXPECT_EQ(std::count(scan.subfolders.begin(), scan.subfolders.end(), skipped), 0)
            << skipped;
    EXPECT_EQ(std::count(scan.subfolders.begin(), scan.subfolders.end(), "tmp"), 1);

    // The prefix seen through z: holds dosdevices, which is not entered.
    std::string prefixFolder = "z:" + drives.prefix().string() + "\\";
    std::replace(prefixFolder.begin(), prefixFolder.end(), '/', '\\');
    files.scanFolder(prefixFolder, PatchFileName, scan);
    EXPECT_EQ(std::count(scan.subfolders.begin(), scan.subfolders.end(), "dosdevices"), 0)
        << prefixFolder;
}

TEST_F(PatchSearchLinuxTest, UnreadableFoldersArePassedOverCountedAndTold)
{
    archive("patch_d2.mpq");
    archive("Open/patch_d2.mpq");
    archive("Locked/patch_d2.mpq");
    archive("Open/Deeper/Locked too/patch_d2.mpq");
    archive("Open/Deeper/patch_d2.mpq");
    // Everything readable by anyone except the two locked folders.
    for (auto it = fs::recursive_directory_iterator(scratch.path());
         it != fs::recursive_directory_iterator(); ++it)
        if (it->is_directory() && !it->is_symlink())
            fs::permissions(it->path(), fs::perms::all, fs::perm_options::replace);
    fs::permissions(scratch.path(), fs::perms::all, fs::perm_options::replace);
    fs::permissions(c("Locked"), fs::perms::owner_all, fs::perm_options::replace);
    fs::permissions(c("Open/Deeper/Locked too"), fs::perms::owner_all, fs::perm_options::replace);

    const std::optional<std::string> report = runAsNobody([&] {
        LinuxFileSystem own{WinePrefix(drives.prefix())};
        TestPlatform unusedRegistry{drives.prefix()};
        Platform& real = unusedRegistry.real();
        Platform platform{own,         real.registry,          real.starter,        real.drives,
                          real.viewer, real.applicationFolder, real.temporaryFolder};
        FakeForm form;
        RecordingMessages messages;
        CommandContext context{platform, form, messages};
        findPatches(context);
        std::string text;
        for (const std::string& entry : sorted(form.list))
            text += "entry " + entry + "\n";
        for (const ShownMessage& message : messages.shown)
            text += "message [" + message.title + "] " + message.text + "\n";
        return text;
    });
    if (!report)
        GTEST_SKIP() << "this system does not let a child process drop to user 65534";

    EXPECT_NE(report->find("entry c:\\Open\\Deeper\\patch_d2.mpq\n"), std::string::npos) << *report;
    EXPECT_NE(report->find("entry c:\\Open\\patch_d2.mpq\n"), std::string::npos) << *report;
    EXPECT_NE(report->find("entry c:\\patch_d2.mpq\n"), std::string::npos) << *report;
    EXPECT_EQ(report->find("Locked\\patch_d2.mpq"), std::string::npos) << *report;
    EXPECT_EQ(report->find("Locked too\\patch_d2.mpq"), std::string::npos) << *report;
    // No "not found" message (three were found), one message that counts and explains.
    EXPECT_EQ(report->find(NothingFoundMessage), std::string::npos) << *report;
    EXPECT_NE(report->find("message [Velmoran] 2 folders could not be read"), std::string::npos)
        << *report;
    EXPECT_NE(report->find("Permission denied"), std::string::npos) << *report;
    EXPECT_NE(report->find("Locked"), std::string::npos) << *report;
}

TEST(PatchSearchDuringCommands, BackupAndUndoDuringASearchLeaveItsResultsAlone)
{
    ScratchFolder scratch{"velmoran-search"};
    SamplePrefix prefix{scratch.path()};
    // A tree wide enough that the commands run while the walk goes on.
    std::vector<std::string> expected;
    for (int i = 0; i < 300; ++i) {
        const std::string name = "Mod " + std::to_string(i);
        fs::create_directories(prefix.driveC() / "Mods" / name / "data" / "global");
        if (i % 3 == 0) {
            writeFile(prefix.driveC() / "Mods" / name / "patch_d2.mpq", name);
            expected.push_back("c:\\Mods\\" + name + "\\patch_d2.mpq");
        }
    }
    TestPlatform services{prefix.prefix()};
    FixedRegistry registry{prefix.gameFolderWindows()};
    Platform& platform = services.with(&registry);

    // Quiet: what the walk gives alone, the game folder's own archive left out.
    auto outsideGame = [&](std::vector<std::string> entries) {
        std::erase_if(entries, [](const std::string& e) {
            return e.find("\\Diablo II\\") != std::string::npos;
        });
        return sorted(entries);
    };
    Collect quiet;
    FindFiles(platform.files, "c:\\", PatchFileName, quiet);
    ASSERT_EQ(outsideGame(quiet.entries), sorted(expected));

    for (int round = 0; round < 3; ++round) {
        Collect busy;
        std::atomic<bool> done{false};
        SearchSummary result;
        std::thread search([&] {
            result = FindFiles(platform.files, "c:\\", PatchFileName, busy);
            done = true;
        });
        FakeForm form;
        RecordingMessages messages;
        CommandContext context{platform, form, messages};
        int cycles = 0;
        do {
            backupPatch(context);
            undoChanges(context);
            ++cycles;
        } while (!done && cycles < 200);
        search.join();
        EXPECT_EQ(outsideGame(busy.entries), sorted(expected)) << "round " << round;
        EXPECT_EQ(result.foldersPassedOver, 0u);
        EXPECT_EQ(messages.shown.size(), static_cast<std::size_t>(2 * cycles));
        EXPECT_EQ(readFile(prefix.gameFolder() / "patch_d2.mpq"),
                  standInBytes("original patch_d2.mpq", SamplePrefix::ArchiveSize));
    }
}

} // namespace
