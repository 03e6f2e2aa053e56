#include "platform/windows/WindowsFileSystem.h"
#include "WindowsTestSupport.h"
#include "core/OperationError.h"
#include "core/PathRules.h"
#include "support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>

using namespace velmoran;
using namespace velmoran::testing;
namespace fs = std::filesystem;

namespace {

// Whether this system reports the archive flag on every file, whatever was set (Wine
// does); on Windows a file set to normal has no flag at all.
unsigned forcedArchive(const fs::path& probe)
{
    writeFile(probe, "probe");
    ::SetFileAttributesW(probe.wstring().c_str(), FILE_ATTRIBUTE_NORMAL);
    const DWORD attributes = win32Attributes(probe);
    fs::remove(probe);
    return attributes & FILE_ATTRIBUTE_ARCHIVE ? Attribute::Archive : 0;
}

// A folder link; false when none can be made (Windows without developer mode or
// administrator rights), and there is nothing to test.
bool makeFolderLink(const fs::path& link, const fs::path& target)
{
    constexpr DWORD AllowUnprivileged = 0x2; // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
    if (!::CreateSymbolicLinkW(link.wstring().c_str(), target.wstring().c_str(),
                               SYMBOLIC_LINK_FLAG_DIRECTORY | AllowUnprivileged))
        return false;
    // Some systems (Wine 8) answer success without making anything.
    const DWORD attributes = win32Attributes(link);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

class WindowsFileSystemTest : public ::testing::Test
{
protected:
    std::string at(const fs::path& relative) const { return windowsPath(scratch / relative); }
    void setWin32Attributes(const fs::path& relative, DWORD attributes)
    {
        ASSERT_TRUE(::SetFileAttributesW((scratch / relative).wstring().c_str(), attributes))
            << relative.string();
    }
    std::set<std::string> listAll(const std::string& pattern, FindFilter filter)
    {
        std::set<std::string> names;
        auto listing = files.findFile(pattern, filter);
        for (std::string name = listing->next(); !name.empty(); name = listing->next())
            names.insert(name);
        return names;
    }
    // Names in a folder other than the ones expected there: a left-over temporary file
    // shows up here.
    std::set<std::string> entries(const fs::path& relative)
    {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(scratch / relative))
            names.insert(windowsPath(entry.path().filename()));
        return names;
    }
    // The operation fails with an OperationError that names every given path.
    void expectFailure(const std::function<void()>& operation,
                       const std::vector<std::string>& paths, const char* what)
    {
        try {
            operation();
            ADD_FAILURE() << what << ": no error";
        } catch (const OperationError& error) {
            for (const std::string& path : paths)
                EXPECT_NE(std::string(error.what()).find(path), std::string::npos)
                    << what << ": " << error.what() << " does not name " << path;
            EXPECT_FALSE(error.reason().empty()) << what;
        }
    }

    ScratchFolder scratch{"velmoran-files"};
    WindowsFileSystem files;
};

TEST_F(WindowsFileSystemTest, CopyFileCreatesReplacesAndLeavesNothingBehind)
{
    writeFile(scratch / "game" / "patch_d2.mpq", std::string(100000, 'n'));
    writeFile(scratch / "game" / "Backup" / "old.mpq", std::string(300000, 'o'));
    writeFile(scratch / "game" / "Backup" / "small.mpq", "s");
    struct Case
    {
        const char* destination;
        const char* what;
    };
    for (const Case& c : {Case{"game\\Backup\\patch_d2.mpq", "new file"},
                          Case{"game\\Backup\\old.mpq", "longer file replaced"},
                          Case{"game\\Backup\\small.mpq", "shorter file replaced"},
                          Case{"game/Backup/slash.mpq", "forward slashes"}}) {
        files.copyFile(at("game\\patch_d2.mpq"), at(c.destination));
        EXPECT_EQ(readFile(scratch / c.destination), std::string(100000, 'n')) << c.what;
    }
    EXPECT_EQ(entries("game\\Backup"),
              (std::set<std::string>{"old.mpq", "patch_d2.mpq", "slash.mpq", "small.mpq"}));
}

TEST_F(WindowsFileSystemTest, CopyFileOntoItselfLeavesTheFileUntouched)
{
    writeFile(scratch / "game" / "patch_d2.mpq", "the archive");
    for (const char* destination : {"game\\patch_d2.mpq", "GAME\\Patch_D2.MPQ"}) {
        files.copyFile(at("game\\patch_d2.mpq"), at(destination));
        EXPECT_EQ(readFile(scratch / "game" / "patch_d2.mpq"), "the archive") << destination;
    }
    EXPECT_EQ(entries("game"), (std::set<std::string>{"patch_d2.mpq"}));
}

TEST_F(WindowsFileSystemTest, FailedCopiesNameThePathsAndKeepTheDestination)
{
    writeFile(scratch / "game" / "patch_d2.mpq", "new");
    writeFile(scratch / "game" / "locked.mpq", "locked");
    setWin32Attributes("game\\locked.mpq", FILE_ATTRIBUTE_READONLY);
    expectFailure([&] { files.copyFile(at("game\\missing.mpq"), at("game\\x.mpq")); },
                  {at("game\\missing.mpq"), at("game\\x.mpq")}, "missing source");
    expectFailure([&] { files.copyFile(at("game\\patch_d2.mpq"), at("nowhere\\x.mpq")); },
                  {at("game\\patch_d2.mpq"), at("nowhere\\x.mpq")}, "missing destination folder");
    expectFailure([&] { files.copyFile(at("game\\patch_d2.mpq"), at("game\\locked.mpq")); },
                  {at("game\\locked.mpq")}, "read-only destination");
    EXPECT_EQ(readFile(scratch / "game" / "locked.mpq"), "locked");
    EXPECT_EQ(entries("game"), (std::set<std::string>{"locked.mpq", "patch_d2.mpq"}));
}

// Within one volume a move is one rename: the file with its attributes under its new name,
// a file of that name replaced; onto itself it stays; failures name the paths.
TEST_F(WindowsFileSystemTest, MoveFileRenamesWithinAVolume)
{
    writeFile(scratch / "game" / "patch_d2.mpq", "the archive");
    writeFile(scratch / "game" / "Backup" / "patch_d2.mpq", "older");
    setWin32Attributes("game\\patch_d2.mpq", FILE_ATTRIBUTE_HIDDEN);
    EXPECT_TRUE(files.moveFile(at("game\\patch_d2.mpq"), at("game\\Backup\\patch_d2.mpq")));
    EXPECT_EQ(entries("game"), (std::set<std::string>{"Backup"}));
    EXPECT_EQ(readFile(scratch / "game" / "Backup" / "patch_d2.mpq"), "the archive");
    EXPECT_NE(files.fileAttributes(at("game\\Backup\\patch_d2.mpq")) & Attribute::Hidden, 0u);
    EXPECT_TRUE(files.moveFile(at("game\\Backup\\patch_d2.mpq"), at("GAME\\BACKUP\\PATCH_D2.MPQ")));
    EXPECT_EQ(readFile(scratch / "game" / "Backup" / "patch_d2.mpq"), "the archive");

    writeFile(scratch / "game" / "locked.mpq", "locked");
    setWin32Attributes("game\\locked.mpq", FILE_ATTRIBUTE_READONLY);
    expectFailure([&] { files.moveFile(at("game\\missing.mpq"), at("game\\x.mpq")); },
                  {at("game\\missing.mpq"), at("game\\x.mpq")}, "missing source");
    expectFailure([&] { files.moveFile(at("game\\Backup\\patch_d2.mpq"), at("game\\locked.mpq")); },
                  {at("game\\locked.mpq")}, "read-only destination");
    EXPECT_EQ(readFile(scratch / "game" / "locked.mpq"), "locked");
    EXPECT_EQ(readFile(scratch / "game" / "Backup" / "patch_d2.mpq"), "the archive");
}

TEST_F(WindowsFileSystemTest, DeleteFilesTakesEveryMatchingFileAndFailsWithoutOne)
{
    for (const char* name : {"a.d2s", "B.D2S", "c.key", "hidden.d2s", "ab.txt", "ac.txt"})
        writeFile(scratch / "save" / name, name);
    fs::create_directories(scratch / "save" / "folder.d2s");
    setWin32Attributes("save\\hidden.d2s", FILE_ATTRIBUTE_HIDDEN);
    files.deleteFiles(at("save\\*.d2s"));
    EXPECT_EQ(entries("save"), (std::set<std::string>{"ab.txt", "ac.txt", "c.key", "folder.d2s"}));
    files.deleteFiles(at("save\\a?.txt"));
    EXPECT_EQ(entries("save"), (std::set<std::string>{"c.key", "folder.d2s"}));
    files.deleteFiles(at("save\\C.KEY"));
    EXPECT_EQ(entries("save"), (std::set<std::string>{"folder.d2s"}));

    for (const char* pattern : {"save\\*.d2s", "save\\folder.d2s", "missing\\*.*"})
        expectFailure([&] { files.deleteFiles(at(pattern)); }, {at(pattern)}, pattern);
}

TEST_F(WindowsFileSystemTest, MakeAndRemoveFolderFollowTheirRules)
{
    files.makeFolder(at("Backup"));
    EXPECT_TRUE(fs::is_directory(scratch / "Backup"));
    expectFailure([&] { files.makeFolder(at("Backup")); }, {at("Backup")}, "existing folder");
    expectFailure([&] { files.makeFolder(at("missing\\Backup")); }, {at("missing\\Backup")},
                  "missing parent");

    writeFile(scratch / "Backup" / "patch_d2.mpq", "x");
    expectFailure([&] { files.removeFolder(at("Backup")); }, {at("Backup")}, "folder not empty");
    fs::remove(scratch / "Backup" / "patch_d2.mpq");
    files.removeFolder(at("Backup"));
    EXPECT_FALSE(fs::exists(scratch / "Backup"));
    expectFailure([&] { files.removeFolder(at("Backup")); }, {at("Backup")}, "missing folder");
}

TEST_F(WindowsFileSystemTest, SetAttributesReplacesTheWholeSetAndHidesForReal)
{
    writeFile(scratch / "patch_d2.mpq", "x");
    setWin32Attributes("patch_d2.mpq", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(files.fileAttributes(at("patch_d2.mpq")), Attribute::ReadOnly | Attribute::Archive);

    const unsigned archive = forcedArchive(scratch / "probe");
    files.setAttributes(at("patch_d2.mpq"), Attribute::Hidden);
    EXPECT_EQ(files.fileAttributes(at("patch_d2.mpq")), Attribute::Hidden | archive);
    const DWORD win32 = win32Attributes(scratch / "patch_d2.mpq");
    EXPECT_TRUE(win32 & FILE_ATTRIBUTE_HIDDEN) << win32;
    EXPECT_FALSE(win32 & FILE_ATTRIBUTE_READONLY) << win32;

    files.setAttributes(at("patch_d2.mpq"), Attribute::Normal);
    EXPECT_EQ(files.fileAttributes(at("patch_d2.mpq")), Attribute::Normal | archive);
    EXPECT_FALSE(win32Attributes(scratch / "patch_d2.mpq") & FILE_ATTRIBUTE_HIDDEN);

    fs::create_directories(scratch / "save");
    EXPECT_EQ(files.fileAttributes(at("save")), Attribute::Directory);
    EXPECT_EQ(files.fileAttributes(at("save\\")), Attribute::Directory);
    expectFailure([&] { files.setAttributes(at("missing.mpq"), Attribute::Hidden); },
                  {at("missing.mpq")}, "set on a missing file");
    expectFailure([&] { files.fileAttributes(at("missing.mpq")); }, {at("missing.mpq")},
                  "read from a missing file");
}

TEST_F(WindowsFileSystemTest, FindFileAppliesTheThreeFilters)
{
    for (const char* name : {"plain.txt", "readonly.txt", "hidden.txt", "system.txt", "noext"})
        writeFile(scratch / "d" / name, name);
    for (const char* name : {"sub", "hiddensub", "systemsub"})
        fs::create_directories(scratch / "d" / name);
    setWin32Attributes("d\\readonly.txt", FILE_ATTRIBUTE_READONLY);
    setWin32Attributes("d\\hidden.txt", FILE_ATTRIBUTE_HIDDEN);
    setWin32Attributes("d\\system.txt", FILE_ATTRIBUTE_SYSTEM);
    setWin32Attributes("d\\hiddensub", FILE_ATTRIBUTE_HIDDEN);
    setWin32Attributes("d\\systemsub", FILE_ATTRIBUTE_SYSTEM);

    struct Case
    {
        FindFilter filter;
        std::set<std::string> expected;
    };
    const Case cases[] = {
        {FindFilter::Ordinary, {"plain.txt", "readonly.txt", "noext"}},
        {FindFilter::Hidden, {"plain.txt", "readonly.txt", "noext", "hidden.txt"}},
        {FindFilter::Folder, {".", "..", "plain.txt", "readonly.txt", "noext", "sub"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(listAll(at("d\\*.*"), c.filter), c.expected) << static_cast<int>(c.filter);
    EXPECT_EQ(listAll(at("d\\*.txt"), FindFilter::Ordinary),
              (std::set<std::string>{"plain.txt", "readonly.txt"}));
}

TEST_F(WindowsFileSystemTest, FindFileGivesStoredNamesAndEndsCleanly)
{
    writeFile(scratch / "Mods" / "PATCH_D2.MPQ", "x");
    auto listing = files.findFile(at("Mods\\patch_d2.mpq"), FindFilter::Ordinary);
    EXPECT_EQ(listing->next(), "PATCH_D2.MPQ");
    EXPECT_EQ(listing->next(), "");
    EXPECT_THROW(listing->next(), OperationError);

    for (const char* pattern : {"missing\\*.*", "Mods\\other.mpq"}) {
        auto empty = files.findFile(at(pattern), FindFilter::Folder);
        EXPECT_EQ(empty->next(), "") << pattern;
        EXPECT_THROW(empty->next(), OperationError) << pattern;
    }
}

TEST_F(WindowsFileSystemTest, ListingsOfDifferentCallersDoNotDisturbEachOther)
{
    for (const char* name : {"a1", "a2", "a3"})
        writeFile(scratch / "a" / name, name);
    for (const char* name : {"b1", "b2"})
        writeFile(scratch / "b" / name, name);
    auto outer = files.findFile(at("a\\*.*"), FindFilter::Ordinary);
    std::set<std::string> outerNames, innerNames;
    for (std::string name = outer->next(); !name.empty(); name = outer->next()) {
        outerNames.insert(name);
        auto inner = files.findFile(at("b\\*.*"), FindFilter::Ordinary);
        for (std::string other = inner->next(); !other.empty(); other = inner->next())
            innerNames.insert(other);
    }
    EXPECT_EQ(outerNames, (std::set<std::string>{"a1", "a2", "a3"}));
    EXPECT_EQ(innerNames, (std::set<std::string>{"b1", "b2"}));
}

TEST_F(WindowsFileSystemTest, CopyFolderTreeCreatesOrMergesOverwriting)
{
    writeFile(scratch / "save" / "Sorceress.d2s", "new sorceress");
    writeFile(scratch / "save" / "Hidden.key", "hidden key");
    writeFile(scratch / "save" / "Sub" / "Deep" / "x.ma0", "deep");
    setWin32Attributes("save\\Hidden.key", FILE_ATTRIBUTE_HIDDEN);

    files.copyFolderTree(at("save"), at("copy"));
    EXPECT_EQ(readFile(scratch / "copy" / "Sorceress.d2s"), "new sorceress");
    EXPECT_EQ(readFile(scratch / "copy" / "Hidden.key"), "hidden key");
    EXPECT_EQ(readFile(scratch / "copy" / "Sub" / "Deep" / "x.ma0"), "deep");

    writeFile(scratch / "restore" / "Sorceress.d2s", "old sorceress, longer than the new one");
    writeFile(scratch / "restore" / "Barbarian.d2s", "only here");
    files.copyFolderTree(at("save\\"), at("restore"));
    EXPECT_EQ(readFile(scratch / "restore" / "Sorceress.d2s"), "new sorceress");
    EXPECT_EQ(readFile(scratch / "restore" / "Barbarian.d2s"), "only here");
    EXPECT_EQ(readFile(scratch / "restore" / "Sub" / "Deep" / "x.ma0"), "deep");
    EXPECT_EQ(entries("restore"),
              (std::set<std::string>{"Barbarian.d2s", "Hidden.key", "Sorceress.d2s", "Sub"}));
}

TEST_F(WindowsFileSystemTest, CopyFolderTreeFailures)
{
    writeFile(scratch / "save" / "a.d2s", "a");
    expectFailure([&] { files.copyFolderTree(at("missing"), at("copy")); },
                  {at("missing"), at("copy")}, "missing source");
    EXPECT_FALSE(fs::exists(scratch / "copy"));
    // Copied into itself, the tree would grow without end.
    for (const char* destination : {"save\\inner", "SAVE\\inner\\deeper", "save"})
        expectFailure([&] { files.copyFolderTree(at("save"), at(destination)); }, {at(destination)},
                      destination);
    EXPECT_EQ(entries("save"), (std::set<std::string>{"a.d2s"}));
}

TEST_F(WindowsFileSystemTest, CopyFolderTreeStopsAtAFolderLinkLoop)
{
    writeFile(scratch / "save" / "a.d2s", "a");
    // A folder link back up the tree ends the copy instead of copying for ever.
    if (!makeFolderLink(scratch / "save" / "Loop", scratch / "save"))
        GTEST_SKIP() << "this system makes no folder links here";
    expectFailure([&] { files.copyFolderTree(at("save"), at("looped")); },
                  {at("save\\Loop"), at("looped\\Loop")}, "link loop");
    EXPECT_EQ(readFile(scratch / "looped" / "a.d2s"), "a");
}

TEST_F(WindowsFileSystemTest, WriteTextFileWritesAnsiLinesWithCrLf)
{
    const std::string caption = "velmoran.example.org/caf\xC3\xA9";
    // What the system's ANSI code page makes of the same text.
    const std::wstring wide = toWide(caption);
    std::string ansi(wide.size() * 4, '\0');
    ansi.resize(static_cast<std::size_t>(
        ::WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), ansi.data(),
                              static_cast<int>(ansi.size()), nullptr, nullptr)));
    ASSERT_FALSE(ansi.empty());

    writeFile(scratch / "TEMP.URL", std::string(500, 'o')); // emptied, not appended to
    files.writeTextFile(at("TEMP.URL"), {"[InternetShortcut]", "URL=" + caption});
    EXPECT_EQ(readFile(scratch / "TEMP.URL"), "[InternetShortcut]\r\nURL=" + ansi + "\r\n");
    files.writeTextFile(at("empty.txt"), {});
    EXPECT_EQ(readFile(scratch / "empty.txt"), "");
    expectFailure([&] { files.writeTextFile(at("missing\\TEMP.URL"), {"x"}); },
                  {at("missing\\TEMP.URL")}, "missing folder");
}

TEST_F(WindowsFileSystemTest, SameContentsComparesBytes)
{
    writeFile(scratch / "a", std::string(300000, 'a') + "1");
    writeFile(scratch / "same", std::string(300000, 'a') + "1");
    writeFile(scratch / "differs", std::string(300000, 'a') + "2");
    writeFile(scratch / "shorter", std::string(300000, 'a'));
    EXPECT_TRUE(files.sameContents(at("a"), at("same")));
    EXPECT_FALSE(files.sameContents(at("a"), at("differs")));
    EXPECT_FALSE(files.sameContents(at("a"), at("shorter")));
    expectFailure([&] { files.sameContents(at("a"), at("missing")); }, {at("missing")},
                  "missing file");
}

TEST_F(WindowsFileSystemTest, ScanFolderListsVisibleSubfoldersAndMatches)
{
    writeFile(scratch / "d" / "other.mpq", "x");
    writeFile(scratch / "d" / "A" / "patch_d2.mpq", "x");
    fs::create_directories(scratch / "d" / "patch_d2.mpq" / "inner");
    fs::create_directories(scratch / "d" / "Hidden");
    fs::create_directories(scratch / "d" / "System");
    writeFile(scratch / "m" / "PATCH_D2.MPQ", "x");
    writeFile(scratch / "m" / "patch_d2.mpq.bak", "x");
    writeFile(scratch / "h" / "patch_d2.mpq", "hidden");
    setWin32Attributes("d\\Hidden", FILE_ATTRIBUTE_HIDDEN);
    setWin32Attributes("d\\System", FILE_ATTRIBUTE_SYSTEM);
    setWin32Attributes("h\\patch_d2.mpq", FILE_ATTRIBUTE_HIDDEN);

    struct Case
    {
        const char* folder;
        std::vector<std::string> subfolders; // sorted
        std::vector<std::string> matches;
    };
    const Case cases[] = {
        // A folder named like the archive is walked into, not listed.
        {"d\\", {"A", "patch_d2.mpq"}, {}},
        // The name the file system stores, capitals and all.
        {"m\\", {}, {"PATCH_D2.MPQ"}},
        // A hidden archive is not listed.
        {"h\\", {}, {}},
    };
    FolderScan scan;
    scan.matches.push_back("stale"); // the result is filled afresh
    for (const Case& c : cases) {
        files.scanFolder(at(c.folder), "patch_d2.mpq", scan);
        std::vector<std::string> subfolders = scan.subfolders;
        std::sort(subfolders.begin(), subfolders.end());
        EXPECT_EQ(subfolders, c.subfolders) << c.folder;
        EXPECT_EQ(scan.subfolderIds.size(), scan.subfolders.size()) << c.folder;
        EXPECT_EQ(scan.matches, c.matches) << c.folder;
    }
    // Each subfolder comes with its identity on the volume, the same one the folder has
    // when opened by its own path.
    files.scanFolder(at("d\\"), "patch_d2.mpq", scan);
    for (std::size_t i = 0; i < scan.subfolders.size(); ++i) {
        ScopedHandle folder(::CreateFileW((scratch / "d" / scan.subfolders[i]).wstring().c_str(),
                                          FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        BY_HANDLE_FILE_INFORMATION info{};
        ASSERT_TRUE(::GetFileInformationByHandle(folder.get(), &info));
        EXPECT_EQ(scan.subfolderIds[i],
                  (FolderId{info.dwVolumeSerialNumber,
                            (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow}))
            << scan.subfolders[i];
    }
    EXPECT_NE(scan.subfolderIds[0], scan.subfolderIds[1]);
    EXPECT_NE(scan.subfolderIds[0], FolderId{});

    expectFailure([&] { files.scanFolder(at("missing") + "\\", "patch_d2.mpq", scan); },
                  {at("missing")}, "missing folder");
}

TEST_F(WindowsFileSystemTest, ScanFolderDoesNotFollowFolderLinks)
{
    fs::create_directories(scratch / "d" / "Real");
    if (!makeFolderLink(scratch / "d" / "Loop", scratch / "d"))
        GTEST_SKIP() << "this system makes no folder links here";
    FolderScan scan;
    files.scanFolder(at("d") + "\\", "patch_d2.mpq", scan);
    EXPECT_EQ(scan.subfolders, (std::vector<std::string>{"Real"}));
}

TEST_F(WindowsFileSystemTest, PathsLongerThanMaxPathWork)
{
    std::vector<std::string> folders{at("long")};
    while (folders.back().size() < MAX_PATH + 40)
        folders.push_back(folders.back() + "\\" + std::string(40, 'f') +
                          std::to_string(folders.size()));
    for (const std::string& folder : folders)
        files.makeFolder(folder);
    const std::string built = folders.back();
    const std::string file = built + "\\TEMP.URL";
    files.writeTextFile(file, {"[InternetShortcut]"});
    files.copyFile(file, built + "\\copy.url");
    EXPECT_TRUE(files.sameContents(file, built + "\\copy.url"));
    files.setAttributes(file, Attribute::Hidden);
    EXPECT_EQ(files.fileAttributes(file) & ~Attribute::Archive, Attribute::Hidden);
    EXPECT_EQ(listAll(built + "\\*.*", FindFilter::Hidden),
              (std::set<std::string>{"TEMP.URL", "copy.url"}));
    FolderScan scan;
    files.scanFolder(folders[folders.size() - 2] + "\\", "copy.url", scan);
    EXPECT_EQ(scan.subfolders.size(), 1u);
    files.copyFolderTree(built, at("short"));
    EXPECT_EQ(readFile(scratch / "short" / "copy.url"), "[InternetShortcut]\r\n");
    files.deleteFiles(built + "\\*.url");
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder)
        files.removeFolder(*folder);
    EXPECT_FALSE(fs::exists(scratch / "long"));
}

} // namespace
