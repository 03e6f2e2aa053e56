// What only the Linux layer has: Wine's attributes, registry, drives, wine and xdg-open.
#include "core/ExcelFolders.h"
#include "core/FindCommand.h"
#include "core/GameFolder.h"
#include "core/LaunchCommand.h"
#include "core/OperationError.h"
#include "core/PatchSearch.h"
#include "core/PatchSwap.h"
#include "core/PathRules.h"
#include "platform/linux/DetachedProcess.h"
#include "platform/linux/LauncherPrefixes.h"
#include "platform/linux/LinuxFileSystem.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/PrefixFiles.h"
#include "platform/linux/SafeFiles.h"
#include "platform/linux/SteamLibraries.h"
#include "platform/linux/WineProgramStarter.h"
#include "platform/linux/WineRegistry.h"
#include "platform/linux/XdgUrlViewer.h"
#include "support/SampleGame.h"
#include "support/StandIns.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <functional>
#include <linux/filter.h>
#include <linux/magic.h>
#include <linux/seccomp.h>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>

using namespace velmoran;
using namespace velmoran::testing;
using Texts = std::vector<std::string>;
using Names = std::set<std::string>;

namespace {

// How many descriptors the process holds open.
std::ptrdiff_t openDescriptors()
{
    return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
}

// Whether check() holds in child processes where getxattrat(2) fails as it does on kernels
// before 6.13 (Debian 12's among them) and in sandboxes that refuse calls they do not know.
bool holdsWithoutGetXattrAt(const std::function<bool()>& check)
{
    for (const unsigned refusal : {ENOSYS, EPERM, EINVAL}) {
        const pid_t child = ::fork();
        if (child == 0) {
            constexpr unsigned GetXattrAt = 464; // the same number on every architecture
            sock_filter refuse[] = {BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
                                    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, GetXattrAt, 0, 1),
                                    BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | refusal),
                                    BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW)};
            const sock_fprog program{std::size(refuse), refuse};
            ::_exit(::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
                            ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0 && check()
                        ? 0
                        : 1);
        }
        int status = 0;
        if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
            WEXITSTATUS(status) != 0)
            return false;
    }
    return true;
}

class OnWine : public ::testing::Test
{
protected:
    // The subfolders a scan gives, and its matches after "="; each scan into the last one's
    // result, which it must replace.
    Names scanned(const std::string& folder, const std::string& name = "x")
    {
        files.scanFolder(folder, name, scan);
        Names seen(scan.subfolders.begin(), scan.subfolders.end());
        for (const std::string& match : scan.matches)
            seen.insert("=" + match);
        return seen;
    }
    void link(const fs::path& target, const std::string& drive)
    {
        fs::create_directory_symlink(target, sample.prefix() / "dosdevices" / drive);
    }

    FolderScan scan;
    ScratchFolder scratch{"velmoran-wine"};
    SamplePrefix sample{scratch.path()};
    WinePrefix prefix{sample.prefix()};
    LinuxFileSystem files{prefix};
};

TEST_F(OnWine, PathsMapThroughTheDriveLinksAsTheyAreNowAndNamesHideAsWineHidesThem)
{
    const fs::path median = sample.driveD() / "Mods" / "Median";
    writeFile(median / "Sub" / "x", "x");
    // A dot-name hides unless user.DOSATTRIB says otherwise; Wine's archive bit 0x20 does not.
    for (const auto& [folder, attribute] : {std::pair{".d", ""},
                                            {"..d", ""},
                                            {".shown", "0x0"},
                                            {"Archived", "0x20"},
                                            {"Hidden", "0x22"},
                                            {"System", "0x4"}}) {
        fs::create_directories(median / folder);
        if (*attribute)
            ::setxattr((median / folder).c_str(), "user.DOSATTRIB", attribute,
                       std::strlen(attribute), 0);
    }
    link(sample.driveD(), "a:");
    const Texts ways{"A:\\MODS\\median\\", "d:\\Mods\\.\\Other\\..\\Median", median.string()};
    const Names shown{"Sub", ".shown", "Archived", "=patch_d2.mpq"};
    for (const std::string& way : ways)
        EXPECT_EQ(scanned(way, "PATCH_D2.MPQ"), shown) << way;
    // Without getxattrat(2), the attributes are read by each name's path.
    EXPECT_TRUE(holdsWithoutGetXattrAt([&] {
        return std::all_of(ways.begin(), ways.end(), [&](const std::string& way) {
            return scanned(way, "PATCH_D2.MPQ") == shown;
        });
    }));
    files.setAttributes(sample.gameFolderWindows() + "\\patch_d2.mpq", Attribute::Hidden);
    char stored[8] = {};
    ::getxattr((sample.gameFolder() / "patch_d2.mpq").c_str(), "user.DOSATTRIB", stored, 8);
    EXPECT_STREQ(stored, "0x2"); // as Wine stores it
    writeFile(sample.gameFolder() / ".hidden", "x");
    EXPECT_EQ(files.fileAttributes(sample.gameFolderWindows() + "\\.hidden"),
              Attribute::Archive | Attribute::Hidden);
    // The stored attributes as Wine ("0x..") and Samba (with a NUL and binary data after them)
    // write them; anything else holds none. A file is always Archive, as Wine shows it.
    const std::pair<std::string, unsigned> values[] = {
        {"0x22", Attribute::Hidden},
        {"0X4", Attribute::System},
        {std::string("0x2\0\x01\x05", 6), Attribute::Hidden},
        {"6", 0},
        {"0x", 0},
        {"", 0}};
    for (const auto& [value, attributes] : values) {
        writeFile(sample.gameFolder() / "stored", "x");
        ::setxattr((sample.gameFolder() / "stored").c_str(), "user.DOSATTRIB", value.data(),
                   value.size(), 0);
        EXPECT_EQ(files.fileAttributes(sample.gameFolderWindows() + "\\stored"),
                  Attribute::Archive | attributes)
            << value;
    }
    // A drive link made after a scan is used by the next one, whatever an hour-old cache holds.
    EXPECT_TRUE(failsWith([&] { scanned("m:\\"); }, {"m:"}));
    link(sample.driveD() / "Mods", "m:");
    fs::last_write_time(sample.prefix() / "dosdevices",
                        fs::file_time_type::clock::now() - std::chrono::hours(1));
    EXPECT_EQ(scanned("m:\\"), (Names{"Eastern Sun", "Median"}));
    // While the folder's time is recent, a link changed within the same tick (the time left as
    // it was) is seen too: here the time is ahead of the clock, as recent as can be.
    const auto recent = fs::file_time_type::clock::now() + std::chrono::hours(1);
    fs::last_write_time(sample.prefix() / "dosdevices", recent);
    EXPECT_EQ(scanned("m:\\"), (Names{"Eastern Sun", "Median"}));
    fs::remove(sample.prefix() / "dosdevices" / "m:");
    link(median, "m:");
    fs::create_directory_symlink("/proc", median / "Kernel"); // passed over by what it leads to
    fs::last_write_time(sample.prefix() / "dosdevices", recent);
    EXPECT_EQ(scanned("m:\\"), (Names{"Sub", ".shown", "Archived"}));
    const Names root = scanned("z:\\"); // the kernel's folders and the prefix's own drive links
    EXPECT_EQ(root.count("proc") + root.count("sys") + root.count("dev"), 0u);
    EXPECT_EQ(scanned("z:" + sample.prefix().string()), Names{"drive_c"});
    // A drive folder put back from a copy that kept the time of the one it replaces is read
    // afresh as well.
    const fs::path devices = sample.prefix() / "dosdevices", copy = scratch / "devices";
    fs::create_directory(copy);
    fs::create_directory_symlink(sample.driveD() / "Mods", copy / "m:");
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(2);
    fs::last_write_time(devices, old);
    EXPECT_EQ(scanned("m:\\"), (Names{"Sub", ".shown", "Archived"}));
    fs::rename(devices, scratch / "replaced");
    fs::rename(copy, devices);
    fs::last_write_time(devices, old);
    EXPECT_EQ(scanned("m:\\"), (Names{"Eastern Sun", "Median"}));
}

TEST_F(OnWine, FolderLinksAreFollowedWithTheirTargetsIdentityAndLoopsEnd)
{
    const fs::path root = sample.driveD() / "Links";
    writeFile(root / "Real" / "patch_d2.mpq", "x");
    writeFile(root / "Real" / "B" / "patch_d2.mpq", "x");
    fs::create_directory_symlink(root / "Real", root / "ToReal");
    fs::create_directory_symlink(root, root / "Real" / "Up");
    fs::create_directory_symlink("../..", root / "Real" / "B" / "Again");
    fs::create_symlink(root / "nowhere", root / "Broken");
    EXPECT_EQ(scanned("d:\\Links\\"), (Names{"Real", "ToReal"})); // not Broken
    EXPECT_EQ(findFirst(files, "d:\\Links\\ToReal", FindFilter::Ordinary), "");
    EXPECT_EQ(findFirst(files, "d:\\Links\\ToReal", FindFilter::Folder), "ToReal");
    EXPECT_EQ(findFirst(files, "d:\\Links\\Broken", FindFilter::Ordinary),
              "Broken"); // the link itself
    EXPECT_EQ(findFirst(files, "d:\\Links\\T*", FindFilter::Folder), "ToReal");
    EXPECT_TRUE(
        failsWith([&] { files.deleteFiles("d:\\Links\\ToReal"); }, {"that name is a folder"}));
    files.deleteFiles("d:\\Links\\*"); // a link to a folder is no file
    EXPECT_TRUE(fs::is_symlink(root / "ToReal") && !fs::is_symlink(root / "Broken"));
    SearchRecorder seen;
    const SearchSummary summary = FindFiles(files, "d:\\Links\\", PatchFileName, seen, nullptr,
                                            DefaultReadAhead, std::chrono::microseconds(0));
    EXPECT_EQ(seen.entries,
              (Texts{"d:\\Links\\Real\\patch_d2.mpq", "d:\\Links\\Real\\B\\patch_d2.mpq"}));
    EXPECT_EQ(seen.passedOver, Texts{});
    EXPECT_EQ(summary.repeatsSkipped, 3u); // ToReal, Up, Again
    // Folders the walk keeps open for their subfolders leave descriptors for its other opens.
    fs::path deep = sample.driveD() / "Deep";
    for (int i = 0; i < 80; ++i)
        deep /= std::to_string(i % 10);
    writeFile(deep / "patch_d2.mpq", "x");
    // Every descriptor is closed again, however many folders were kept open.
    const auto before = openDescriptors();
    FindFiles(files, "d:\\Deep\\", PatchFileName, seen, nullptr, 0);
    EXPECT_EQ(openDescriptors(), before);
    rlimit was{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &was), 0);
    const rlimit low{24, was.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    const std::shared_ptr<void> restore(nullptr, [&](void*) { ::setrlimit(RLIMIT_NOFILE, &was); });
    const SearchSummary deepest = FindFiles(files, "d:\\Deep\\", PatchFileName, seen, nullptr,
                                            DefaultReadAhead, std::chrono::microseconds(0));
    EXPECT_TRUE(deepest.matches == 1 && deepest.foldersPassedOver == 0) << deepest.firstPassedOver;
}

TEST_F(OnWine, SpecialFilesAreRefusedAndReadOnlyFoldersCopied)
{
    ASSERT_EQ(::mkfifo((sample.gameFolder() / "pipe.mpq").c_str(), 0644), 0);
    const std::string game = sample.gameFolderWindows(), pipe = game + "\\pipe.mpq";
    EXPECT_TRUE(failsWith([&] { files.copyFile(pipe, game + "\\x.mpq"); }, {"not a regular file"}));
    EXPECT_TRUE(failsWith([&] { files.sameContents(pipe, game + "\\patch_d2.mpq"); },
                          {"not a regular file"}));
    // A copy keeps the source's permission bits, stored attributes and write time; a written
    // file keeps the mode of the one it replaces, and a new one has the umask's.
    const fs::path source = sample.gameFolder() / "patch_d2.mpq", copy = source.parent_path() / "K";
    fs::permissions(source, fs::perms(0640));
    ASSERT_EQ(::setxattr(source.c_str(), "user.DOSATTRIB", "0x4", 3, 0), 0);
    const auto written = fs::last_write_time(source) - std::chrono::hours(50);
    fs::last_write_time(source, written);
    files.copyFile(game + "\\patch_d2.mpq", game + "\\K");
    EXPECT_EQ(fs::status(copy).permissions(), fs::perms(0640));
    EXPECT_EQ(fs::last_write_time(copy), written);
    EXPECT_EQ(files.fileAttributes(game + "\\K"), Attribute::Archive | Attribute::System);
    const mode_t mask = ::umask(027);
    files.writeTextFile(game + "\\New.txt", {"x"});
    fs::permissions(copy, fs::perms(0604));
    files.writeTextFile(game + "\\K", {"x"});
    ::umask(mask);
    EXPECT_EQ(fs::status(copy.parent_path() / "New.txt").permissions(), fs::perms(0640));
    EXPECT_EQ(fs::status(copy).permissions(), fs::perms(0604));
    fs::permissions(sample.gameFolder() / "save", fs::perms(0555));
    files.copyFolderTree(game + "\\save", game + "\\Copy");
    files.copyFolderTree(game + "\\save", game + "\\Copy");
    fs::create_directory(sample.gameFolder() / "Into");
    for (const char* into : {"\\Copy\\", "\\Into/"}) { // a separator at the end: into it
        files.copyFolderTree(game + "\\save", game + into);
        EXPECT_TRUE(fs::is_directory(sample.gameFolder() / std::string(into + 1, 4) / "save"));
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(sample.gameFolder() / "Into"), {}), 1);
    EXPECT_TRUE(failsWith([&] { files.copyFolderTree(game + "\\save", game + "\\None\\"); },
                          {"the destination folder does not exist"}));
    EXPECT_NE(fs::status(sample.gameFolder() / "Copy").permissions() & fs::perms::owner_write,
              fs::perms::none);
    EXPECT_TRUE(
        failsWith([&] { files.copyFolderTree(game + "\\save", game + "\\patch_d2.mpq\\x"); },
                  {"cannot reach the folder"}));
    fs::create_directory_symlink(sample.gameFolder() / "save",
                                 sample.gameFolder() / "save" / "Loop");
    EXPECT_TRUE(failsWith([&] { files.copyFolderTree(game + "\\save", game + "\\Looped"); },
                          {"a link loop"}));
    fs::remove(sample.gameFolder() / "save" / "Loop");
    // A stray copy of a killed process goes; one of a live process stays, and so does every
    // name that is not quite a copy's.
    const std::string gone = ".velmoran-copy-99999999-1.tmp";
    const Texts kept = {".velmoran-copy-" + std::to_string(::getppid()) + "-1.tmp",
                        ".velmoran-copy-" + std::to_string(::getpid()) + "-1.tmp",
                        ".velmoran-copy-0-1.tmp",
                        ".velmoran-copy--1.tmp",
                        ".velmoran-copy-99999999.tmp",
                        ".velmoran-copy-9999999x-1.tmp",
                        "x.velmoran-copy-99999999-1.tmp",
                        ".velmoran-copy-99999999-1.tmpx"};
    for (const std::string& name : kept)
        writeFile(scratch / "stray" / name, "partial");
    writeFile(scratch / "stray" / gone, "partial");
    files.writeTextFile(scratch.path().string() + "\\stray\\TEMP.URL", {"[InternetShortcut]"});
    EXPECT_FALSE(fs::exists(scratch / "stray" / gone));
    for (const std::string& name : kept)
        EXPECT_TRUE(fs::exists(scratch / "stray" / name)) << name;
    // So does every other write into a folder: a copy, a move, a folder copied into it.
    const std::string at = scratch.path().string() + "\\";
    writeFile(scratch / "source.mpq", "x");
    writeFile(scratch / "tree" / "a.txt", "a");
    for (const auto& write : std::initializer_list<std::function<void()>>{
             [&] { files.copyFile(at + "source.mpq", at + "stray\\copied.mpq"); },
             [&] { files.moveFile(at + "source.mpq", at + "stray\\moved.mpq"); },
             [&] { files.copyFolderTree(at + "tree", at + "stray"); }}) {
        writeFile(scratch / "stray" / gone, "partial");
        write();
        EXPECT_FALSE(fs::exists(scratch / "stray" / gone));
    }
}

// A file system mounted inside the tree, on a folder whose name the mount table escapes,
// and a link to it: its identity is that of what is mounted, so it is walked once.
TEST_F(OnWine, AFolderThatIsAMountPointIsWalkedOnceWhateverLeadsToIt)
{
    const fs::path point = sample.driveD() / "Mounts" / "in 'it";
    fs::create_directories(point);
    if (::mount("tmpfs", point.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a file system: " << std::strerror(errno);
    const std::shared_ptr<void> unmount(nullptr,
                                        [&](void*) { ::umount2(point.c_str(), MNT_DETACH); });
    writeFile(point / "patch_d2.mpq", "x");
    fs::create_directory_symlink(point, sample.driveD() / "Mounts" / "Again");
    for (const unsigned readAhead : {0u, DefaultReadAhead}) {
        SearchRecorder seen;
        const SearchSummary summary = FindFiles(files, "d:\\Mounts", PatchFileName, seen, nullptr,
                                                readAhead, std::chrono::microseconds(0));
        EXPECT_EQ(seen.entries, Texts{"d:\\Mounts\\Again\\patch_d2.mpq"}) << readAhead;
        EXPECT_EQ(seen.passedOver, Texts{}) << readAhead;
        EXPECT_EQ(summary.repeatsSkipped, 1u) << readAhead;
    }
    // What the walk's scanner says of them: only the point may be one (it is listed with the
    // identity of the entry it covers, every other folder with its own), both lie on local
    // file systems, and a walk that begins on memory, not a disk, counts no disk reads.
    fs::create_directories(sample.driveD() / "Mounts" / "Plain");
    struct statfs disk
    {
    };
    const bool onExt4 =
        ::statfs(scratch.path().c_str(), &disk) == 0 && disk.f_type == EXT4_SUPER_MAGIC;
    for (const char* root : {"d:\\Mounts\\in 'it\\", "d:\\Mounts\\"}) {
        const auto scanner = files.folderScanner(PatchFileName);
        scanner->scan(root, FolderId{}, scan);
        EXPECT_EQ(scanner->diskBytesRead().has_value(),
                  onExt4 && std::string(root).ends_with("s\\"));
        ASSERT_EQ(scan.subfolders.size(), std::string(root).ends_with("s\\") ? 3u : 0u);
        for (std::size_t i = 0; i < scan.subfolders.size(); ++i) {
            const std::string& name = scan.subfolders[i];
            const fs::path path = sample.driveD() / "Mounts" / name;
            struct stat st
            {
            };
            ASSERT_EQ(::stat(path.c_str(), &st), 0);
            const FolderId own{st.st_dev, st.st_ino};
            EXPECT_EQ(scanner->mayBeMountPoint(scan.subfolderIds[i]), name == "in 'it") << name;
            EXPECT_EQ(scanner->surelyAnswers(scan.subfolderIds[i]), name != "in 'it") << name;
            EXPECT_EQ(scan.subfolderIds[i] == own, name != "in 'it") << name;
        }
    }
}

TEST(OnSmallFileSystems, AFullOneFailsClearlyAndKeepsTheOldFileWhole)
{
    ScratchFolder scratch("velmoran-small");
    const fs::path small = scratch / "small";
    fs::create_directories(small);
    if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=512k") != 0)
        GTEST_SKIP() << "cannot mount a small file system: " << std::strerror(errno);
    const std::shared_ptr<void> unmount(nullptr,
                                        [&](void*) { ::umount2(small.c_str(), MNT_DETACH); });
    LinuxFileSystem files{WinePrefix(scratch / "prefix")};
    const std::string old = standInBytes("old", 300 * 1024), big = (scratch / "big.mpq").string();
    const std::string target = (small / "patch_d2.mpq").string(), moved = (small / "B").string();
    writeFile(target, old);
    writeFile(big, standInBytes("big", 400 * 1024));
    EXPECT_TRUE(failsWith([&] { files.copyFile(big, target); },
                          {"No space left on device", big + "\n" + target}));
    EXPECT_EQ(std::distance(fs::directory_iterator(small), {}), 1); // nothing left behind
    // A move needs no room, and declines across file systems with both files left as they were.
    EXPECT_TRUE(files.moveFile(target, moved));
    EXPECT_FALSE(files.moveFile(big, target));
    EXPECT_TRUE(readFile(moved) == old && readFile(big) == standInBytes("big", 400 * 1024));
    EXPECT_FALSE(fs::exists(target));
}

TEST(OnSameFile, ACopyOntoItsOwnSourceByAnotherNameLeavesItWhole)
{
    ScratchFolder scratch("velmoran-same");
    const std::string archive = standInBytes("archive", 200 * 1024);
    const fs::path game = scratch / "game", source = game / "patch_d2.mpq";
    writeFile(source, archive);
    fs::create_hard_link(source, game / "hard.mpq");
    fs::create_symlink(source, game / "link.mpq");
    fs::create_directory_symlink(game, scratch / "linked");
    fs::create_directories(scratch / "bound");
    const bool bound =
        ::mount(game.c_str(), (scratch / "bound").c_str(), nullptr, MS_BIND, nullptr) == 0;
    const std::shared_ptr<void> unmount(nullptr, [&](void*) {
        if (bound)
            ::umount2((scratch / "bound").c_str(), MNT_DETACH);
    });
    LinuxFileSystem files{WinePrefix(scratch / "prefix")};
    std::vector<fs::path> names = {game / "hard.mpq", game / "link.mpq",
                                   scratch / "linked" / "patch_d2.mpq",
                                   game / "." / "patch_d2.mpq"};
    if (bound)
        names.push_back(scratch / "bound" / "patch_d2.mpq");
    for (const fs::path& name : names) {
        files.copyFile(source.string(), name.string());
        files.copyFile(name.string(), source.string());
        EXPECT_EQ(readFile(source), archive) << name;
        EXPECT_EQ(readFile(name), archive) << name;
    }
    EXPECT_EQ(fs::hard_link_count(source), 2u); // nothing was replaced, only left alone
    EXPECT_TRUE(fs::is_symlink(game / "link.mpq"));
    EXPECT_EQ(std::distance(fs::directory_iterator(game), {}), 3); // no temporary left
    // A move onto another name of the file deletes the name moved, as a copy and a delete would;
    // onto its own name, it is done as it stands.
    EXPECT_TRUE(files.moveFile((game / "hard.mpq").string(), source.string()));
    EXPECT_TRUE(files.moveFile(source.string(), (game / "." / "patch_d2.mpq").string()));
    EXPECT_TRUE(readFile(source) == archive && fs::hard_link_count(source) == 1u);
}

TEST(WineRegistryText, FindsTheInstallPathAsWineReadsIt)
{
    const std::string plain =
        "[Software\\\\Blizzard Entertainment\\\\Diablo II] 1700000000\n#time=1d9e0fdd1c0d2a0\n";
    const std::string wow = "[Software\\\\Wow6432Node\\\\Blizzard Entertainment\\\\Diablo II] 1\n";
    const std::string other = "[Software\\\\Other\\\\Blizzard Entertainment\\\\Diablo II]\n";
    const auto file = [](const std::string& arch, const std::string& body) {
        return "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=" + arch +
               "\n\n" + body;
    };
    const auto at = [](const std::string& value) { return "\"InstallPath\"=" + value + "\n"; };
    const auto win32 = [&](const std::string& value) { return file("win32", plain + at(value)); };
    const std::string native = at("\"C:\\\\Native\""), wowWow = wow + at("\"C:\\\\Wow\"");
    const std::tuple<const char*, std::string, std::optional<std::string>> rows[] = {
        {"win64 prefers the 32-bit view", file("win64", plain + native + wowWow), "C:\\Wow"},
        {"win64 falls back to the plain key", file("win64", plain + native), "C:\\Native"},
        {"win32 ignores Wow6432Node", file("win32", wowWow), std::nullopt},
        {"win64 ignores other keys", file("win64", other + native + plain + at("\"D2\"")), "D2"},
        {"a high surrogate twice", win32("\"\\xd83d\\xd83d\\xde00\""),
         "\357\277\275\xF0\x9F\x98\x80"},
        {"lone surrogates", win32("\"\\xd83d\\tA\\xde00\\xd83d\""),
         "\357\277\275\tA\357\277\275\357\277\275"},
        {"a dword is no string", win32("dword:00000001"), std::nullopt},
        {"escapes Wine never writes", win32("\"\\q\\xz\""), "qxz"},
        {"missing header", plain + native, std::nullopt},
        {"wrong version", "WINE REGISTRY Version 3\n" + plain + native, std::nullopt},
        {"truncated in the value", file("win32", plain + "\"InstallPath\"=\"C:\\\\Ga"), {}}};
    for (const auto& [what, text, expected] : rows)
        EXPECT_EQ(findWineRegistryString(text, GameKeyPath, "InstallPath"), expected) << what;
}

// Text escaped as Wine writes it into its registry files, in either of the forms it uses:
// \x with the fewest hex digits unless a hex digit follows (or always four), octal likewise,
// C escapes; where `raw`, characters past ASCII as UTF-8 instead, as other writers do.
std::string wineEscaped(const std::u32string& text, char quote, bool raw, std::mt19937& random)
{
    const auto hexDigit = [](char32_t c) { return c < 128 && std::isxdigit(int(c)); };
    const auto octalDigit = [](char32_t c) { return c >= '0' && c <= '7'; };
    static const char escapes[] = ".......abtnvfr.............e....";
    std::string out;
    char buffer[16];
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char32_t c = text[i], next = i + 1 < text.size() ? text[i + 1] : 0;
        const bool full = random() % 2;
        if (c >= 128 && raw) {
            appendUtf8(out, c);
        } else if (c >= 0x10000) { // a surrogate pair
            std::snprintf(buffer, sizeof buffer, "\\x%04x\\x%04x", 0xD800 + ((c - 0x10000) >> 10),
                          0xDC00 + ((c - 0x10000) & 0x3FF));
            out += buffer;
        } else if (c >= 128) { // Wine writes small hex digits, and reads capitals too
            const bool capitals = random() % 2;
            std::snprintf(buffer, sizeof buffer,
                          full || hexDigit(next) ? (capitals ? "\\x%04X" : "\\x%04x")
                                                 : (capitals ? "\\x%X" : "\\x%x"),
                          unsigned(c));
            out += buffer;
        } else if (c < 32 && escapes[c] != '.' && !full) {
            out += {'\\', escapes[c]};
        } else if (c < 32) {
            std::snprintf(buffer, sizeof buffer, full || octalDigit(next) ? "\\%03o" : "\\%o",
                          unsigned(c));
            out += buffer;
        } else {
            if (c == '\\' || c == char32_t(quote))
                out += '\\';
            out += char(c);
        }
    }
    return out;
}

// Random registry files, keys and values written as Wine writes them, read back.
TEST(WineRegistryText, ReadsBackWhatWineWrote)
{
    const char32_t alphabet[] = {'a',    'Z',    '0',     '9',  ' ', '\\', '"',  '[',     ']',
                                 '=',    '\n',   '\t',    1,    27,  0xE9, 0xC4, 0x3A3,   0x2013,
                                 0x65E5, 0xFFFD, 0x1F600, 0x7F, '@', 'f',  '7',  0x10000, 0x10FFFF,
                                 0xD7FF, 0xE000, 7,       8,    11,  12,   13,   0x7FF,   0x800};
    std::mt19937 random(23);
    const auto text = [&](std::size_t most) {
        std::u32string t;
        for (std::size_t n = random() % most; n > 0; --n)
            t += alphabet[random() % std::size(alphabet)];
        return t;
    };
    const auto utf8 = [](const std::u32string& t) {
        std::string out;
        for (const char32_t c : t)
            appendUtf8(out, c);
        return out;
    };
    for (int file = 0; file < 300; ++file) {
        const bool win64 = random() % 2, raw = random() % 4 == 0;
        std::string body = "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=";
        body += win64 ? "win64\n\n" : "win32\n\n";
        // The game's key in some case, under Wow6432Node in a win64 file; other keys around it.
        std::string key = random() % 2 ? "Software" : "SOFTWARE";
        key += win64 ? "\\\\Wow6432Node" : "";
        key += random() % 2 ? "\\\\Blizzard Entertainment\\\\Diablo II"
                            : "\\\\BLIZZARD "
                              "entertainment\\\\diablo ii";
        // Every key is looked for too, by its path as a program names it: some are plain,
        // some not (names Wine escapes, which the quick search for the key cannot use).
        // key, name, value (none where it is no string)
        std::vector<std::tuple<std::string, std::string, std::optional<std::string>>> written;
        for (int k = 0; k < 4; ++k) {
            std::u32string first = text(6), second = text(6);
            std::erase(first, U'\\');
            std::erase(second, U'\\');
            const std::string path = k == 2 ? std::string(GameKeyPath)
                                            : "Software\\k" + utf8(first) + "\\K" + utf8(second);
            body += "[" +
                    (k == 2 ? key
                            : (win64 ? "Software\\\\Wow6432Node\\\\k" : "Software\\\\k") +
                                  wineEscaped(first, ']', raw, random) + "\\\\K" +
                                  wineEscaped(second, ']', raw, random)) +
                    "] 1700000000\n";
            body += "#time=1da0000000000000\n@=\"the key's default value\"\n";
            for (int v = random() % 5; v > 0; --v) {
                const std::u32string name = U"n" + text(8), value = text(40);
                switch (random() % 4) {
                case 0:
                    body += "\"" + wineEscaped(name, '"', raw, random) + "\"=dword:00000001\n";
                    written.emplace_back(path, utf8(name), std::nullopt);
                    break;
                case 1:
                    body += "\"" + wineEscaped(name, '"', raw, random) + "\"=hex:01,02,\\\n  03\n";
                    written.emplace_back(path, utf8(name), std::nullopt);
                    break;
                default:
                    body += "\"" + wineEscaped(name, '"', raw, random) +
                            "\"=" + (random() % 3 ? "" : "str(2):") + "\"" +
                            wineEscaped(value, '"', raw, random) + "\"\n";
                    written.emplace_back(path, utf8(name), utf8(value));
                }
            }
            body += "\n";
        }
        if (random() % 4 == 0) // as a file edited on Windows: every line ends in CR LF
            for (std::size_t at = 0; (at = body.find('\n', at)) != std::string::npos; at += 2)
                body.insert(at, 1, '\r');
        for (const auto& [path, name, value] : written) {
            // The last value of that name wins, as where Wine loads a name twice.
            const auto last = std::find_if(written.rbegin(), written.rend(), [&](const auto& w) {
                return equalsIgnoreCase(std::get<0>(w), path) && std::get<1>(w) == name;
            });
            EXPECT_EQ(findWineRegistryString(body, path, name), std::get<2>(*last))
                << body << "\nkey: " << path << "\nvalue name: " << name;
        }
    }
}

// A Proton prefix is the "pfx" folder of a compatdata folder that Proton has recorded (its
// "version" or "config_info"), or such a folder itself where its "pfx" leads back to it (umu).
TEST(SteamPrefixes, AProtonPrefixIsKnownByItsCompatDataFolder)
{
    ScratchFolder scratch("velmoran-compat");
    const fs::path data = scratch / "compatdata";
    for (const char* folder : {"7/pfx", "8/pfx", "9/other", "u"})
        fs::create_directories(data / folder);
    writeFile(data / "7" / "version", "8.0");
    writeFile(data / "9" / "config_info", "x");
    writeFile(data / "u" / "version", "GE-Proton");
    fs::create_directory_symlink(".", data / "u" / "pfx");
    const std::pair<fs::path, std::optional<fs::path>> rows[] = {
        {data / "7" / "pfx", data / "7"},
        {data / "7" / "pfx/", data / "7"},
        {data / "8" / "pfx", std::nullopt}, // not recorded
        {data / "9" / "other", std::nullopt},
        {data / "7", std::nullopt}, // its pfx is another
        {data / "u", data / "u"},
        {data / "u" / "pfx", data / "u"}};
    for (const auto& [prefix, compat] : rows)
        EXPECT_EQ(compatDataOf(prefix), compat) << prefix;
}

// Valve's Protons go by the names of Steam's mapping too: "Proton 8.0" is proton_8, "Proton
// 5.13" proton_513; a folder that only looks like one of them has its own name alone.
TEST(SteamProtons, AreFoundByTheirFolderNameAndByValvesMappingName)
{
    ScratchFolder home("velmoran-protons");
    const fs::path common = home / ".local/share/Steam/steamapps/common";
    for (const char* folder :
         {"Proton 8.0", "Proton 5.13", "Proton - Experimental", "Proton Hotfix", "Proton 9.1x",
          "Proton 9.0", "Proton 7", "Proton .1", "Proton 6."}) {
        writeFile(common / folder / "proton", "#!/bin/sh\n");
        fs::permissions(common / folder / "proton", fs::perms::owner_all);
    }
    LinuxEnvironment environment;
    environment.home = home.path();
    SteamInstall steam = SteamInstall::find(environment);
    const std::pair<const char*, const char*> names[] = {
        {"proton_8", "Proton 8.0"},
        {"proton_513", "Proton 5.13"},
        {"proton_experimental", "Proton - Experimental"},
        {"proton_hotfix", "Proton Hotfix"},
        {"Proton 9.1x", "Proton 9.1x"},
        {"proton_91x", ""},
        {"proton_9", "Proton 9.0"},
        {"proton_7", ""},
        {"proton_", ""},
        {"proton_6", ""},
        {"proton_80", ""}};
    for (const auto& [name, folder] : names) {
        const InstalledProton* proton = steam.findProton(name);
        EXPECT_EQ(proton ? proton->folder.filename().string() : "", folder) << name;
    }
}

// Launchers' folders and files: what is missing is passed over silently (or noted where
// asked), what cannot be read is noted with the reason, a pipe is never waited on.
TEST(LauncherFiles, AreReadOrPassedOverWithTheReason)
{
    ScratchFolder scratch("velmoran-launcher-files");
    writeFile(scratch / "b", "B");
    writeFile(scratch / "a", "A");
    fs::create_directory_symlink(scratch / "loop", scratch / "loop");
    ASSERT_EQ(::mkfifo((scratch / "pipe").c_str(), 0644), 0);
    Texts noted;
    EXPECT_EQ(folderEntries(scratch.path(), noted).front(), scratch / "a");
    for (const char* folder : {"missing", "a", "loop"})
        EXPECT_TRUE(folderEntries(scratch / folder, noted).empty()) << folder;
    const std::tuple<const char*, bool, std::optional<std::string>> files[] = {
        {"a", false, "A"}, // as large as allowed here
        {"missing", false, std::nullopt},
        {"missing", true, std::nullopt},
        {"loop", false, std::nullopt},
        {"pipe", false, std::nullopt},
        {"b", false, std::nullopt}}; // past the size allowed here
    for (const auto& [file, noteMissing, text] : files)
        EXPECT_EQ(readLauncherFile(scratch / file, file[0] == 'b' ? 0 : 1, noted, noteMissing),
                  text)
            << file;
    const fs::path shorter = "/sys/devices/system/cpu/possible"; // holds less than its size
    if (fs::exists(shorter)) {
        EXPECT_EQ(readLauncherFile(shorter, 1 << 20, noted, false), readFile(shorter));
    }
    const std::string at = scratch.path().string() + "/";
    EXPECT_EQ(noted, (Texts{at + "loop: could not be read (Too many levels of symbolic links)",
                            at + "missing: could not be read (No such file or directory)",
                            at + "loop: could not be read (Too many levels of symbolic links)",
                            at + "pipe: could not be read (not a file)",
                            at + "b: could not be read (larger than a launcher's file of this "
                                 "kind can be (0 KiB))"}));
}

// A prefix found again, by any path, is listed once with its first origin; it takes a later
// start where the first knew nothing, and a later Wine start's Wines after its own.
TEST(LauncherFiles, APrefixFoundAgainIsListedOnce)
{
    ScratchFolder scratch("velmoran-found");
    fs::create_directories(scratch / "a");
    fs::create_directory_symlink(scratch / "a", scratch / "link");
    const auto wine = [](std::vector<fs::path> wines, std::string missing = "") {
        PrefixStart start;
        start.wines = std::move(wines);
        start.missing = std::move(missing);
        return start;
    };
    PrefixStart proton;
    proton.through = StartThrough::Proton;
    PrefixSearch search;
    PrefixCollector found(search);
    found.add(scratch / "a", "1", {});
    found.add(scratch / "link", "2", wine({"/w1"}));
    found.add(scratch / "a/", "3", wine({"/w2"}));
    found.add(scratch / "a", "4", proton);
    found.add("/no/such/d2/", "5", proton); // not there: known by its name
    found.add("/no/such/d2", "6", wine({"/w3"}));
    found.add("/no/such/d3", "7", wine({"/w4"}, "its Wine is missing"));
    found.add("/no/such/./d3", "8", wine({"/w5"}));
    Texts listed;
    for (const FoundPrefix& prefix : search.prefixes) {
        listed.push_back(prefix.root.string() + " " + prefix.origin + " " +
                         (prefix.start.through == StartThrough::Wine ? "wine" : "proton"));
        for (const fs::path& program : prefix.start.wines)
            listed.back() += " " + program.string();
    }
    EXPECT_EQ(listed, (Texts{(scratch / "a").string() + " 1 wine /w1 /w2", "/no/such/d2 5 proton",
                             "/no/such/d3 7 wine /w4"}));
}

// A program is looked for on PATH as a shell looks for it: folder by folder, an empty entry
// being the current folder; a folder of that name, or a file that cannot run, is passed over.
TEST(LauncherFiles, ProgramsAreLookedForOnPathAsTheShellDoes)
{
    ScratchFolder scratch("velmoran-path");
    const std::string a = (scratch / "a").string(), b = (scratch / "b").string(),
                      c = (scratch / "c").string();
    writeFile(scratch / "a" / "prog", "not a program");
    fs::create_directories(scratch / "c" / "prog");
    for (const fs::path& runs : {scratch / "b" / "prog", scratch / "prog"}) {
        writeFile(runs, "#!/bin/sh\n");
        fs::permissions(runs, fs::perms::owner_all);
    }
    const fs::path started = fs::current_path();
    const std::shared_ptr<void> back(nullptr, [&](void*) { fs::current_path(started); });
    fs::current_path(scratch.path());
    const std::pair<std::string, std::string> rows[] = {
        {a + ":" + b, b + "/prog"}, {c + ":" + a, ""},        {c + ":", "./prog"},
        {":" + c, "./prog"},        {c + "::" + b, "./prog"}, {"", "./prog"}};
    for (const auto& [path, found] : rows) {
        const ScopedVariable variable("PATH", path);
        EXPECT_EQ(findOnPath("prog"), found) << path;
    }
}

// A started program runs on its own: the start returns while it runs, in a session of its
// own, with no input; a program that is not there is told by its errno.
TEST(LauncherFiles, AStartedProgramRunsOnItsOwn)
{
    ScratchFolder scratch("velmoran-detached");
    // It writes what it read, and its process and session ids.
    const std::string script = "read x; echo \"[$x] $$ $(cut -d' ' -f6 /proc/$$/stat)\" > seen; "
                               "i=0; while [ ! -e go ] && [ $i -lt 400 ]; do sleep 0.05; "
                               "i=$((i+1)); done; touch ended";
    const auto before = openDescriptors();
    ASSERT_EQ(startDetached({"/bin/sh", {"-c", script}, {}, scratch.path().string()}), 0);
    EXPECT_EQ(openDescriptors(), before); // the start leaves nothing open
    EXPECT_FALSE(fs::exists(scratch / "ended"));
    writeFile(scratch / "go", "");
    for (int i = 0; i < 400 && !fs::exists(scratch / "ended"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(fs::exists(scratch / "ended"));
    std::istringstream seen(readFile(scratch / "seen"));
    std::string input;
    pid_t process = 0, session = 0;
    seen >> input >> process >> session;
    EXPECT_TRUE(input == "[]" && process > 0 && session == process) << seen.str();
    EXPECT_EQ(startDetached({(scratch / "none").string(), {}, {}, {}}), ENOENT);
    EXPECT_EQ(openDescriptors(), before);
}

// Where the game's entry is looked for, as a failure names it: the registry file, and whether
// it is there at all; one that cannot be read is a failure of its own.
TEST_F(OnWine, TheGamesEntryIsLookedForInTheRegistryFileNamed)
{
    WineRegistryReader reader(prefix);
    const fs::path file = sample.prefix() / "system.reg";
    const auto where = [&] {
        return reader.describeLocation(RootKey::LocalMachine, GameKeyPath, GameValueName);
    };
    const std::string named = "the value \"InstallPath\" of the key HKEY_LOCAL_MACHINE\\" +
                              std::string(GameKeyPath) +
                              " (in a 64-bit prefix, its 32-bit view under Wow6432Node) in the "
                              "Wine prefix's registry file " +
                              file.string();
    EXPECT_EQ(where(), named);
    fs::remove(file);
    EXPECT_EQ(where(), named + ", which does not exist (is the Wine prefix set up? Velmoran uses "
                               "$WINEPREFIX, else ~/.wine)");
    EXPECT_EQ(reader.readString(RootKey::LocalMachine, GameKeyPath, GameValueName), std::nullopt);
    fs::create_directory(file);
    EXPECT_TRUE(failsWith([&] { reader.readString(RootKey::LocalMachine, GameKeyPath, "x"); },
                          {"read the Wine registry", file.string(), "Is a directory"}));
}

TEST_F(OnWine, WineAndTheOpenerAreStartedDetachedAndTheirFailuresNamed)
{
    // The opener gets the address with a scheme, as one argument that no shell reads.
    const std::pair<const char*, const char*> addresses[] = {
        {"velmoran.example.org", "http://velmoran.example.org"},
        {"v.example.org:8080/x", "http://v.example.org:8080/x"},
        {"-no-option", "http://-no-option"},
        {"a+b-c09:x", "a+b-c09:x"},
        {"9p:x", "http://9p:x"},
        {":x", "http://:x"},
        {"localhost:0", "http://localhost:0"},
        {"localhost:9", "http://localhost:9"},
        {"x:/y", "x:/y"},
        {"x::y", "x::y"},
        {"example.org:x", "http://example.org:x"},
        {"my site:x", "http://my site:x"},
        {"Zz:/", "Zz:/"}};
    for (const auto& [caption, opened] : addresses)
        EXPECT_EQ(XdgUrlViewer::openerAddress(caption), opened) << caption;
    StandInPrograms programs(scratch / "stand-ins");
    writeFile(scratch / "TEMP.URL", "[InternetShortcut]\r\n");
    const pid_t self = ::getpid();
    XdgUrlViewer{prefix}.openShortcut(scratch.path().string() + "\\TEMP.URL",
                                      "v.example.org/a b;$(touch x)'\"");
    EXPECT_FALSE(fs::exists(scratch / "TEMP.URL")); // the opener needs the address alone
    const auto opened = programs.waitFor("xdg-open", 1);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].back(), "arg=http://v.example.org/a b;$(touch x)'\"");
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1); // started from a grandchild: nothing to reap
    EXPECT_EQ(::getpid(), self); // the caller goes on, not one of the processes it made
    WineProgramStarter starter{prefix};
    EXPECT_TRUE(failsWith([&] { starter.startProgram("q:\\Diablo II.exe", {}, "q:\\"); },
                          {"drive q: is not defined"}));
    const std::string game = sample.gameFolderWindows();
    EXPECT_TRUE(failsWith([&] { starter.startProgram(game + "\\save", {}, game); },
                          {"the program " + (sample.gameFolder() / "save").string() +
                           " does not exist"})); // a folder is no program
    EXPECT_TRUE(failsWith(
        [&] { starter.startProgram(game + "\\Diablo II.exe", {}, game + "\\gone"); },
        {"the game folder " + (sample.gameFolder() / "gone").string() + " does not exist"}));
    const ScopedVariable noWine("PATH", (scratch / "empty").string());
    EXPECT_TRUE(failsWith([&] { starter.startProgram(game + "\\Diablo II.exe", {}, game); },
                          {"wine was not found"}));
    const fs::path broken = scratch / "broken" / "wine"; // a Wine that cannot start
    writeFile(broken, "#!/no/such/shell\n");
    fs::permissions(broken, fs::perms::owner_all);
    const ScopedVariable brokenWine("PATH", broken.parent_path().string());
    EXPECT_TRUE(failsWith([&] { starter.startProgram(game + "\\Diablo II.exe", {}, game); },
                          {broken.string(), std::strerror(ENOENT)}));
}

TEST_F(OnWine, AnUnreadableDriveIsToldAndCIsSelectedUnlessItFailedItself)
{
    for (const char* drive : {"a:", "c:"}) {
        fs::remove(sample.prefix() / "dosdevices" / drive);
        link(scratch / "no disk", drive);
    }
    const std::tuple<const char*, std::vector<ShownMessage>, Texts> rows[] = {
        {"a:", {{"No Disk in drive A:", " Velmoran "}}, {"c:"}},
        {"A:", {{"No Disk was found on drive A:", "Velmoran "}}, {"c:"}},
        {"e:", {}, {}},
        {"c: [drive_c]", {{"No Disk was found on drive c: [drive_c]", "Velmoran "}}, {}},
        {"C:", {{"No Disk was found on drive C:", "Velmoran "}}, {}}};
    TestPlatform services{sample.prefix()}; // every drive, in letter order
    const std::string none = " [" + (scratch / "no disk").string() + "]";
    EXPECT_EQ(services.real().drives.driveNames(),
              (Texts{"a:" + none, "c:" + none, "d: [" + sample.driveD().string() + "]",
                     "e: [" + sample.driveE().string() + "]", "z: [/]"}));
    for (const auto& [selected, messages, selections] : rows) {
        FakeForm form;
        RecordingMessages shown;
        CommandContext context{services.real(), form, shown};
        form.drive = selected;
        changeDrive(context);
        EXPECT_EQ(shown.shown, messages) << selected;
        EXPECT_EQ(form.driveSelections, selections) << selected;
    }
    // The program starts on the deepest drive that holds its current folder; a folder whose
    // name only begins with a drive's (".../drive_d2" for ".../drive_d") is not on it.
    const fs::path started = fs::current_path();
    const std::shared_ptr<void> back(nullptr, [&](void*) { fs::current_path(started); });
    for (const auto& [folder, drive] :
         {std::pair{sample.driveD() / "Mods", 'd'}, std::pair{sample.driveE(), 'e'},
          std::pair{fs::path(sample.driveD().string() + "2"), 'z'}}) {
        fs::create_directories(folder);
        fs::current_path(folder);
        EXPECT_EQ(services.real().drives.currentDrive().substr(0, 2), std::string(1, drive) + ":")
            << folder;
    }
    fs::remove(sample.prefix() / "dosdevices" / "z:"); // on no drive: c:, as the list names it
    fs::current_path(scratch.path());
    EXPECT_EQ(services.real().drives.currentDrive(), "c:" + none);
    link("/", "b:"); // a shallower drive of an earlier letter does not win
    fs::current_path(sample.driveD());
    EXPECT_EQ(services.real().drives.currentDrive().substr(0, 2), "d:");
}

} // namespace
