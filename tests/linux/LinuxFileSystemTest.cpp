#include "core/OperationError.h"
#include "platform/linux/LinuxFileSystem.h"
#include "support/SamplePrefix.h"
#include "support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
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

    std::vector<std::string> listAll(const std::string& pattern, FindFilter filter)
    {
        std::vector<std::string> names;
        auto listing = files.findFile(pattern, filter);
        for (std::string name = listing->next(); !name.empty(); name = listing->next())
            names.push_back(name);
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
        return length < 0 ? std::string("(none)") : std::string(buffer, static_cast<std::size_t>(length));
    }
    static ino_t inode(const fs::path& path)
    {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
    }
};

template <typename F>
std::string failureOf(F&& operation)
{
    try {
        operation();
    } catch (const OperationError& error) {
        return error.what();
    }
    return "(no failure)";
}

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
    EXPECT_NE(failureOf([&] { first->next(); }).find("find the next file"), std::string::npos);
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

    EXPECT_NE(failureOf([&] { files.setAttributes(game + "\\nothing.mpq", Attribute::Hidden); })
                  .find("No such file"),
              std::string::npos);
    EXPECT_NE(failureOf([&] { files.fileAttributes(game + "\\nothing.mpq"); }).find("nothing.mpq"),
              std::string::npos);
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

    EXPECT_NE(failureOf([&] { files.copyFile("d:\\Mods\\gone.mpq", destination); })
                  .find("No such file"),
              std::string::npos);
    EXPECT_NE(failureOf([&] { files.copyFile(source, "q:\\x.mpq"); }).find("q:"),
              std::string::npos);
}

TEST_F(FileLayer, DeleteMakeAndRemoveFailAsTheTableSays)
{
    const fs::path save = sample.gameFolder() / "save";
    files.deleteFiles(game + "\\save\\*.D2S");
    EXPECT_FALSE(fs::exists(save / "Sorceress.d2s"));
    EXPECT_TRUE(fs::exists(save / "Sorceress.key"));
    EXPECT_NE(failureOf([&] { files.deleteFiles(game + "\\save\\*.d2s"); }).find("no file matches"),
              std::string::npos);
    EXPECT_NE(failureOf([&] { files.deleteFiles(game + "\\save"); }).find("no file matches"),
              std::string::npos);

    files.makeFolder(game + "\\Backup");
    EXPECT_TRUE(fs::is_directory(sample.gameFolder() / "Backup"));
    EXPECT_NE(failureOf([&] { files.makeFolder(game + "\\BACKUP"); }).find("exists already"),
              std::string::npos);
    EXPECT_NE(failureOf([&] { files.makeFolder(game + "\\data\\global"); }).find("parent"),
              std::string::npos);
    EXPECT_NE(failureOf([&] { files.removeFolder(game + "\\save"); }).find("not empty"),
              std::string::npos);
    files.removeFolder(game + "\\backup");
    EXPECT_FALSE(fs::exists(sample.gameFolder() / "Backup"));
    EXPECT_NE(failureOf([&] { files.removeFolder(game + "\\Backup"); }).find("does not exist"),
              std::string::npos);
}

TEST_F(FileLayer, CopyFolderTreeMergesAndReplaces)
{
    const fs::path source = sample.gameFolder() / "save";
    const fs::path target = sample.gameFolder() / "save_Backup" / "save";
    writeFile(source / "sub" / "deep.d2s", "deep");
    writeFile(source / ".hidden.d2s", "hidden");
    files.makeFolder(game + "\\save_Backup");
    files.copyFolderTree(game + "\\save", game + "\\save_Backup\\save");
    for (const char* name : {"Sorceress.d2s", "Sorceress.key", "Barbarian.d2s", "sub/deep.d2s",
                             ".hidden.d2s"})
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

    EXPECT_NE(failureOf([&] { files.copyFolderTree(game + "\\nothing", game + "\\x"); })
                  .find("source folder does not exist"),
              std::string::npos);
    EXPECT_NE(failureOf([&] { files.copyFolderTree(game + "\\save", game + "\\save\\sub"); })
                  .find("inside"),
              std::string::npos);
}

TEST_F(FileLayer, WriteTextFileWritesCodePageBytesWithCrLf)
{
    const std::string path = game + "\\TEMP.URL";
    files.writeTextFile(path, {"[InternetShortcut]", "URL=caf\xC3\xA9 \xE2\x82\xAC \xE4\xB8\xAD"});
    EXPECT_EQ(readFile(sample.gameFolder() / "TEMP.URL"),
              "[InternetShortcut]\r\nURL=caf\xE9 \x80 ?\r\n");
    files.writeTextFile(path, {"short"});
    EXPECT_EQ(readFile(sample.gameFolder() / "TEMP.URL"), "short\r\n");
    EXPECT_NE(failureOf([&] { files.writeTextFile(game + "\\none\\TEMP.URL", {"x"}); })
                  .find("TEMP.URL"),
              std::string::npos);
}

TEST_F(FileLayer, ScanFolderGivesVisibleSubfoldersAndMatches)
{
    const fs::path root = sample.driveD() / "Scan";
    for (const char* name : {"A/x", "B/x", ".dot/x", "Hidden/x", "patch_d2.mpq/x", "PATCH_D2.MPQ",
                             "other.mpq"})
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
    EXPECT_NE(failureOf([&] { files.scanFolder("d:\\Scan\\missing\\", "x", scan); })
                  .find("No such file"),
              std::string::npos);
}

} // namespace
