// What only the Linux layer has: Wine's attributes, registry, drive links and prefixes found in
// the home folder, wine and xdg-open as started programs, Unix links, rights and file systems.
#include "core/ExcelFolders.h"
#include "core/FindCommand.h"
#include "core/GameFolder.h"
#include "core/LaunchCommand.h"
#include "core/OperationError.h"
#include "core/PatchSearch.h"
#include "core/PatchSwap.h"
#include "platform/linux/LinuxDrives.h"
#include "platform/linux/LinuxFileSystem.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/SafeFiles.h"
#include "platform/linux/WineProgramStarter.h"
#include "platform/linux/WineRegistry.h"
#include "platform/linux/XdgUrlViewer.h"
#include "support/SampleGame.h"
#include "support/StandIns.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>

using namespace velmoran;
using namespace velmoran::testing;
namespace fs = std::filesystem;
using Texts = std::vector<std::string>;

namespace {

// Whether the operation fails with a message that holds every part.
template <typename F>::testing::AssertionResult fails(F&& operation, const Texts& parts)
{
    std::string text = "(no failure)";
    try {
        operation();
    } catch (const OperationError& error) {
        text = error.what();
    }
    for (const std::string& part : parts)
        if (text.find(part) == std::string::npos)
            return ::testing::AssertionFailure() << "no \"" << part << "\" in: " << text;
    return ::testing::AssertionSuccess();
}

class OnWine : public ::testing::Test
{
protected:
    // The subfolders a scan gives, and its matches after "=".
    std::set<std::string> scanned(const std::string& folder, const std::string& name = "x")
    {
        FolderScan scan;
        files.scanFolder(folder, name, scan);
        std::set<std::string> seen(scan.subfolders.begin(), scan.subfolders.end());
        for (const std::string& match : scan.matches)
            seen.insert("=" + match);
        return seen;
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
    EXPECT_EQ(scanned("d:\\Attr\\"), expected);
    // As Wine stores it: hidden is "0x2"; a dot-name is hidden.
    files.setAttributes(sample.gameFolderWindows() + "\\patch_d2.mpq", Attribute::Hidden);
    char stored[8] = {};
    ::getxattr((sample.gameFolder() / "patch_d2.mpq").c_str(), "user.DOSATTRIB", stored, 8);
    EXPECT_STREQ(stored, "0x2");
    writeFile(sample.gameFolder() / ".hidden", "x");
    EXPECT_EQ(files.fileAttributes(sample.gameFolderWindows() + "\\.hidden"),
              Attribute::Archive | Attribute::Hidden);
}

TEST_F(OnWine, PathsMapThroughTheDriveLinksAsTheyAreNow)
{
    writeFile(sample.driveD() / "Mods" / "Median" / "Sub" / "x", "x");
    link(sample.driveD(), "a:");
    for (const std::string& way : Texts{
             "d:\\Mods\\Median\\", "D:\\MODS\\median\\", "d:/Mods/Median", "A:\\Mods\\Median",
             "d:\\Mods\\.\\Other\\..\\Median\\", (sample.driveD() / "Mods" / "Median").string()}) {
        EXPECT_EQ(scanned(way, "PATCH_D2.MPQ"), (std::set<std::string>{"Sub", "=patch_d2.mpq"}))
            << way;
    }
    // A drive link made after a scan is used by the next one, whatever an hour-old cache holds.
    EXPECT_TRUE(fails([&] { scanned("m:\\"); }, {"m:"}));
    link(sample.driveD() / "Mods", "m:");
    fs::last_write_time(sample.prefix() / "dosdevices",
                        fs::file_time_type::clock::now() - std::chrono::hours(1));
    EXPECT_EQ(scanned("m:\\"), (std::set<std::string>{"Eastern Sun", "Median"}));
    // The kernel's folders and the prefix's own drive folder are never walked into.
    const std::set<std::string> root = scanned("z:\\");
    const std::set<std::string> own = scanned("z:" + sample.prefix().string());
    EXPECT_EQ(root.count("proc") + root.count("sys") + root.count("dev"), 0u);
    EXPECT_EQ(own, std::set<std::string>{"drive_c"});
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
    EXPECT_TRUE(fails([&] { files.copyFolderTree("d:\\Loop", "d:\\LoopCopy"); }, {"link loop"}));
}

TEST_F(OnWine, SpecialFilesAreRefusedAndReadOnlyFoldersCopied)
{
    ASSERT_EQ(::mkfifo((sample.gameFolder() / "pipe.mpq").c_str(), 0644), 0);
    const std::string game = sample.gameFolderWindows(), pipe = game + "\\pipe.mpq";
    EXPECT_TRUE(fails([&] { files.copyFile(pipe, game + "\\x.mpq"); }, {"not a regular file"}));
    EXPECT_TRUE(
        fails([&] { files.sameContents(pipe, game + "\\patch_d2.mpq"); }, {"not a regular file"}));
    fs::permissions(sample.gameFolder() / "save", fs::perms(0555));
    files.copyFolderTree(game + "\\save", game + "\\Copy");
    files.copyFolderTree(game + "\\save", game + "\\Copy");
    EXPECT_NE(fs::status(sample.gameFolder() / "Copy").permissions() & fs::perms::owner_write,
              fs::perms::none);
    // A destination below a file cannot be reached: said so, not some later failure.
    EXPECT_TRUE(fails([&] { files.copyFolderTree(game + "\\save", game + "\\patch_d2.mpq\\x"); },
                      {"cannot reach the folder"}));
    files.writeTextFile("d:\\TEMP.URL", {"URL=\xE2\x82\xAC \xE4\xB8\xAD"}); // no Chinese in 1252
    EXPECT_EQ(readFile(sample.driveD() / "TEMP.URL"), "URL=\x80 ?\r\n");
    // A stray copy of a killed process goes, one of a live process stays.
    const std::string live = ".velmoran-copy-" + std::to_string(::getppid()) + "-1.tmp";
    for (const std::string& name : {live, std::string(".velmoran-copy-99999999-1.tmp"),
                                    std::string(".velmoran-copy-x-1.tmp")})
        writeFile(scratch / "stray" / name, "partial");
    EXPECT_EQ(SafeFiles::removeStrayTemporaries(scratch / "stray"), 1);
    EXPECT_TRUE(fs::exists(scratch / "stray" / live));
    EXPECT_TRUE(fs::exists(scratch / "stray" / ".velmoran-copy-x-1.tmp"));
}

// A full file system: a copy or a write fails clearly and keeps the old file whole.
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
    const std::string target = (small / "patch_d2.mpq").string(),
                      moved = (small / "B.mpq").string();
    writeFile(target, old);
    writeFile(big, standInBytes("big", 400 * 1024));
    EXPECT_TRUE(fails([&] { files.copyFile(big, target); },
                      {"No space left on device", big + "\n" + target}));
    EXPECT_TRUE(fails([&] { files.writeTextFile(target, {std::string(300 * 1024, 'x')}); },
                      {"No space left on device"}));
    EXPECT_EQ(std::distance(fs::directory_iterator(small), {}), 1); // nothing left behind
    // A move needs no room, and declines across file systems with both files left as they were.
    EXPECT_TRUE(files.moveFile(target, moved));
    EXPECT_FALSE(files.moveFile(big, target));
    EXPECT_TRUE(readFile(moved) == old && readFile(big) == standInBytes("big", 400 * 1024));
    EXPECT_FALSE(fs::exists(target));
}

TEST(WineRegistryText, FindsTheInstallPathAsWineReadsIt)
{
    const std::string plain =
        "[Software\\\\Blizzard Entertainment\\\\Diablo II] 1700000000\n#time=1d9e0fdd1c0d2a0\n";
    const std::string wow = "[Software\\\\Wow6432Node\\\\Blizzard Entertainment\\\\Diablo II] 1\n";
    const auto file = [](const std::string& arch, const std::string& body) {
        return "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=" + arch +
               "\n\n" + body;
    };
    const auto at = [](const std::string& value) { return "\"InstallPath\"=" + value + "\n"; };
    const auto win32 = [&](const std::string& value) { return file("win32", plain + at(value)); };
    const std::string native = at("\"C:\\\\Native\"");
    const std::tuple<const char*, std::string, std::optional<std::string>> rows[] = {
        {"plain win32", win32("\"C:\\\\Games\\\\Diablo II\""), "C:\\Games\\Diablo II"},
        {"win64 prefers the 32-bit view",
         file("win64", plain + native + "\n" + wow + at("\"C:\\\\Wow\"")), "C:\\Wow"},
        {"win64 falls back to the plain key", file("win64", plain + native), "C:\\Native"},
        {"win32 ignores Wow6432Node", file("win32", wow + at("\"C:\\\\Wow\"")), std::nullopt},
        {"win64 ignores another key of that name",
         file("win64", "[Software\\\\Other\\\\Blizzard Entertainment\\\\Diablo II]\n" + native +
                           plain + at("\"C:\\\\D2\"")),
         "C:\\D2"},
        {"names without regard to case",
         file("win32",
              "[software\\\\BLIZZARD ENTERTAINMENT\\\\diablo ii]\n\"installpath\"=\"D:\\\\D2\"\n"),
         "D:\\D2"},
        {"CR LF",
         "WINE REGISTRY Version 2\r\n#arch=win32\r\n\r\n[Software\\\\Blizzard "
         "Entertainment\\\\Diablo II] 1\r\n\"InstallPath\"=\"C:\\\\D2\"\r\n",
         "C:\\D2"},
        {"escapes", win32("\"C:\\\\a\\\"b\\x44\\x00e9\\101\\q\\n\\x4A\\x4a\""),
         "C:\\a\"bD\303\251Aq\nJJ"},
        {"surrogate pair", win32("\"\\xd83d\\xde00\""), "\xF0\x9F\x98\x80"},
        {"the first surrogate pair", win32("\"\\xd800\\xdc00\""), "\xF0\x90\x80\x80"},
        {"a high surrogate twice", win32("\"\\xd83d\\xd83d\\xde00\""),
         "\357\277\275\xF0\x9F\x98\x80"},
        {"lone surrogates", win32("\"\\xd83dA\\xde00\""), "\357\277\275A\357\277\275"},
        {"raw UTF-8", win32("\"C:\\\\Spiele\\\\Diablo \xC3\xBC\""), "C:\\Spiele\\Diablo \xC3\xBC"},
        {"REG_EXPAND_SZ", win32("str(2):\"C:\\\\E\""), "C:\\E"},
        {"a dword is no string", win32("dword:00000001"), std::nullopt},
        {"trailing backslash kept", win32("\"C:\\\\D2\\\\\""), "C:\\D2\\"},
        {"continued hex before it",
         file("win32", plain + "\"Blob\"=hex:01,02,\\\n  03,04\n" + native), "C:\\Native"},
        {"missing value", file("win32", plain + "\"Program\"=\"Diablo II.exe\"\n"), std::nullopt},
        {"missing header", plain + native, std::nullopt},
        {"wrong version", "WINE REGISTRY Version 3\n" + plain + native, std::nullopt},
        {"truncated in the value", file("win32", plain + "\"InstallPath\"=\"C:\\\\Ga"),
         std::nullopt},
        {"truncated in an escape", file("win32", plain + "\"InstallPath\"=\"C:\\"), std::nullopt},
        {"empty file", "", std::nullopt}};
    for (const auto& [what, text, expected] : rows)
        EXPECT_EQ(findWineRegistryString(text, GameKeyPath, "InstallPath"), expected) << what;

    // A relative WINEPREFIX is refused, not taken from the current folder.
    const ScopedVariable relative("WINEPREFIX", "relative/prefix");
    EXPECT_NE(WineRegistryReader(WinePrefix::fromEnvironment())
                  .describeLocation(RootKey::LocalMachine, GameKeyPath, "InstallPath")
                  .find("absolute"),
              std::string::npos);
}

TEST_F(OnWine, WineAndTheOpenerAreStartedDetachedAndTheirFailuresNamed)
{
    // The opener gets the address with a scheme, as one argument that no shell reads.
    const std::pair<const char*, const char*> addresses[] = {
        {"velmoran.example.org", "http://velmoran.example.org"},
        {"HTTPS://v.example.org", "HTTPS://v.example.org"},
        {"v.example.org:8080/x", "http://v.example.org:8080/x"},
        {"-no-option", "http://-no-option"},
        {":colon", "http://:colon"},
        {"a+b-c09:x", "a+b-c09:x"}};
    for (const auto& [caption, opened] : addresses)
        EXPECT_EQ(XdgUrlViewer::openerAddress(caption), opened) << caption;
    StandInPrograms programs(scratch / "stand-ins");
    writeFile(scratch / "Temp.url", "[InternetShortcut]\r\n");
    // A folder and a file that cannot be run, both named xdg-open, come first on PATH.
    fs::create_directories(scratch / "first" / "xdg-open");
    writeFile(scratch / "second" / "xdg-open", "#!/bin/sh\n");
    const ScopedVariable path("PATH", (scratch / "first").string() + ":" +
                                          (scratch / "second").string() + ":" +
                                          programs.bin().string() + ":/usr/bin:/bin");
    XdgUrlViewer{prefix}.openShortcut(scratch.path().string() + "\\TEMP.URL",
                                      "v.example.org/a b;$(touch x)'\"");
    const auto opened = programs.waitFor("xdg-open", 1);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].back(), "arg=http://v.example.org/a b;$(touch x)'\"");
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1); // started from a grandchild: nothing to reap
    WineProgramStarter starter{prefix};
    EXPECT_TRUE(fails([&] { starter.startProgram("q:\\Diablo II.exe", {}, "q:\\"); },
                      {"drive q: is not defined"}));
    const ScopedVariable noWine("PATH", (scratch / "empty").string());
    const std::string game = sample.gameFolderWindows();
    EXPECT_TRUE(fails([&] { starter.startProgram(game + "\\Diablo II.exe", {}, game); },
                      {"wine was not found"}));
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

// Where Velmoran finds the game without WINEPREFIX, and which Wine starts it: home folders laid
// out as Wine, Lutris and Bottles lay them out; stand-in wines record which was started, and how.
const std::string GameAt = "C:\\Program Files (x86)\\Diablo II";
const std::string Lutris = ".local/share/lutris/games/", Bottles = ".local/share/bottles";

// One thing in the home folder (paths relative to it) or in the environment.
// clang-format off
enum Kind { Game, NoGame, GameFile, Bottle, Wine, Text, DeadLink, PrefixVar, WineVar };
// clang-format on
struct Item
{
    Kind kind;
    std::string a, b = {}, c = {}, d = {};
};

// A scratch home with stand-in wine programs that write to one record; wine on PATH is one.
struct Home
{
    ScratchFolder scratch{"velmoran-home"};
    fs::path home = scratch / "home", record = scratch / "record";
    LinuxEnvironment environment;
    ScopedVariable path{"PATH", (scratch / "bin").string() + ":/usr/bin:/bin"};
    ScopedVariable recordTo{"VELMORAN_WINE_RECORD", record.string()};
    int made = 0;
    FakeForm form; // the main window and message box, recording
    RecordingMessages messages;

    explicit Home(const std::vector<Item>& items)
    {
        environment.home = home;
        lay({Wine, "../bin/wine"});
        for (const Item& item : items)
            lay(item);
    }
    void lay(const Item& i)
    {
        const fs::path at = home / i.a;
        if (i.kind == Game || i.kind == NoGame) { // a SamplePrefix moved in place
            SamplePrefix::Options options;
            options.withGameEntry = i.kind == Game;
            options.installPath = i.b.empty() ? GameAt : i.b;
            const SamplePrefix sample(scratch / ("made" + std::to_string(++made)), options);
            fs::create_directories(at.parent_path());
            fs::rename(sample.prefix(), at);
        } else if (i.kind == GameFile) { // as Lutris writes it for a Wine game
            const std::string prefix = i.b[0] == '~' ? i.b : (home / i.b).string();
            writeFile(at, "game:\n  exe: " + prefix + "/drive_c/Game.exe\n  prefix: " + prefix +
                              "\nname: Diablo II\nrunner: wine\nsystem: {}\nwine:\n  version: " +
                              i.c + "\n");
        } else if (i.kind == Bottle) { // a bottle with its bottle.yml, as Bottles lays it out
            lay({Game, i.a + "/bottles/" + i.b, i.d});
            writeFile(at / "bottles" / i.b / "bottle.yml",
                      "Arch: win64\nCustom_Path: false\nName: " + i.b + "\nPath: " + i.b +
                          "\nRunner: " + i.c + "\n");
        } else if (i.kind == Wine) {
            writeFile(at, "#!/bin/sh\n{ printf 'wine=%s\\ncwd=%s\\nWINEPREFIX=%s\\n' \"$0\" "
                          "\"$(pwd)\" \"$WINEPREFIX\"; for a; do printf 'arg=%s\\n' \"$a\"; done; "
                          "} > \"$VELMORAN_WINE_RECORD.part\" && mv \"$VELMORAN_WINE_RECORD.part\" "
                          "\"$VELMORAN_WINE_RECORD\"\n");
            fs::permissions(at, fs::perms::owner_all);
        } else if (i.kind == Text) {
            writeFile(at, i.b);
        } else if (i.kind == DeadLink) {
            fs::create_directories(at.parent_path());
            fs::create_directory_symlink(home / "nowhere", at);
        } else {
            (i.kind == PrefixVar ? environment.winePrefix : environment.wine) = at.string();
        }
    }
    std::string inHome(std::string text) const
    {
        for (std::size_t at; (at = text.find('~')) != std::string::npos;)
            text.replace(at, 1, home.string());
        return text;
    }
    // What the started wine recorded, once it has (a detached start takes a moment).
    std::string recorded() const
    {
        for (int i = 0; i < 500 && !fs::exists(record); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return fs::exists(record) ? readFile(record) : "(no wine was started)";
    }
    std::string started(const std::string& wine, const fs::path& prefix) const
    {
        return "wine=" + fs::path(inHome(wine)).lexically_normal().string() +
               "\ncwd=" + prefix.string() +
               "/drive_c/Program Files (x86)/Diablo II\nWINEPREFIX=" + prefix.string() +
               "\narg=" + GameAt + "\\Diablo II.exe\n";
    }
};

struct Case
{
    const char* name;
    std::vector<Item> home;
    const char* chosen; // the prefix used, relative to home; "" for none
    const char* wine;   // that Launch starts; when none is chosen, the drive list's first
    Texts says = {};    // when none is chosen, in the message ("~": home)
};

const std::string LutrisWine = "~/.local/share/lutris/runners/wine/lutris-7.2/bin/wine";
const std::string PathWine = "~/../bin/wine";

const Case Cases[] = {
    {"a Lutris prefix in ~/Games with its runner; ~/.wine without the game",
     {{NoGame, ".wine"},
      {GameFile, Lutris + "diablo-ii-1700000000.yml", "Games/d2", "lutris-7.2"},
      {Game, "Games/d2"},
      {Wine, LutrisWine.substr(2)}},
     "Games/d2",
     LutrisWine.c_str()},
    {"an older Lutris game file naming its prefix with ~, its runner not installed",
     {{GameFile, ".config/lutris/games/d2.yml", "~/Prefixes/d2", "lutris-7.2"},
      {Game, "Prefixes/d2"}},
     "Prefixes/d2",
     PathWine.c_str()},
    {"WINE before the prefix's runner",
     {{GameFile, Lutris + "d2.yml", "Games/d2", "lutris-7.2"},
      {Game, "Games/d2"},
      {Wine, LutrisWine.substr(2)},
      {Wine, "own/wine"},
      {WineVar, "own/wine"}},
     "Games/d2",
     "~/own/wine"},
    {"a Bottles bottle with its runner",
     {{Bottle, Bottles, "D2", "soda-7.0-9"}, {Wine, Bottles + "/runners/soda-7.0-9/bin/wine"}},
     ".local/share/bottles/bottles/D2",
     "~/.local/share/bottles/runners/soda-7.0-9/bin/wine"},
    {"a bottle on the system's Wine; broken game files passed over",
     {{Text, Lutris + "a.yml", "game: [prefix: {\n\t- ]]:"},
      {Text, Lutris + "b.yml", std::string(5000, '[')},
      {Bottle, Bottles, "D2", "sys-wine-9.0"}},
     ".local/share/bottles/bottles/D2",
     PathWine.c_str()},
    {"two prefixes with the game",
     {{Game, ".wine"}, {Bottle, Bottles, "D2", "soda-7.0-9", "C:\\Games\\Diablo II"}},
     "",
     "c: [~/.wine/drive_c]",
     {"more than one Wine prefix", "~/.wine (Wine's default prefix): game folder " + GameAt,
      "~/.local/share/bottles/bottles/D2 (Bottles bottle D2): game folder C:\\Games\\Diablo II",
      "WINEPREFIX=~/.wine velmoran", "Exec=env WINEPREFIX=~/.wine velmoran"}},
    {"a broken game file and a prefix link that leads nowhere",
     {{NoGame, ".wine"},
      {Text, Lutris + "broken.yml", "game:\n  prefix: \"open"},
      {GameFile, Lutris + "gone.yml", "Games/gone", "7"},
      {DeadLink, "Games/gone"}},
     "",
     "c: [~/.wine/drive_c]",
     {"~/.wine (Wine's default prefix)", "lutris/games/broken.yml: not valid YAML",
      "gone.yml: names the prefix ~/Games/gone, which is a link that leads nowhere",
      "the Bottles bottles ~/.var/app/com.usebottles.bottles/data/bottles/bottles/*"}},
    {"WINEPREFIX before every other prefix",
     {{PrefixVar, "chosen"}, {NoGame, "chosen"}, {Bottle, Bottles, "D2", "soda-7.0-9"}},
     "",
     "c: [~/chosen/drive_c]",
     {"~/chosen/system.reg"}},
    {"no prefix at all", {}, "", "z: [/]", {"but found no Wine prefix"}},
};

// Every file under a folder with its bytes, to tell that nothing changed.
std::map<std::string, std::string> tree(const fs::path& root)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        files[entry.path().string()] = entry.is_regular_file() ? readFile(entry.path()) : "";
    return files;
}

TEST(GamePrefix, FindsTheOnePrefixThatHoldsTheGameAndStartsItsWineOrSaysWhy)
{
    for (const Case& c : Cases) {
        SCOPED_TRACE(c.name);
        Home h(c.home);
        const auto services = createLinuxPlatformServices(h.environment);
        CommandContext context{services->platform(), h.form, h.messages};
        if (*c.chosen) {
            const fs::path prefix = h.home / c.chosen;
            EXPECT_EQ(context.platform.drives.driveNames().front(),
                      "c: [" + prefix.string() + "/drive_c]");
            launchGame(context);
            EXPECT_EQ(h.recorded(), h.started(c.wine, prefix));
            backupPatch(context); // in the same prefix
            EXPECT_TRUE(fs::exists(prefix / "drive_c/Program Files (x86)/Diablo II/Backup"));
            continue;
        }
        EXPECT_EQ(context.platform.drives.driveNames().front(), h.inHome(c.wine));
        Texts says;
        for (const std::string& part : c.says)
            says.push_back(h.inHome(part));
        EXPECT_TRUE(fails([&] { requireGameFolder(context.platform.registry); }, says));
        // Then no command changes a file.
        const auto before = tree(h.scratch.path());
        h.form.list = {"c:\\windows\\patch_d2.mpq"};
        h.form.selected = 0;
        for (auto command : {backupPatch, replacePatch, undoChanges, launchGame, createExcelFolders,
                             deleteExcelFolders})
            EXPECT_THROW(command(context), OperationError);
        EXPECT_EQ(tree(h.scratch.path()), before);
    }
}

TEST(GamePrefix, AGameThatMovesToAnotherPrefixWhileVelmoranRunsChangesNothing)
{
    Home h({{Game, ".wine"}});
    const auto services = createLinuxPlatformServices(h.environment);
    CommandContext context{services->platform(), h.form, h.messages};
    EXPECT_EQ(requireGameFolder(context.platform.registry), GameAt);
    fs::rename(h.home / ".wine/system.reg", h.scratch / "moved.reg");
    h.lay({Bottle, Bottles, "D2", "soda-7.0-9"});
    const fs::path bottle = h.home / Bottles / "bottles/D2";
    EXPECT_TRUE(
        fails([&] { backupPatch(context); }, {"start it again to work in " + bottle.string()}));
    EXPECT_FALSE(fs::exists(bottle / "drive_c/Program Files (x86)/Diablo II/Backup"));
}

} // namespace
