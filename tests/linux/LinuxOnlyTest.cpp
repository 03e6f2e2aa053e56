// What only the Linux layer has: Wine's user.DOSATTRIB and dot-names, the prefix's
// registry file and drive links, wine and xdg-open as started programs, Unix folder links,
// rights and special files, file systems that fill up or keep no attributes.
#include "core/FindCommand.h"
#include "core/GameFolder.h"
#include "core/OperationError.h"
#include "core/PatchSearch.h"
#include "platform/linux/LinuxDrives.h"
#include "platform/linux/LinuxFileSystem.h"
#include "platform/linux/SafeFiles.h"
#include "platform/linux/WineProgramStarter.h"
#include "platform/linux/WineRegistry.h"
#include "platform/linux/XdgUrlViewer.h"
#include "support/SampleGame.h"
#include "support/StandIns.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <grp.h>
#include <set>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace velmoran;
using namespace velmoran::testing;
namespace fs = std::filesystem;
using Texts = std::vector<std::string>;

namespace {

template <typename F> std::string failureOf(F&& operation)
{
    try {
        operation();
    } catch (const OperationError& error) {
        return error.what();
    }
    return "(no failure)";
}

std::optional<std::string> dosAttrib(const fs::path& file)
{
    char value[64];
    const ssize_t length = ::getxattr(file.c_str(), "user.DOSATTRIB", value, sizeof value);
    return length < 0
               ? std::nullopt
               : std::optional<std::string>(std::string(value, static_cast<std::size_t>(length)));
}

// Runs work in a child that has dropped to user 65534 (root reads every folder whatever
// its rights); what work returned, or nothing when the child could not drop its rights.
std::optional<std::string> asNobody(const std::function<std::string()>& work)
{
    int channel[2];
    if (::pipe(channel) != 0)
        return std::nullopt;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(3);
        const std::string text = work();
        ::_exit(::write(channel[1], text.data(), text.size()) == static_cast<ssize_t>(text.size())
                    ? 0
                    : 4);
    }
    ::close(channel[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t got; (got = ::read(channel[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(got));
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? std::optional<std::string>(text)
                                                         : std::nullopt;
}

// A small file system mounted for the length of a test.
class Mount
{
public:
    Mount(const fs::path& where, const char* type, const char* options) : m_where(where)
    {
        fs::create_directories(where);
        if (::mount(type, where.c_str(), type, 0, options) != 0)
            error = std::string("cannot mount ") + type + ": " + std::strerror(errno);
    }
    ~Mount()
    {
        if (error.empty())
            ::umount2(m_where.c_str(), MNT_DETACH);
    }
    std::string error;

private:
    fs::path m_where;
};

class OnWine : public ::testing::Test
{
protected:
    std::set<std::string> scanned(const std::string& folder, const std::string& name,
                                  std::vector<std::string>* matches = nullptr)
    {
        FolderScan scan;
        files.scanFolder(folder, name, scan);
        if (matches)
            *matches = scan.matches;
        return {scan.subfolders.begin(), scan.subfolders.end()};
    }
    void link(const fs::path& target, const std::string& drive)
    {
        fs::create_directory_symlink(target, sample.prefix() / "dosdevices" / drive);
    }

    ScratchFolder scratch{"velmoran-wine"};
    SamplePrefix sample{scratch.path()};
    WinePrefix prefix{sample.prefix()};
    LinuxFileSystem files{prefix};
};

TEST_F(OnWine, DotNamesAndStoredAttributesHideAsWineHidesThem)
{
    const std::tuple<const char*, const char*, bool> rows[] = {
        // folder, its user.DOSATTRIB, walked into
        {"plain", nullptr, true}, {".dotted", nullptr, false}, {".shown", "0x0", true},
        {"hidden", "0x2", false}, {"system", "0x4", false},    {"archive bit", "0x20", true}};
    std::set<std::string> expected;
    for (const auto& [folder, attribute, listed] : rows) {
        fs::create_directories(sample.driveD() / "Attr" / folder);
        if (attribute)
            ::setxattr((sample.driveD() / "Attr" / folder).c_str(), "user.DOSATTRIB", attribute,
                       std::strlen(attribute), 0);
        if (listed)
            expected.insert(folder);
    }
    EXPECT_EQ(scanned("d:\\Attr\\", "x"), expected);
    // As Wine stores them: hidden is "0x2", normal is no attribute; a dot-name is hidden.
    const std::string archive = sample.gameFolderWindows() + "\\patch_d2.mpq";
    files.setAttributes(archive, Attribute::Hidden);
    EXPECT_EQ(dosAttrib(sample.gameFolder() / "patch_d2.mpq"), std::optional<std::string>("0x2"));
    files.setAttributes(archive, Attribute::Normal);
    EXPECT_EQ(dosAttrib(sample.gameFolder() / "patch_d2.mpq"), std::nullopt);
    EXPECT_EQ(files.fileAttributes(archive), Attribute::Archive);
    writeFile(sample.gameFolder() / ".hidden", "x");
    EXPECT_EQ(files.fileAttributes(sample.gameFolderWindows() + "\\.hidden"),
              Attribute::Archive | Attribute::Hidden);
    writeFile(sample.driveD() / "Dots" / ".dotfile", "x");
    writeFile(sample.driveD() / "Dots" / ".dotvisible", "x");
    ::setxattr((sample.driveD() / "Dots" / ".dotvisible").c_str(), "user.DOSATTRIB", "0x0", 3, 0);
    auto listing = files.findFile("d:\\Dots\\*.*", FindFilter::Ordinary);
    EXPECT_EQ(listing->next(), ".dotvisible");
    EXPECT_EQ(listing->next(), "");
}

TEST_F(OnWine, PathsMapThroughTheDriveLinksAsTheyAreNow)
{
    writeFile(sample.driveD() / "Mods" / "Median" / "Sub" / "x", "x");
    link(sample.driveD(), "a:");
    for (const std::string& way : Texts{
             "d:\\Mods\\Median\\", "D:\\MODS\\median\\", "d:/Mods/Median", "A:\\Mods\\Median",
             "d:\\Mods\\.\\Other\\..\\Median\\", (sample.driveD() / "Mods" / "Median").string()}) {
        std::vector<std::string> matches;
        EXPECT_EQ(scanned(way, "PATCH_D2.MPQ", &matches), std::set<std::string>{"Sub"}) << way;
        EXPECT_EQ(matches, Texts{"patch_d2.mpq"}) << way;
    }
    // A drive link made or changed after a scan is used by the next one, whatever the
    // cache of an hour-old drive folder holds.
    EXPECT_NE(failureOf([&] { scanned("m:\\", "x"); }).find("m:"), std::string::npos);
    link(sample.driveD() / "Mods", "m:");
    fs::last_write_time(sample.prefix() / "dosdevices",
                        fs::file_time_type::clock::now() - std::chrono::hours(1));
    EXPECT_EQ(scanned("m:\\", "x"), (std::set<std::string>{"Eastern Sun", "Median"}));
    fs::remove(sample.prefix() / "dosdevices" / "m:");
    link(sample.driveE(), "m:");
    EXPECT_EQ(scanned("m:\\", "x"), std::set<std::string>{"Downloads"});
    // The kernel's folders and the prefix's own drive folder are never walked into.
    const std::set<std::string> root = scanned("z:\\", "x");
    for (const char* name : {"proc", "sys", "dev"})
        EXPECT_EQ(root.count(name), 0u) << name;
    EXPECT_EQ(root.count("tmp"), 1u);
    std::vector<std::string> matches;
    EXPECT_EQ(scanned("z:" + sample.prefix().string(), "system.reg", &matches),
              std::set<std::string>{"drive_c"});
    EXPECT_EQ(matches, Texts{"system.reg"});
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
    FolderScan scan, inner;
    files.scanFolder("d:\\Links\\", "patch_d2.mpq", scan);
    ASSERT_EQ(scan.subfolders, (Texts{"Real", "ToReal"}));
    EXPECT_EQ(scan.subfolderIds[0], scan.subfolderIds[1]);
    files.scanFolder("d:\\Links\\Real\\", "patch_d2.mpq", inner);
    EXPECT_EQ(inner.subfolderIds[1], scan.folder); // Up leads back
    // Looked up by name, a folder link is a folder.
    EXPECT_EQ(findFirst(files, "d:\\Links\\ToReal", FindFilter::Ordinary), "");
    EXPECT_EQ(findFirst(files, "d:\\Links\\ToReal", FindFilter::Folder), "ToReal");
    for (const unsigned readAhead : {0u, DefaultReadAhead}) {
        struct Count : SearchObserver
        {
            void subfolderFound(std::uint64_t) override {}
            void matchFound(const std::string&) override { ++matches; }
            void folderPassedOver(const OperationError&) override { ++passedOver; }
            int matches = 0, passedOver = 0;
        } seen;
        const SearchSummary summary = FindFiles(files, "d:\\Links\\", PatchFileName, seen, nullptr,
                                                readAhead, std::chrono::microseconds(0));
        EXPECT_EQ(seen.matches, 2) << readAhead;
        EXPECT_EQ(summary.repeatsSkipped, 3u) << readAhead; // ToReal, Up, Again
        EXPECT_EQ(seen.passedOver, 0);
    }
    writeFile(sample.driveD() / "Loop" / "a.txt", "a");
    fs::create_directory_symlink(sample.driveD() / "Loop", sample.driveD() / "Loop" / "Again");
    EXPECT_NE(
        failureOf([&] { files.copyFolderTree("d:\\Loop", "d:\\LoopCopy"); }).find("link loop"),
        std::string::npos);
}

TEST_F(OnWine, SpecialFilesAreRefusedAndReadOnlyFoldersCopied)
{
    ASSERT_EQ(::mkfifo((sample.gameFolder() / "pipe.mpq").c_str(), 0644), 0);
    const std::string game = sample.gameFolderWindows();
    EXPECT_NE(failureOf([&] {
                  files.copyFile(game + "\\pipe.mpq", game + "\\x.mpq");
              }).find("not a regular file"),
              std::string::npos);
    EXPECT_NE(failureOf([&] {
                  files.sameContents(game + "\\pipe.mpq", game + "\\patch_d2.mpq");
              }).find("not a regular file"),
              std::string::npos);
    fs::permissions(sample.gameFolder() / "save", fs::perms(0555));
    files.copyFolderTree(game + "\\save", game + "\\Copy");
    files.copyFolderTree(game + "\\save", game + "\\Copy");
    EXPECT_TRUE((fs::status(sample.gameFolder() / "Copy").permissions() & fs::perms::owner_write) !=
                fs::perms::none);
    // A destination below a file cannot be reached: said so, not some later failure.
    EXPECT_NE(failureOf([&] {
                  files.copyFolderTree(game + "\\save", game + "\\patch_d2.mpq\\x");
              }).find("cannot reach the folder"),
              std::string::npos);
    files.writeTextFile("d:\\TEMP.URL",
                        {"URL=\xE2\x82\xAC \xE4\xB8\xAD"}); // code page 1252: no Chinese
    EXPECT_EQ(readFile(sample.driveD() / "TEMP.URL"), "URL=\x80 ?\r\n");
    // A stray copy of a killed process goes, one of a live process stays.
    const std::string live = ".velmoran-copy-" + std::to_string(::getppid()) + "-1.tmp";
    for (const std::string& name : {live, std::string(".velmoran-copy-99999999-1.tmp"),
                                    std::string(".velmoran-copy-x-1.tmp")})
        writeFile(scratch / "stray" / name, "partial");
    EXPECT_EQ(SafeFiles::removeStrayTemporaries(scratch / "stray"), 1);
    EXPECT_EQ(fs::exists(scratch / "stray" / live) +
                  fs::exists(scratch / "stray" / ".velmoran-copy-x-1.tmp"),
              2);
}

TEST_F(OnWine, FoldersThatCannotBeReadAreToldAndTheWalkGoesOn)
{
    writeFile(sample.driveD() / "Open" / "Deeper" / "patch_d2.mpq", "x");
    writeFile(sample.driveD() / "Locked" / "patch_d2.mpq", "x");
    writeFile(sample.driveD() / "Open" / "Locked too" / "patch_d2.mpq", "x");
    for (const auto& entry : fs::recursive_directory_iterator(scratch.path()))
        if (entry.is_directory() && !entry.is_symlink())
            fs::permissions(entry.path(), fs::perms(0755));
    fs::permissions(scratch.path(), fs::perms(0755));
    fs::permissions(sample.driveD() / "Locked", fs::perms::none);
    fs::permissions(sample.driveD() / "Open" / "Locked too", fs::perms::none);
    link(sample.driveD() / "Locked", "l:");
    const std::optional<std::string> report = asNobody([&] {
        LinuxFileSystem own{prefix};
        LinuxDrives drives{prefix};
        TestPlatform services{sample.prefix()};
        Platform& real = services.real();
        Platform platform{own,         real.registry,          real.starter,        real.drives,
                          real.viewer, real.applicationFolder, real.temporaryFolder};
        FakeForm form;
        form.drive = "d:";
        RecordingMessages messages;
        CommandContext context{platform, form, messages};
        findPatches(context);
        std::string text;
        for (const std::string& entry : form.list)
            text += entry + "\n";
        for (const ShownMessage& message : messages.shown)
            text += "[" + message.title + "] " + message.text + "\n";
        FolderScan scan;
        return text + failureOf([&] { own.scanFolder("d:\\Locked\\", "x", scan); }) + "|" +
               failureOf([&] { own.findFile("d:\\Locked\\*.*", FindFilter::Folder); }) + "|" +
               failureOf([&] { drives.testReadable("l:"); }) + "|" +
               failureOf([&] { drives.testReadable("d:"); });
    });
    if (!report)
        GTEST_SKIP() << "this system does not let a child process drop to user 65534";
    EXPECT_EQ(*report,
              "d:\\Mods\\Eastern "
              "Sun\\PATCH_D2.MPQ\nd:\\Mods\\Median\\patch_d2.mpq\nd:\\Open\\Deeper\\patch_d2.mpq\n"
              "[Velmoran] 2 folders could not be read and were passed over. The first:\n\n"
              "Could not read the folder.\nd:\\Locked\\\n\nReason: Permission denied\n"
              "Could not read the folder.\nd:\\Locked\\\n\nReason: Permission denied|"
              "Could not list the folder.\nd:\\Locked\\*.*\n\nReason: Permission denied|"
              "Could not read the drive.\nl:\n" +
                  (sample.driveD() / "Locked").string() +
                  "\n\nReason: Permission denied|(no failure)");
}

// A full file system: a copy fails clearly and keeps the old file whole, a move within it works;
// one without user attributes: a copy across to it works, hiding there is a clear failure.
TEST(OnSmallFileSystems, FailuresAreClearAndKeepTheOldFile)
{
    ScratchFolder scratch("velmoran-small");
    Mount small(scratch / "small", "tmpfs", "size=512k"), ram(scratch / "ram", "ramfs", "mode=755");
    if (!small.error.empty() || !ram.error.empty())
        GTEST_SKIP() << small.error << ram.error;
    LinuxFileSystem files{WinePrefix(scratch / "prefix")};
    const std::string old = standInBytes("old", 300 * 1024), big = (scratch / "big.mpq").string();
    const std::string target = (scratch / "small" / "patch_d2.mpq").string();
    writeFile(target, old);
    writeFile(big, standInBytes("big", 400 * 1024));
    for (const std::string& failure :
         {failureOf([&] { files.copyFile(big, target); }),
          failureOf([&] { files.writeTextFile(target, {std::string(300 * 1024, 'x')}); })})
        EXPECT_NE(failure.find("No space left on device"), std::string::npos) << failure;
    EXPECT_NE(failureOf([&] { files.copyFile(big, target); }).find(big + "\n" + target),
              std::string::npos);
    EXPECT_TRUE(readFile(target) == old);
    EXPECT_EQ(std::distance(fs::directory_iterator(scratch / "small"), fs::directory_iterator()),
              1);

    const std::string file = (scratch / "ram" / "patch_d2.mpq").string();
    files.copyFile(big, file);
    EXPECT_TRUE(readFile(file) == readFile(big));
    const std::string failure = failureOf([&] { files.setAttributes(file, Attribute::Hidden); });
    EXPECT_NE(failure.find("extended attributes"), std::string::npos) << failure;
    EXPECT_NE(failure.find(file), std::string::npos) << failure;
    files.setAttributes(file, Attribute::Normal);
    EXPECT_EQ(files.fileAttributes(file), Attribute::Archive);

    // A move needs no room on the full one, and declines across file systems with both files
    // left as they were, so that the caller copies instead.
    const std::string moved = (scratch / "small" / "Backup.mpq").string();
    EXPECT_TRUE(files.moveFile(target, moved));
    EXPECT_FALSE(fs::exists(target));
    EXPECT_FALSE(files.moveFile(moved, file));
    EXPECT_FALSE(files.moveFile(big, moved));
    EXPECT_TRUE(readFile(moved) == old && readFile(file) == readFile(big));
}

TEST(WineRegistryText, FindsTheInstallPathAsWineReadsIt)
{
    const std::string plain =
        "[Software\\\\Blizzard Entertainment\\\\Diablo II] 1700000000\n#time=1d9e0fdd1c0d2a0\n";
    const std::string wow =
        "[Software\\\\Wow6432Node\\\\Blizzard Entertainment\\\\Diablo II] 1700000000\n";
    const auto file = [](const std::string& arch, const std::string& body) {
        return "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=" + arch +
               "\n\n" + body;
    };
    const auto value = [&](const std::string& text) {
        return file("win32", plain + "\"InstallPath\"=" + text + "\n");
    };
    const std::tuple<const char*, std::string, std::optional<std::string>> rows[] = {
        {"plain win32", value("\"C:\\\\Games\\\\Diablo II\""), "C:\\Games\\Diablo II"},
        {"win64 prefers the 32-bit view",
         file("win64", plain + "\"InstallPath\"=\"C:\\\\Native\"\n\n" + wow +
                           "\"InstallPath\"=\"C:\\\\Wow\"\n"),
         "C:\\Wow"},
        {"win64 falls back to the plain key",
         file("win64", plain + "\"InstallPath\"=\"C:\\\\Native\"\n"), "C:\\Native"},
        {"win32 ignores Wow6432Node", file("win32", wow + "\"InstallPath\"=\"C:\\\\Wow\"\n"),
         std::nullopt},
        {"names without regard to case",
         file("win32",
              "[software\\\\BLIZZARD ENTERTAINMENT\\\\diablo ii]\n\"installpath\"=\"D:\\\\D2\"\n"),
         "D:\\D2"},
        {"CR LF",
         "WINE REGISTRY Version 2\r\n#arch=win32\r\n\r\n[Software\\\\Blizzard "
         "Entertainment\\\\Diablo II] 1\r\n\"InstallPath\"=\"C:\\\\D2\"\r\n",
         "C:\\D2"},
        {"escapes", value("\"C:\\\\a\\\"b\\x44\\x00e9\\101\\q\\n\\x4A\\x4a\""),
         std::string("C:\\a\"bD\xC3\xA9"
                     "Aq\nJJ")},
        {"surrogate pair", value("\"\\xd83d\\xde00\""), std::string("\xF0\x9F\x98\x80")},
        {"the first surrogate pair", value("\"\\xd800\\xdc00\""), std::string("\xF0\x90\x80\x80")},
        {"a high surrogate twice", value("\"\\xd83d\\xd83d\\xde00\""),
         std::string("\xEF\xBF\xBD\xF0\x9F\x98\x80")},
        {"lone surrogates", value("\"\\xd83dA\\xde00\""),
         std::string("\xEF\xBF\xBD"
                     "A\xEF\xBF\xBD")},
        {"raw UTF-8", value("\"C:\\\\Spiele\\\\Diablo \xC3\xBC\""),
         std::string("C:\\Spiele\\Diablo \xC3\xBC")},
        {"REG_EXPAND_SZ", value("str(2):\"C:\\\\E\""), "C:\\E"},
        {"a dword is no string", value("dword:00000001"), std::nullopt},
        {"trailing backslash kept", value("\"C:\\\\D2\\\\\""), "C:\\D2\\"},
        {"continued hex before it",
         file("win32", plain + "\"Blob\"=hex:01,02,\\\n  03,04\n\"InstallPath\"=\"C:\\\\H\"\n"),
         "C:\\H"},
        {"value in another key",
         file("win32", "[Software\\\\Other]\n\"InstallPath\"=\"C:\\\\X\"\n"), std::nullopt},
        {"missing value", file("win32", plain + "\"Program\"=\"Diablo II.exe\"\n"), std::nullopt},
        {"missing header", plain + "\"InstallPath\"=\"C:\\\\D2\"\n", std::nullopt},
        {"wrong version", "WINE REGISTRY Version 3\n" + plain + "\"InstallPath\"=\"C:\\\\D2\"\n",
         std::nullopt},
        {"truncated in the value", file("win32", plain + "\"InstallPath\"=\"C:\\\\Ga"),
         std::nullopt},
        {"truncated in an escape", file("win32", plain + "\"InstallPath\"=\"C:\\"), std::nullopt},
        {"empty file", "", std::nullopt}};
    for (const auto& [what, text, expected] : rows)
        EXPECT_EQ(findWineRegistryString(text, GameKeyPath, "InstallPath"), expected) << what;

    ScratchFolder scratch("velmoran-registry");
    SamplePrefix sample(scratch.path());
    WineRegistryReader reader{WinePrefix(sample.prefix())};
    EXPECT_EQ(lookupGameFolder(reader), sample.gameFolderWindows());
    const std::string moved = "D:\\Other Place";
    sample.writeRegistry(&moved);
    EXPECT_EQ(lookupGameFolder(reader), moved);
    WineRegistryReader missing{WinePrefix(scratch / "no-such-prefix")};
    const std::string text = failureOf([&] { requireGameFolder(missing); });
    for (const std::string& part : {std::string("install folder was not found"),
                                    (scratch / "no-such-prefix" / "system.reg").string(),
                                    std::string("Blizzard Entertainment\\Diablo II")})
        EXPECT_NE(text.find(part), std::string::npos) << text;
    const ScopedVariable relative("WINEPREFIX", "relative/prefix");
    EXPECT_NE(WineRegistryReader(WinePrefix::fromEnvironment())
                  .describeLocation(RootKey::LocalMachine, GameKeyPath, "InstallPath")
                  .find("absolute"),
              std::string::npos);
}

TEST_F(OnWine, DrivesAreThePrefixLinksInLetterOrderWithTheirTargets)
{
    link("/usr", "x:");
    fs::create_symlink("/dev/ttyS0", sample.prefix() / "dosdevices" / "com1"); // not a drive
    fs::create_directory_symlink(scratch / "gone", sample.prefix() / "dosdevices" / "g:");
    LinuxDrives drives{prefix};
    const auto named = [](char letter, const fs::path& target) {
        return std::string{letter, ':'} + " [" + target.string() + "]";
    };
    EXPECT_EQ(drives.driveNames(), (Texts{named('c', sample.driveC()), named('d', sample.driveD()),
                                          named('e', sample.driveE()), named('g', scratch / "gone"),
                                          named('x', "/usr"), named('z', "/")}));
    const std::pair<fs::path, char> current[] = {{sample.driveD() / "Mods", 'd'},
                                                 {sample.gameFolder() / "save", 'c'},
                                                 {scratch.path(), 'z'}};
    const fs::path here = fs::current_path();
    for (const auto& [folder, letter] : current) {
        fs::current_path(folder);
        EXPECT_EQ(drives.currentDrive().substr(0, 2), std::string(1, letter) + ":") << folder;
    }
    fs::create_directories(scratch / "w" / "sub"); // a link target written with a slash
    link((scratch / "w").string() + "/", "w:");
    fs::current_path(scratch / "w" / "sub");
    EXPECT_EQ(drives.currentDrive().substr(0, 2), "w:");
    fs::current_path(scratch.path());
    fs::remove(sample.prefix() / "dosdevices" / "z:");
    EXPECT_EQ(drives.currentDrive(), named('c', sample.driveC())); // no drive holds it
    fs::current_path(here);
    for (const auto& [drive, reason] : {std::pair{"g: [gone]", "No such file or directory"},
                                        {"q:", "has no drive q:"},
                                        {"?", "not a drive name"}})
        EXPECT_NE(failureOf([&] { drives.testReadable(drive); }).find(reason), std::string::npos)
            << drive;
    EXPECT_EQ(LinuxDrives{WinePrefix(scratch / "nothing")}.driveNames(), Texts{named('z', "/")});
}

TEST_F(OnWine, WineAndTheOpenerAreStartedDetachedAndTheirFailuresNamed)
{
    StandInPrograms programs(scratch / "stand-ins");
    WineProgramStarter starter{prefix};
    const std::string game = sample.gameFolderWindows();
    starter.startProgram(game + "\\Diablo II.exe", {"-w"}, game);
    const auto wine = programs.waitFor("wine", 1);
    ASSERT_EQ(wine.size(), 1u);
    EXPECT_EQ(wine[0][1], "WINEPREFIX=" + sample.prefix().string());
    for (const auto& [program, folder, says] :
         {std::tuple{game + "\\Diablo II.exe", std::string("C:\\Nowhere"), "does not exist"},
          {game + "\\Missing.exe", game, "Missing.exe does not exist"},
          {std::string("q:\\Diablo II.exe"), std::string("q:\\"), "drive q: is not defined"}})
        EXPECT_NE(failureOf([&] { starter.startProgram(program, {}, folder); }).find(says),
                  std::string::npos)
            << program;

    // The opener gets the address with a scheme, in a session of its own, reading nothing.
    const std::pair<const char*, const char*> addresses[] = {
        {"velmoran.example.org", "http://velmoran.example.org"},
        {"HTTPS://v.example.org", "HTTPS://v.example.org"},
        {"mailto:orvick@v.example.org", "mailto:orvick@v.example.org"},
        {"v.example.org:8080/x", "http://v.example.org:8080/x"},
        {"-no-option", "http://-no-option"},
        {":colon", "http://:colon"},
        {"a+b-c9:x", "a+b-c9:x"},
        {"", "http://"}};
    for (const auto& [caption, opened] : addresses)
        EXPECT_EQ(XdgUrlViewer::openerAddress(caption), opened) << caption;
    writeFile(scratch / "Temp.url", "[InternetShortcut]\r\n");
    // A folder and a file that cannot be run, both named xdg-open, come first on PATH.
    fs::create_directories(scratch / "first" / "xdg-open");
    writeFile(scratch / "second" / "xdg-open", "#!/bin/sh\n");
    const ScopedVariable path("PATH", (scratch / "first").string() + ":" +
                                          (scratch / "second").string() + ":" +
                                          programs.bin().string() + ":/usr/bin:/bin");
    XdgUrlViewer{prefix}.openShortcut(scratch.path().string() + "\\TEMP.URL",
                                      "v.example.org/a b;$(touch x)'\"");
    EXPECT_FALSE(fs::exists(scratch / "Temp.url"));
    const auto opened = programs.waitFor("xdg-open", 1);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(
        opened[0],
        (Texts{"cwd=" + fs::current_path().string(),
               "WINEPREFIX=" +
                   std::string(std::getenv("WINEPREFIX") ? std::getenv("WINEPREFIX") : ""),
               opened[0][2], "stdin=/dev/null", "arg=http://v.example.org/a b;$(touch x)'\""}));
    EXPECT_NE(opened[0][2], "sid=" + std::to_string(::getsid(0)));
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1); // started from a grandchild: nothing to reap
    writeFile(programs.bin() / "xdg-open", "#!/nonexistent/interpreter\n");
    writeFile(scratch / "TEMP.URL", "x");
    EXPECT_NE(failureOf([&] {
                  XdgUrlViewer{prefix}.openShortcut(scratch.path().string() + "\\TEMP.URL", "v");
              }).find((programs.bin() / "xdg-open").string()),
              std::string::npos);
    EXPECT_FALSE(fs::exists(scratch / "TEMP.URL"));
    const ScopedVariable noWine("PATH", (scratch / "empty").string());
    EXPECT_NE(failureOf([&] {
                  starter.startProgram(game + "\\Diablo II.exe", {}, game);
              }).find("wine was not found"),
              std::string::npos);
}

// Drive1 as the window has it: a selection made by the program signals a change, which
// runs the drive-change handling again.
class SignallingForm : public FakeForm
{
public:
    void selectDrive(const std::string& d) override
    {
        FakeForm::selectDrive(d);
        if (++depth > 5)
            throw std::runtime_error("the drive change loops");
        changeDrive(*context);
        --depth;
    }
    CommandContext* context = nullptr;
    int depth = 0;
};

TEST_F(OnWine, AnUnreadableDriveIsToldAndCIsSelectedOnce)
{
    fs::create_directory_symlink(scratch / "no disk", sample.prefix() / "dosdevices" / "a:");
    const std::tuple<const char*, const char*, std::vector<ShownMessage>, Texts> rows[] = {
        // c: readable?, selected, messages, selections made
        {"yes", "a:", {{"No Disk in drive A:", " Velmoran "}}, {"c:"}},
        {"yes", "A:", {{"No Disk was found on drive A:", "Velmoran "}}, {"c:"}},
        {"yes", "a: [floppy]", {{"No Disk was found on drive a: [floppy]", "Velmoran "}}, {"c:"}},
        {"yes", "q:", {{"No Disk was found on drive q:", "Velmoran "}}, {"c:"}},
        {"yes", "e:", {}, {}},
        {"no",
         "a:",
         {{"No Disk in drive A:", " Velmoran "}, {"No Disk was found on drive c:", "Velmoran "}},
         {"c:"}},
        {"no", "C:", {{"No Disk was found on drive C:", "Velmoran "}}, {}},
        {"no", "c: [drive_c]", {{"No Disk was found on drive c: [drive_c]", "Velmoran "}}, {}}};
    for (const auto& [readable, selected, messages, selections] : rows) {
        fs::remove(sample.prefix() / "dosdevices" / "c:");
        link(std::string(readable) == "yes" ? sample.driveC() : scratch / "no disk", "c:");
        TestPlatform services{sample.prefix()};
        SignallingForm form;
        RecordingMessages shown;
        CommandContext context{services.real(), form, shown};
        form.context = &context;
        form.drive = selected;
        form.list = {"kept"};
        changeDrive(context);
        EXPECT_EQ(shown.shown, messages) << selected;
        EXPECT_EQ(form.driveSelections, selections) << selected;
        EXPECT_EQ(form.list, Texts{"kept"});
        EXPECT_EQ(form.captionText, "Velmoran");
    }
}

} // namespace
