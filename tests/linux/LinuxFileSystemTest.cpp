#include "platform/linux/LinuxFileSystem.h"
#include "AsNobody.h"
#include "core/OperationError.h"
#include "support/SamplePrefix.h"
#include "support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <sys/stat.h>
#include <sys/xattr.h>

using namespace velmoran;
using namespace velmoran::testing;
namespace fs = std::filesystem;

namespace {

// A sample prefix and the file layer on it.
class FileLayer : public ::testing::Test
{
protected:
    ScratchFolder scratch{"velmoran-files"};
    SamplePrefix sample{scratch.path()};
    LinuxFileSystem files{WinePrefix(sample.prefix())};
    const std::string game = sample.gameFolderWindows();

    // The names a listing gives, in its order or sorted.
    std::vector<std::string> listAll(const std::string& pattern, FindFilter filter,
                                     bool sorted = true)
    {
        std::vector<std::string> names;
        auto listing = files.findFile(pattern, filter);
        for (std::string name = listing->next(); !name.empty(); name = listing->next())
            names.push_back(name);
        if (sorted)
            std::sort(names.begin(), names.end());
        return names;
    }

    static void setDosAttribute(const fs::path& path, const std::string& value)
    {
        ASSERT_EQ(::setxattr(path.c_str(), "user.DOSATTRIB", value.data(), value.size(), 0), 0)
            << path;
    }
    static std::string dosAttribute(const fs::path& path)
    {
        char buffer[64];
        const ssize_t length = ::getxattr(path.c_str(), "user.DOSATTRIB", buffer, sizeof buffer);
        return length < 0 ? std::string("(none)")
                          : std::string(buffer, static_cast<std::size_t>(length));
    }
    // Whether `operation` raises an OperationError whose text holds `reason`.
    template <typename F>
    static ::testing::AssertionResult failsWith(F&& operation, const std::string& reason)
    {
        const std::string failure = failureOf(operation);
        if (failure.find(reason) != std::string::npos)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "\"" << reason << "\" not in: " << failure;
    }
    static ino_t inode(const fs::path& path)
    {
        struct stat st = {};
        return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
    }
};

TEST_F(FileLayer, NamesResolveWithoutRegardToCaseAndListWithStoredCapitals)
{
    struct Case
    {
        std::string pattern;
        std::string expected;
    };
    const Case cases[] = {
        {"d:\\Mods\\Eastern Sun\\patch_d2.mpq", "PATCH_D2.MPQ"},
        {"D:\\MODS\\eastern SUN\\Patch_D2.Mpq", "PATCH_D2.MPQ"},
        {"d:\\mods\\median\\PATCH_D2.MPQ", "patch_d2.mpq"},
        {"c:\\PROGRAM FILES (X86)\\diablo ii\\storm.DLL", "Storm.dll"},
        {"d:\\Mods\\Eastern Sun\\*.MPQ", "PATCH_D2.MPQ"},
        {"d:\\Mods\\Nowhere\\patch_d2.mpq", ""},
        {"q:\\patch_d2.mpq", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(findFirst(files, c.pattern, FindFilter::Ordinary), c.expected) << c.pattern;
}

TEST_F(FileLayer, FiltersHideAndShowAsWindowsDoes)
{
    const fs::path folder = sample.driveD() / "Filters";
    for (const char* name : {"plain.txt", "hidden.txt", "system.txt", "both.txt", ".dotfile",
                             ".dotvisible", "HiddenFolder/x", "VisibleFolder/x", ".dotfolder/x"})
        writeFile(folder / name, "x");
    setDosAttribute(folder / "hidden.txt", "0x2");
    setDosAttribute(folder / "system.txt", "0x4");
    setDosAttribute(folder / "both.txt", "0x6");
    setDosAttribute(folder / ".dotvisible", "0x0");
    setDosAttribute(folder / "HiddenFolder", "0x2");

    using V = std::vector<std::string>;
    EXPECT_EQ(listAll("d:\\Filters\\*.*", FindFilter::Ordinary), (V{".dotvisible", "plain.txt"}));
    EXPECT_EQ(listAll("d:\\Filters\\*.*", FindFilter::Hidden),
              (V{".dotfile", ".dotvisible", "hidden.txt", "plain.txt"}));
    EXPECT_EQ(listAll("d:\\Filters\\*.*", FindFilter::Folder),
              (V{".", "..", ".dotvisible", "VisibleFolder", "plain.txt"}));
    EXPECT_EQ(listAll("d:\\Filters\\*", FindFilter::Ordinary), (V{".dotvisible", "plain.txt"}));
    EXPECT_EQ(listAll("d:\\Filters\\hidden.txt", FindFilter::Ordinary), V{});
    EXPECT_EQ(listAll("d:\\Filters\\HIDDEN.TXT", FindFilter::Hidden), V{"hidden.txt"});
    EXPECT_EQ(listAll("d:\\Filters\\missing\\*.*", FindFilter::Folder), V{});
}

TEST_F(FileLayer, ListingsAreIndependentAndEndOnce)
{
    auto first = files.findFile("d:\\Mods\\*.*", FindFilter::Folder);
    auto second = files.findFile("c:\\*.*", FindFilter::Folder);
    std::set<std::string> names;
    for (std::string n = first->next(); !n.empty(); n = first->next())
        names.insert(n);
    EXPECT_EQ(names, (std::set<std::string>{".", "..", "Median", "Eastern Sun", "readme.txt"}));
    EXPECT_FALSE(second->next().empty());
    EXPECT_TRUE(failsWith([&] { first->next(); }, "find the next file"));
}

TEST_F(FileLayer, AttributesAsWineStoresThem)
{
    const std::string archive = game + "\\patch_d2.mpq";
    const fs::path unixArchive = sample.gameFolder() / "patch_d2.mpq";
    EXPECT_EQ(files.fileAttributes(archive), Attribute::Archive);
    EXPECT_EQ(files.fileAttributes(game + "\\SAVE"), Attribute::Directory);

    files.setAttributes(archive, Attribute::Hidden);
    EXPECT_EQ(dosAttribute(unixArchive), "0x2");
    EXPECT_EQ(files.fileAttributes(archive), Attribute::Archive | Attribute::Hidden);
    EXPECT_EQ(findFirst(files, archive, FindFilter::Ordinary), "");
    EXPECT_EQ(findFirst(files, archive, FindFilter::Hidden), "patch_d2.mpq");

    files.setAttributes(archive, Attribute::Normal);
    EXPECT_EQ(dosAttribute(unixArchive), "(none)");
    EXPECT_EQ(files.fileAttributes(archive), Attribute::Archive);

    writeFile(sample.gameFolder() / ".hidden", "x");
    EXPECT_EQ(files.fileAttributes(game + "\\.hidden"), Attribute::Archive | Attribute::Hidden);
    files.setAttributes(game + "\\.hidden", Attribute::Normal);
    EXPECT_EQ(files.fileAttributes(game + "\\.hidden"), Attribute::Archive);

    ::chmod(unixArchive.c_str(), 0444);
    EXPECT_EQ(files.fileAttributes(archive), Attribute::Archive | Attribute::ReadOnly);
    files.setAttributes(archive, Attribute::Normal);
    EXPECT_EQ(files.fileAttributes(archive), Attribute::Archive);

    EXPECT_TRUE(failsWith([&] { files.setAttributes(game + "\\nothing.mpq", Attribute::Hidden); },
                          "No such file"));
    EXPECT_TRUE(failsWith([&] { files.fileAttributes(game + "\\nothing.mpq"); }, "nothing.mpq"));
}

TEST_F(FileLayer, CopyFileReplacesWholeAndLeavesTheSameFileAlone)
{
    const std::string source = "d:\\Mods\\Median\\patch_d2.mpq";
    const std::string destination = game + "\\patch_d2.mpq";
    const fs::path unixDestination = sample.gameFolder() / "patch_d2.mpq";
    files.copyFile(source, destination);
    EXPECT_EQ(readFile(unixDestination), readFile(sample.driveD() / "Mods/Median/patch_d2.mpq"));
    EXPECT_TRUE(files.sameContents(source, destination));

    // Onto itself, by case and through a hard link: untouched (same inode, same bytes).
    const ino_t before = inode(unixDestination);
    files.copyFile(destination, game + "\\PATCH_D2.MPQ");
    fs::create_hard_link(unixDestination, sample.gameFolder() / "link.mpq");
    files.copyFile(game + "\\link.mpq", destination);
    EXPECT_EQ(inode(unixDestination), before);
    EXPECT_FALSE(fs::exists(sample.gameFolder() / "PATCH_D2.MPQ.tmp"));

    EXPECT_TRUE(
        failsWith([&] { files.copyFile("d:\\Mods\\gone.mpq", destination); }, "No such file"));
    EXPECT_TRUE(failsWith([&] { files.copyFile(source, "q:\\x.mpq"); }, "q:"));
}

// Within one file system a move is one rename: the same file (inode, attribute) under its
// new name, a file of that name replaced. Across file systems it answers false and changes
// nothing, so that the caller copies.
TEST_F(FileLayer, MoveFileRenamesWithinAFileSystemAndDeclinesAcrossThem)
{
    const fs::path original = sample.gameFolder() / "patch_d2.mpq";
    const fs::path backup = sample.gameFolder() / "Backup" / "patch_d2.mpq";
    writeFile(backup, "older");
    setDosAttribute(original, "0x2");
    const std::string bytes = readFile(original);
    const ino_t before = inode(original);
    EXPECT_TRUE(files.moveFile(game + "\\PATCH_D2.MPQ", game + "\\Backup\\patch_d2.mpq"));
    EXPECT_FALSE(fs::exists(original));
    EXPECT_EQ(readFile(backup), bytes);
    EXPECT_EQ(inode(backup), before);
    EXPECT_EQ(dosAttribute(backup), "0x2");

    // Onto itself: untouched; from another name of it (a hard link): that name goes.
    EXPECT_TRUE(files.moveFile(game + "\\Backup\\patch_d2.mpq", game + "\\BACKUP\\PATCH_D2.MPQ"));
    fs::create_hard_link(backup, sample.gameFolder() / "link.mpq");
    EXPECT_TRUE(files.moveFile(game + "\\link.mpq", game + "\\Backup\\patch_d2.mpq"));
    EXPECT_FALSE(fs::exists(sample.gameFolder() / "link.mpq"));
    EXPECT_EQ(readFile(backup), bytes);

    EXPECT_TRUE(
        failsWith([&] { files.moveFile(game + "\\gone.mpq", game + "\\x.mpq"); }, "No such file"));
    EXPECT_TRUE(failsWith([&] { files.moveFile(game + "\\Backup\\patch_d2.mpq", game + "\\save"); },
                          "folder"));

    // Another file system (/dev/shm) as drive m:.
    char other[] = "/dev/shm/velmoran-move-XXXXXX";
    struct stat shm = {}, here = {};
    if (::mkdtemp(other) == nullptr || ::stat(other, &shm) != 0 ||
        ::stat(sample.gameFolder().c_str(), &here) != 0 || shm.st_dev == here.st_dev) {
        ::rmdir(other);
        GTEST_SKIP() << "no second file system at /dev/shm";
    }
    fs::create_directory_symlink(other, sample.prefix() / "dosdevices" / "m:");
    writeFile(fs::path(other) / "patch_d2.mpq", "elsewhere");
    EXPECT_FALSE(files.moveFile(game + "\\Backup\\patch_d2.mpq", "m:\\patch_d2.mpq"));
    EXPECT_FALSE(files.moveFile("m:\\patch_d2.mpq", game + "\\Backup\\patch_d2.mpq"));
    EXPECT_EQ(readFile(backup), bytes);
    EXPECT_EQ(readFile(fs::path(other) / "patch_d2.mpq"), "elsewhere");
    fs::remove_all(other);
}

TEST_F(FileLayer, DeleteMakeAndRemoveFailAsTheTableSays)
{
    const fs::path save = sample.gameFolder() / "save";
    files.deleteFiles(game + "\\save\\*.D2S");
    EXPECT_FALSE(fs::exists(save / "Sorceress.d2s"));
    EXPECT_TRUE(fs::exists(save / "Sorceress.key"));
    EXPECT_TRUE(failsWith([&] { files.deleteFiles(game + "\\save\\*.d2s"); }, "no file matches"));
    EXPECT_TRUE(failsWith([&] { files.deleteFiles(game + "\\save"); }, "no file matches"));

    files.makeFolder(game + "\\Backup");
    EXPECT_TRUE(fs::is_directory(sample.gameFolder() / "Backup"));
    EXPECT_TRUE(failsWith([&] { files.makeFolder(game + "\\BACKUP"); }, "exists already"));
    EXPECT_TRUE(failsWith([&] { files.makeFolder(game + "\\data\\global"); }, "parent"));
    EXPECT_TRUE(failsWith([&] { files.removeFolder(game + "\\save"); }, "not empty"));
    files.removeFolder(game + "\\backup");
    EXPECT_FALSE(fs::exists(sample.gameFolder() / "Backup"));
    EXPECT_TRUE(failsWith([&] { files.removeFolder(game + "\\Backup"); }, "does not exist"));
}

TEST_F(FileLayer, CopyFolderTreeMergesAndReplaces)
{
    const fs::path source = sample.gameFolder() / "save";
    const fs::path target = sample.gameFolder() / "save_Backup" / "save";
    writeFile(source / "sub" / "deep.d2s", "deep");
    writeFile(source / ".hidden.d2s", "hidden");
    files.makeFolder(game + "\\save_Backup");
    files.copyFolderTree(game + "\\save", game + "\\save_Backup\\save");
    for (const char* name :
         {"Sorceress.d2s", "Sorceress.key", "Barbarian.d2s", "sub/deep.d2s", ".hidden.d2s"})
        EXPECT_EQ(readFile(target / name), readFile(source / name)) << name;

    // Merge back: same-name files replaced (whatever their case), others kept.
    writeFile(source / "Sorceress.d2s", "changed after the backup");
    writeFile(source / "New.d2s", "made after the backup");
    writeFile(target / "BARBARIAN.D2S", "x");
    fs::remove(target / "Barbarian.d2s");
    files.copyFolderTree(game + "\\save_Backup\\save", game + "\\save");
    EXPECT_EQ(readFile(source / "Sorceress.d2s"), readFile(target / "Sorceress.d2s"));
    EXPECT_EQ(readFile(source / "Barbarian.d2s"), "x");
    EXPECT_FALSE(fs::exists(source / "BARBARIAN.D2S"));
    EXPECT_EQ(readFile(source / "New.d2s"), "made after the backup");

    EXPECT_TRUE(failsWith([&] { files.copyFolderTree(game + "\\nothing", game + "\\x"); },
                          "source folder does not exist"));
    EXPECT_TRUE(
        failsWith([&] { files.copyFolderTree(game + "\\save", game + "\\save\\sub"); }, "inside"));
}

TEST_F(FileLayer, WriteTextFileWritesCodePageBytesWithCrLf)
{
    const std::string path = game + "\\TEMP.URL";
    files.writeTextFile(path, {"[InternetShortcut]", "URL=caf\xC3\xA9 \xE2\x82\xAC \xE4\xB8\xAD"});
    EXPECT_EQ(readFile(sample.gameFolder() / "TEMP.URL"),
              "[InternetShortcut]\r\nURL=caf\xE9 \x80 ?\r\n");
    files.writeTextFile(path, {"short"});
    EXPECT_EQ(readFile(sample.gameFolder() / "TEMP.URL"), "short\r\n");
    EXPECT_TRUE(
        failsWith([&] { files.writeTextFile(game + "\\none\\TEMP.URL", {"x"}); }, "TEMP.URL"));
}

TEST_F(FileLayer, ScanFolderGivesVisibleSubfoldersAndMatches)
{
    const fs::path root = sample.driveD() / "Scan";
    for (const char* name :
         {"A/x", "B/x", ".dot/x", "Hidden/x", "patch_d2.mpq/x", "PATCH_D2.MPQ", "other.mpq"})
        writeFile(root / name, "x");
    setDosAttribute(root / "Hidden", "0x2");
    FolderScan scan;
    files.scanFolder("d:\\Scan\\", "patch_d2.mpq", scan);
    std::set<std::string> subfolders(scan.subfolders.begin(), scan.subfolders.end());
    EXPECT_EQ(subfolders, (std::set<std::string>{"A", "B", "patch_d2.mpq"}));
    EXPECT_EQ(scan.matches, std::vector<std::string>{"PATCH_D2.MPQ"});
    ASSERT_EQ(scan.subfolderIds.size(), scan.subfolders.size());
    for (std::size_t i = 0; i < scan.subfolders.size(); ++i)
        EXPECT_EQ(scan.subfolderIds[i].inode, inode(root / scan.subfolders[i]));
    EXPECT_EQ(scan.folder.inode, inode(root));
    EXPECT_TRUE(
        failsWith([&] { files.scanFolder("d:\\Scan\\missing\\", "x", scan); }, "No such file"));
}

TEST_F(FileLayer, NamesThatAreNotUtf8RoundTripFromListingToCopy)
{
    const std::vector<std::string> names = {"caf\xE9", "\xFF\xFE", "bad\xC3", "\xC3\x28mix"};
    for (const std::string& name : names)
        writeFile(sample.driveD() / "Raw" / name / "patch_d2.mpq", standInBytes(name, 5000));
    FolderScan scan;
    files.scanFolder("d:\\Raw\\", "patch_d2.mpq", scan);
    EXPECT_EQ(std::set<std::string>(scan.subfolders.begin(), scan.subfolders.end()),
              std::set<std::string>(names.begin(), names.end()));
    for (const std::string& folder : scan.subfolders) {
        const std::string path = "d:\\Raw\\" + folder + "\\";
        FolderScan inner;
        files.scanFolder(path, "patch_d2.mpq", inner);
        ASSERT_EQ(inner.matches, std::vector<std::string>{"patch_d2.mpq"}) << folder;
        files.copyFile(path + inner.matches[0], game + "\\patch_d2.mpq");
        EXPECT_EQ(readFile(sample.gameFolder() / "patch_d2.mpq"), standInBytes(folder, 5000));
        EXPECT_EQ(listAll("d:\\Raw\\" + folder + "\\*.*", FindFilter::Ordinary),
                  std::vector<std::string>{"patch_d2.mpq"});
    }
}

TEST_F(FileLayer, ScanLeavesOutKernelFoldersAndTheDosDevices)
{
    FolderScan scan;
    files.scanFolder("z:\\", "patch_d2.mpq", scan);
    const std::set<std::string> root(scan.subfolders.begin(), scan.subfolders.end());
    for (const char* name : {"proc", "sys", "dev"})
        EXPECT_EQ(root.count(name), 0u) << name;
    EXPECT_EQ(root.count("tmp"), fs::is_directory("/tmp") ? 1u : 0u);

    files.scanFolder(sample.prefix().string() + "/", "system.reg", scan);
    EXPECT_EQ(scan.subfolders, std::vector<std::string>{"drive_c"});
    EXPECT_EQ(scan.matches, std::vector<std::string>{"system.reg"});
}

TEST_F(FileLayer, ScanFollowsFolderLinksWithTheTargetsIdentity)
{
    const fs::path root = sample.driveD() / "Links";
    writeFile(root / "Real" / "patch_d2.mpq", "x");
    fs::create_directory_symlink(root / "Real", root / "ToReal");
    fs::create_directory_symlink(root, root / "Real" / "Up");
    fs::create_symlink(root / "nowhere", root / "Broken");
    fs::create_symlink(root / "Real" / "patch_d2.mpq", root / "patch_d2.mpq");
    FolderScan scan;
    files.scanFolder("d:\\Links\\", "patch_d2.mpq", scan);
    ASSERT_EQ(std::set<std::string>(scan.subfolders.begin(), scan.subfolders.end()),
              (std::set<std::string>{"Real", "ToReal"}));
    EXPECT_EQ(scan.subfolderIds[0], scan.subfolderIds[1]);
    EXPECT_EQ(scan.matches, std::vector<std::string>{"patch_d2.mpq"});
    FolderScan inner;
    files.scanFolder("d:\\Links\\Real\\", "patch_d2.mpq", inner);
    EXPECT_EQ(inner.subfolderIds, std::vector<FolderId>{scan.folder});
}

TEST_F(FileLayer, CopiesKeepTheHiddenAttributeAndStraysNeverBlockAFolder)
{
    const std::string backup = game + "\\Backup";
    files.makeFolder(backup);
    files.copyFile(game + "\\patch_d2.mpq", backup + "\\patch_d2.mpq");
    files.setAttributes(backup + "\\patch_d2.mpq", Attribute::Hidden);
    files.copyFile(backup + "\\patch_d2.mpq", game + "\\copy.mpq");
    EXPECT_EQ(files.fileAttributes(game + "\\copy.mpq"), Attribute::Archive | Attribute::Hidden);

    // A copy killed before its rename left a temporary file: it neither shows in listings
    // nor keeps the folder from being removed once the archive is gone.
    writeFile(sample.gameFolder() / "Backup" / ".velmoran-copy-99999999-5.tmp", "partial");
    EXPECT_EQ(listAll(backup + "\\*.*", FindFilter::Ordinary), std::vector<std::string>{});
    files.setAttributes(backup + "\\patch_d2.mpq", Attribute::Normal);
    files.deleteFiles(backup + "\\patch_d2.mpq");
    files.removeFolder(backup);
    EXPECT_FALSE(fs::exists(sample.gameFolder() / "Backup"));

    EXPECT_TRUE(failsWith([&] { files.copyFile(game + "\\patch_d2.mpq", game + "\\no\\x.mpq"); },
                          "No such file"));
    EXPECT_TRUE(failsWith([&] { files.copyFile(game + "\\save", game + "\\x.mpq"); }, "folder"));
    EXPECT_TRUE(
        failsWith([&] { files.copyFile(game + "\\patch_d2.mpq", game + "\\save"); }, "folder"));
}

TEST_F(FileLayer, SameContentsComparesBytes)
{
    const fs::path folder = sample.driveD() / "Compare";
    const std::string big = standInBytes("big", 3 * 1024 * 1024 + 17);
    std::string changedLate = big;
    changedLate[changedLate.size() - 1] ^= 1;
    writeFile(folder / "a", big);
    writeFile(folder / "b", big);
    writeFile(folder / "c", changedLate);
    writeFile(folder / "d", big.substr(1));
    writeFile(folder / "e", "");
    writeFile(folder / "f", "");
    struct Case
    {
        const char* first;
        const char* second;
        bool same;
    };
    for (const Case& c : {Case{"a", "b", true}, Case{"a", "c", false}, Case{"a", "d", false},
                          Case{"a", "A", true}, Case{"e", "f", true}, Case{"e", "a", false}})
        EXPECT_EQ(files.sameContents(std::string("d:\\Compare\\") + c.first,
                                     std::string("d:\\Compare\\") + c.second),
                  c.same)
            << c.first << " " << c.second;
    EXPECT_TRUE(failsWith([&] { files.sameContents("d:\\Compare\\a", "d:\\Compare\\x"); },
                          "compare the files"));
}

TEST_F(FileLayer, ScanMapsOtherCapitalsAndNewDrivesLikeEveryOtherOperation)
{
    writeFile(sample.driveD() / "Mods" / "Median" / "Sub" / "x", "x");
    const std::vector<std::string> ways = {"d:\\Mods\\Median\\", "D:\\MODS\\median\\",
                                           "d:/Mods/Median", "d:\\Mods\\.\\Other\\..\\Median\\",
                                           (sample.driveD() / "Mods" / "Median").string()};
    for (const std::string& way : ways) {
        FolderScan scan;
        files.scanFolder(way, "PATCH_D2.MPQ", scan);
        EXPECT_EQ(scan.subfolders, std::vector<std::string>{"Sub"}) << way;
        EXPECT_EQ(scan.matches, std::vector<std::string>{"patch_d2.mpq"}) << way;
    }
    // A drive link made or changed after a scan is used by the next scan.
    FolderScan scan;
    EXPECT_TRUE(failsWith([&] { files.scanFolder("m:\\", "x", scan); }, "m:"));
    fs::create_directory_symlink(sample.driveD() / "Mods", sample.prefix() / "dosdevices" / "m:");
    // An hour-old drive folder: the link is read once and kept until the folder changes.
    fs::last_write_time(sample.prefix() / "dosdevices",
                        fs::file_time_type::clock::now() - std::chrono::hours(1));
    files.scanFolder("m:\\", "readme.txt", scan);
    files.scanFolder("m:\\", "readme.txt", scan);
    EXPECT_EQ(scan.matches, std::vector<std::string>{"readme.txt"});
    fs::remove(sample.prefix() / "dosdevices" / "m:");
    fs::create_directory_symlink(sample.driveE(), sample.prefix() / "dosdevices" / "m:");
    files.scanFolder("m:\\", "readme.txt", scan);
    EXPECT_EQ(scan.subfolders, std::vector<std::string>{"Downloads"});
}

TEST_F(FileLayer, CopyFolderTreeIntoAFolderAndFromReadOnlyFolders)
{
    const fs::path save = sample.gameFolder() / "save";
    fs::create_directories(sample.gameFolder() / "Into");
    files.copyFolderTree(game + "\\save", game + "\\Into\\");
    EXPECT_EQ(readFile(sample.gameFolder() / "Into" / "save" / "Sorceress.d2s"),
              readFile(save / "Sorceress.d2s"));
    EXPECT_TRUE(failsWith([&] { files.copyFolderTree(game + "\\save", game + "\\Nowhere\\"); },
                          "destination folder does not exist"));

    fs::permissions(save, fs::perms(0555));
    files.copyFolderTree(game + "\\save", game + "\\Copy");
    files.copyFolderTree(game + "\\save", game + "\\Copy");
    EXPECT_EQ(readFile(sample.gameFolder() / "Copy" / "Barbarian.d2s"),
              readFile(save / "Barbarian.d2s"));
    EXPECT_TRUE((fs::status(sample.gameFolder() / "Copy").permissions() & fs::perms::owner_write) !=
                fs::perms::none);
}

TEST_F(FileLayer, SpecialFilesAreRefusedNotWaitedOn)
{
    const fs::path pipe = sample.gameFolder() / "pipe.mpq";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
    EXPECT_TRUE(failsWith([&] { files.copyFile(game + "\\pipe.mpq", game + "\\x.mpq"); },
                          "not a regular file"));
    EXPECT_TRUE(failsWith([&] { files.sameContents(game + "\\pipe.mpq", game + "\\patch_d2.mpq"); },
                          "not a regular file"));
    EXPECT_FALSE(fs::exists(sample.gameFolder() / "x.mpq"));
}

// Folders list in NTFS's order (Wine sorts to imitate it), whatever order the Unix file
// system keeps: without regard to case, capitals' order ("_" after letters).
TEST_F(FileLayer, ListingsAndScansComeInWindowsOrder)
{
    const std::vector<std::string> created = {"b", "_x", "C", "a_", "aa", "A", "\xC3\xA9t\xC3\xA9",
                                              "z"};
    const std::vector<std::string> ordered = {"A", "aa", "a_", "b",
                                              "C", "z",  "_x", "\xC3\xA9t\xC3\xA9"};
    for (const std::string& name : created) {
        writeFile(sample.driveD() / "Order" / "Files" / name, "x");
        writeFile(sample.driveD() / "Order" / "Folders" / name / "x", "x");
    }
    std::vector<std::string> expected = {".", ".."};
    expected.insert(expected.end(), ordered.begin(), ordered.end());
    EXPECT_EQ(listAll("d:\\Order\\Files\\*.*", FindFilter::Folder, false), expected);

    FolderScan scan;
    files.scanFolder("d:\\Order\\Folders\\", "x", scan);
    EXPECT_EQ(scan.subfolders, ordered);
    ASSERT_EQ(scan.subfolderIds.size(), ordered.size());
    for (std::size_t i = 0; i < ordered.size(); ++i)
        EXPECT_EQ(scan.subfolderIds[i].inode,
                  inode(sample.driveD() / "Order" / "Folders" / ordered[i]));
}

TEST_F(FileLayer, CopyFolderTreeStopsAtALinkLoop)
{
    writeFile(sample.driveD() / "Loop" / "a.txt", "a");
    fs::create_directory_symlink(sample.driveD() / "Loop", sample.driveD() / "Loop" / "Again");
    EXPECT_TRUE(failsWith([&] { files.copyFolderTree("d:\\Loop", "d:\\LoopCopy"); }, "link loop"));
    EXPECT_EQ(readFile(sample.driveD() / "LoopCopy" / "a.txt"), "a");
}

} // namespace
