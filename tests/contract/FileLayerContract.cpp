// The file layer's contract: the file operations, listings, the walk's folder scan, the
// drive list, the program starter and the URL viewer, as every platform must meet it.
#include "FileLayer.h"
#include "core/OperationError.h"
#include "support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <thread>

using namespace velmoran;
using namespace velmoran::testing;
namespace fs = std::filesystem;
using Names = std::set<std::string>;

namespace {

class FileLayerContract : public ::testing::TestWithParam<std::size_t>
{
protected:
    void SetUp() override { layer = layersUnderTest().at(GetParam()).second(scratch.path()); }

    void write(const std::string& relative, const std::string& bytes = "x")
    {
        writeFile(layer->real(relative), bytes);
    }
    std::string read(const std::string& relative) { return readFile(layer->real(relative)); }
    bool exists(const std::string& relative) { return fs::exists(layer->real(relative)); }
    Names list(const std::string& pattern, FindFilter filter)
    {
        Names names;
        auto listing = files().findFile(layer->at(pattern), filter);
        for (std::string name = listing->next(); !name.empty(); name = listing->next())
            names.insert(name);
        return names;
    }
    // The names the system holds in a folder: a left-over temporary file shows here.
    Names entries(const std::string& relative)
    {
        Names names;
        for (const auto& entry : fs::directory_iterator(layer->real(relative)))
            names.insert(entry.path().filename().string());
        return names;
    }
    // The operation fails with an OperationError that names the layer paths given (and,
    // with a reason, holds it); "" when it does.
    template <typename F> static std::string failure(F&& operation)
    {
        try {
            operation();
        } catch (const OperationError& error) {
            return error.what();
        }
        return "no failure";
    }
    template <typename F> std::string fails(F&& operation, std::vector<std::string> paths)
    {
        try {
            operation();
        } catch (const OperationError& error) {
            std::string missing;
            for (const std::string& path : paths)
                if (std::string(error.what()).find(layer->at(path)) == std::string::npos)
                    missing += " " + layer->at(path);
            if (error.reason().empty())
                missing += " (no reason)";
            return missing.empty() ? "" : error.what() + std::string(" does not name:") + missing;
        }
        return "no failure";
    }
    FileSystem& files() { return layer->files(); }

    ScratchFolder scratch{"velmoran-layer"};
    std::unique_ptr<LayerUnderTest> layer;
};

constexpr unsigned Stored = Attribute::ReadOnly | Attribute::Hidden | Attribute::System |
                            Attribute::Directory; // the archive flag is Wine's on every file

TEST_P(FileLayerContract, NamesResolveWithoutRegardToCaseAndListWithStoredCapitals)
{
    write("Mods/Eastern Sun/PATCH_D2.MPQ");
    write("Mods/Median/patch_d2.mpq");
    const std::pair<const char*, const char*> rows[] = {
        {"Mods/Eastern Sun/patch_d2.mpq", "PATCH_D2.MPQ"},
        {"MODS/eastern SUN/Patch_D2.Mpq", "PATCH_D2.MPQ"},
        {"mods/median/PATCH_D2.MPQ", "patch_d2.mpq"},
        {"Mods/Eastern Sun/*.MPQ", "PATCH_D2.MPQ"},
        {"Mods/Nowhere/patch_d2.mpq", ""},
        {"Mods/Median/patch_d?.mpq", "patch_d2.mpq"}};
    for (const auto& [pattern, first] : rows)
        EXPECT_EQ(findFirst(files(), layer->at(pattern), FindFilter::Ordinary), first) << pattern;
}

TEST_P(FileLayerContract, TheThreeFiltersShowWhatWindowsShows)
{
    for (const char* name : {"plain.txt", "readonly.txt", "hidden.txt", "system.txt", "both.txt",
                             "noext", "Sub/x", "HiddenSub/x", "SystemSub/x"})
        write(std::string("d/") + name);
    layer->store("d/readonly.txt", Attribute::ReadOnly);
    layer->store("d/hidden.txt", Attribute::Hidden);
    layer->store("d/system.txt", Attribute::System);
    layer->store("d/both.txt", Attribute::Hidden | Attribute::System);
    layer->store("d/HiddenSub", Attribute::Hidden);
    layer->store("d/SystemSub", Attribute::System);
    const Names ordinary{"plain.txt", "readonly.txt", "noext"};
    EXPECT_EQ(list("d/*.*", FindFilter::Ordinary), ordinary);
    EXPECT_EQ(list("d/*", FindFilter::Ordinary), ordinary);
    EXPECT_EQ(list("d/*.*", FindFilter::Hidden),
              (Names{"plain.txt", "readonly.txt", "noext", "hidden.txt"}));
    EXPECT_EQ(list("d/*.*", FindFilter::Folder),
              (Names{".", "..", "plain.txt", "readonly.txt", "noext", "Sub"}));
    EXPECT_EQ(list("d/*.txt", FindFilter::Ordinary), (Names{"plain.txt", "readonly.txt"}));
    EXPECT_EQ(list("d/hidden.txt", FindFilter::Ordinary), Names{});
    EXPECT_EQ(list("d/HIDDEN.TXT", FindFilter::Hidden), Names{"hidden.txt"});
    EXPECT_EQ(list("missing/*.*", FindFilter::Folder), Names{});
}

TEST_P(FileLayerContract, ListingsAreIndependentAndEndOnce)
{
    for (const char* name : {"a/a1", "a/a2", "a/a3", "b/b1", "b/b2"})
        write(name);
    auto outer = files().findFile(layer->at("a/*.*"), FindFilter::Ordinary);
    Names outerNames, innerNames;
    for (std::string name = outer->next(); !name.empty(); name = outer->next()) {
        outerNames.insert(name);
        auto inner = files().findFile(layer->at("b/*.*"), FindFilter::Ordinary);
        for (std::string other = inner->next(); !other.empty(); other = inner->next())
            innerNames.insert(other);
    }
    EXPECT_EQ(outerNames, (Names{"a1", "a2", "a3"}));
    EXPECT_EQ(innerNames, (Names{"b1", "b2"}));
    EXPECT_THROW(outer->next(), OperationError);
    auto empty = files().findFile(layer->at("missing/*.*"), FindFilter::Folder);
    EXPECT_EQ(empty->next(), "");
    EXPECT_THROW(empty->next(), OperationError);
}

TEST_P(FileLayerContract, AttributesAreSetWholeAndReadBack)
{
    write("patch_d2.mpq");
    write("save/a.d2s");
    layer->store("patch_d2.mpq", Attribute::ReadOnly);
    EXPECT_EQ(files().fileAttributes(layer->at("patch_d2.mpq")) & Stored, Attribute::ReadOnly);
    files().setAttributes(layer->at("patch_d2.mpq"), Attribute::Hidden);
    EXPECT_EQ(files().fileAttributes(layer->at("patch_d2.mpq")) & Stored, Attribute::Hidden);
    EXPECT_EQ(list("patch_d2.mpq", FindFilter::Ordinary), Names{});
    EXPECT_EQ(list("patch_d2.mpq", FindFilter::Hidden), Names{"patch_d2.mpq"});
    files().setAttributes(layer->at("patch_d2.mpq"), Attribute::Normal);
    EXPECT_EQ(files().fileAttributes(layer->at("patch_d2.mpq")) & Stored, Attribute::Normal);
    EXPECT_EQ(files().fileAttributes(layer->at("SAVE")), Attribute::Directory);
    EXPECT_EQ(files().fileAttributes(layer->at("save/")), Attribute::Directory);
    EXPECT_EQ(fails([&] { files().setAttributes(layer->at("none.mpq"), Attribute::Hidden); },
                    {"none.mpq"}),
              "");
    EXPECT_EQ(fails([&] { files().fileAttributes(layer->at("none.mpq")); }, {"none.mpq"}), "");
}

TEST_P(FileLayerContract, CopyFileReplacesWholeAndLeavesNothingBehind)
{
    const std::string archive(100000, 'n');
    write("game/patch_d2.mpq", archive);
    write("game/Backup/old.mpq", std::string(300000, 'o'));
    write("game/Backup/small.mpq", "s");
    for (const char* destination :
         {"game/Backup/patch_d2.mpq", "game/Backup/old.mpq", "game/Backup/small.mpq"}) {
        files().copyFile(layer->at("game/patch_d2.mpq"), layer->at(destination));
        EXPECT_EQ(read(destination), archive) << destination;
    }
    EXPECT_EQ(entries("game/Backup"), (Names{"old.mpq", "patch_d2.mpq", "small.mpq"}));
    // Onto itself, by any capitals: untouched.
    files().copyFile(layer->at("game/patch_d2.mpq"), layer->at("GAME/Patch_D2.MPQ"));
    EXPECT_EQ(read("game/patch_d2.mpq"), archive);
    // A hidden file's copy is hidden.
    files().setAttributes(layer->at("game/Backup/small.mpq"), Attribute::Hidden);
    files().copyFile(layer->at("game/Backup/small.mpq"), layer->at("game/copy.mpq"));
    EXPECT_EQ(files().fileAttributes(layer->at("game/copy.mpq")) & Stored, Attribute::Hidden);
    EXPECT_EQ(entries("game"), (Names{"Backup", "copy.mpq", "patch_d2.mpq"}));

    const std::pair<const char*, const char*> failures[] = {{"game/missing.mpq", "game/x.mpq"},
                                                            {"game/patch_d2.mpq", "nowhere/x.mpq"},
                                                            {"game/Backup", "game/x.mpq"},
                                                            {"game/patch_d2.mpq", "game/Backup"}};
    for (const auto& [source, destination] : failures)
        EXPECT_EQ(fails([&] { files().copyFile(layer->at(source), layer->at(destination)); },
                        {source, destination}),
                  "");
    EXPECT_EQ(entries("game"), (Names{"Backup", "copy.mpq", "patch_d2.mpq"}));
}

// Within one file system a move is one rename: the file, attributes and all, under its new
// name, a file of that name replaced; onto itself it stays; failures name the paths.
TEST_P(FileLayerContract, MoveFileRenamesWithinOneFileSystem)
{
    write("game/patch_d2.mpq", "the archive");
    write("game/Backup/patch_d2.mpq", "older");
    layer->store("game/patch_d2.mpq", Attribute::Hidden);
    EXPECT_TRUE(
        files().moveFile(layer->at("game/PATCH_D2.MPQ"), layer->at("game/Backup/patch_d2.mpq")));
    EXPECT_EQ(entries("game"), Names{"Backup"});
    EXPECT_EQ(read("game/Backup/patch_d2.mpq"), "the archive");
    EXPECT_EQ(files().fileAttributes(layer->at("game/Backup/patch_d2.mpq")) & Stored,
              Attribute::Hidden);
    EXPECT_TRUE(files().moveFile(layer->at("game/Backup/patch_d2.mpq"),
                                 layer->at("GAME/BACKUP/PATCH_D2.MPQ")));
    EXPECT_EQ(read("game/Backup/patch_d2.mpq"), "the archive");
    EXPECT_EQ(
        fails([&] { files().moveFile(layer->at("game/missing.mpq"), layer->at("game/x.mpq")); },
              {"game/missing.mpq"}),
        "");
}

TEST_P(FileLayerContract, DeleteMakeAndRemoveFailAsTheTableSays)
{
    for (const char* name :
         {"a.d2s", "B.D2S", "c.key", "hidden.d2s", "ab.txt", "ac.txt", "folder.d2s/x"})
        write(std::string("save/") + name);
    layer->store("save/hidden.d2s", Attribute::Hidden);
    files().deleteFiles(layer->at("save/*.d2s"));
    EXPECT_EQ(entries("save"), (Names{"ab.txt", "ac.txt", "c.key", "folder.d2s"}));
    files().deleteFiles(layer->at("save/a?.txt"));
    files().deleteFiles(layer->at("save/C.KEY"));
    EXPECT_EQ(entries("save"), Names{"folder.d2s"});
    for (const char* pattern : {"save/*.d2s", "save/folder.d2s", "missing/*.*"})
        EXPECT_EQ(fails([&] { files().deleteFiles(layer->at(pattern)); }, {pattern}), "")
            << pattern;

    files().makeFolder(layer->at("Backup"));
    EXPECT_TRUE(fs::is_directory(layer->real("Backup")));
    for (const char* folder : {"BACKUP", "missing/Backup"})
        EXPECT_EQ(fails([&] { files().makeFolder(layer->at(folder)); }, {folder}), "") << folder;
    EXPECT_EQ(fails([&] { files().removeFolder(layer->at("save")); }, {"save"}), "");
    files().removeFolder(layer->at("backup"));
    EXPECT_FALSE(exists("Backup"));
    EXPECT_EQ(fails([&] { files().removeFolder(layer->at("Backup")); }, {"Backup"}), "");
}

TEST_P(FileLayerContract, CopyFolderTreeCreatesOrMergesOverwriting)
{
    write("save/Sorceress.d2s", "new sorceress");
    write("save/Hidden.key", "hidden key");
    write("save/Sub/Deep/x.ma0", "deep");
    layer->store("save/Hidden.key", Attribute::Hidden);
    files().copyFolderTree(layer->at("save"), layer->at("copy"));
    EXPECT_EQ(read("copy/Sorceress.d2s"), "new sorceress");
    EXPECT_EQ(read("copy/Hidden.key"), "hidden key");
    EXPECT_EQ(read("copy/Sub/Deep/x.ma0"), "deep");

    write("restore/SORCERESS.D2S", "old sorceress, longer than the new one");
    write("restore/Barbarian.d2s", "only here");
    files().copyFolderTree(layer->at("save/"), layer->at("restore"));
    EXPECT_EQ(entries("restore"), (Names{"Barbarian.d2s", "Hidden.key", "SORCERESS.D2S", "Sub"}));
    EXPECT_EQ(read("restore/SORCERESS.D2S"), "new sorceress");
    EXPECT_EQ(read("restore/Barbarian.d2s"), "only here");
    EXPECT_EQ(read("restore/Sub/Deep/x.ma0"), "deep");

    EXPECT_EQ(fails([&] { files().copyFolderTree(layer->at("missing"), layer->at("none")); },
                    {"missing"}),
              "");
    EXPECT_FALSE(exists("none"));
    for (const char* inside : {"save/inner", "SAVE/inner/deeper", "save"})
        EXPECT_EQ(
            fails([&] { files().copyFolderTree(layer->at("save"), layer->at(inside)); }, {inside}),
            "");
    EXPECT_EQ(entries("save"), (Names{"Hidden.key", "Sorceress.d2s", "Sub"}));
    if (layer->folderLink("save/Loop", "save")) { // a link back up ends the copy
        EXPECT_EQ(
            fails([&] { files().copyFolderTree(layer->at("save"), layer->at("looped")); }, {}), "");
        EXPECT_EQ(read("looped/Sorceress.d2s"), "new sorceress");
    }
}

TEST_P(FileLayerContract, WriteTextFileWritesCodePageLinesWithCrLf)
{
    const std::string address = "velmoran.example.org/caf\xC3\xA9";
    write("TEMP.URL", std::string(500, 'o')); // emptied, not appended to
    files().writeTextFile(layer->at("TEMP.URL"), {"[InternetShortcut]", "URL=" + address});
    EXPECT_EQ(read("TEMP.URL"), "[InternetShortcut]\r\nURL=" + layer->ansi(address) + "\r\n");
    files().writeTextFile(layer->at("empty.txt"), {});
    EXPECT_EQ(read("empty.txt"), "");
    EXPECT_EQ(fails([&] { files().writeTextFile(layer->at("missing/TEMP.URL"), {"x"}); },
                    {"missing/TEMP.URL"}),
              "");
}

TEST_P(FileLayerContract, SameContentsComparesEveryByte)
{
    const std::string big = std::string(3 * 1024 * 1024 + 17, 'a');
    std::string late = big;
    late.back() = 'b';
    std::string early = big;
    early[5] = 'b';
    for (const auto& [name, bytes] : {std::pair{"a", big},
                                      {"b", big},
                                      {"late", late},
                                      {"early", early},
                                      {"shorter", big.substr(1)},
                                      {"e", ""},
                                      {"f", ""}})
        write(std::string("c/") + name, bytes);
    const std::tuple<const char*, const char*, bool> rows[] = {
        {"a", "b", true},        {"a", "late", false},    {"a", "early", false},
        {"a", "shorter", false}, {"shorter", "a", false}, {"a", "A", true},
        {"e", "f", true},        {"e", "a", false}};
    for (const auto& [first, second, same] : rows)
        EXPECT_EQ(files().sameContents(layer->at(std::string("c/") + first),
                                       layer->at(std::string("c/") + second)),
                  same)
            << first << " " << second;
    EXPECT_EQ(fails([&] { files().sameContents(layer->at("c/a"), layer->at("c/x")); }, {"c/x"}),
              "");
}

TEST_P(FileLayerContract, ScanFolderGivesVisibleSubfoldersAndMatchesAndTellsAGoneFolder)
{
    for (const char* name :
         {"d/other.mpq", "d/A/patch_d2.mpq", "d/patch_d2.mpq/inner/x", "d/Hidden/x", "d/System/x",
          "m/PATCH_D2.MPQ", "m/patch_d2.mpq.bak", "h/patch_d2.mpq"})
        write(name);
    layer->store("d/Hidden", Attribute::Hidden);
    layer->store("d/System", Attribute::System);
    layer->store("h/patch_d2.mpq", Attribute::Hidden);
    const std::tuple<const char*, std::vector<std::string>, std::vector<std::string>> rows[] = {
        {"d/", {"A", "patch_d2.mpq"}, {}}, // a folder of the archive's name is walked into
        {"m/", {}, {"PATCH_D2.MPQ"}},      // the stored capitals
        {"h/", {}, {}},                    // a hidden archive is not listed
    };
    FolderScan scan;
    scan.matches.push_back("stale");
    for (const auto& [folder, subfolders, matches] : rows) {
        files().scanFolder(layer->at(folder), "patch_d2.mpq", scan);
        std::vector<std::string> sorted = scan.subfolders;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(sorted, subfolders) << folder;
        EXPECT_EQ(scan.matches, matches) << folder;
        EXPECT_EQ(scan.subfolderIds.size(), scan.subfolders.size()) << folder;
    }
    // Each subfolder comes with the identity it has when read itself.
    files().scanFolder(layer->at("d/"), "patch_d2.mpq", scan);
    const FolderScan outer = scan;
    EXPECT_NE(outer.subfolderIds[0], outer.subfolderIds[1]);
    for (std::size_t i = 0; i < outer.subfolders.size(); ++i) {
        files().scanFolder(layer->at("d/" + outer.subfolders[i] + "/"), "x", scan);
        EXPECT_EQ(scan.folder, outer.subfolderIds[i]) << outer.subfolders[i];
        EXPECT_NE(scan.folder, FolderId{});
    }
    // A folder that is not there is gone, which the walk tells apart from unreadable.
    EXPECT_THROW(files().scanFolder(layer->at("missing/"), "patch_d2.mpq", scan), FolderGone);
}

TEST_P(FileLayerContract, PathsLongerThanMaxPathWork)
{
    std::vector<std::string> folders{"long"};
    while (layer->at(folders.back()).size() < 300)
        folders.push_back(folders.back() + "/" + std::string(40, 'f') +
                          std::to_string(folders.size()));
    for (const std::string& folder : folders)
        files().makeFolder(layer->at(folder));
    const std::string built = folders.back();
    files().writeTextFile(layer->at(built + "/TEMP.URL"), {"[InternetShortcut]"});
    files().copyFile(layer->at(built + "/TEMP.URL"), layer->at(built + "/copy.url"));
    EXPECT_TRUE(
        files().sameContents(layer->at(built + "/TEMP.URL"), layer->at(built + "/copy.url")));
    files().setAttributes(layer->at(built + "/TEMP.URL"), Attribute::Hidden);
    EXPECT_EQ(list(built + "/*.*", FindFilter::Hidden), (Names{"TEMP.URL", "copy.url"}));
    FolderScan scan;
    files().scanFolder(layer->at(folders[folders.size() - 2] + "/"), "copy.url", scan);
    EXPECT_EQ(scan.subfolders.size(), 1u);
    files().copyFolderTree(layer->at(built), layer->at("short"));
    EXPECT_EQ(read("short/copy.url"), "[InternetShortcut]\r\n");
    files().deleteFiles(layer->at(built + "/*.url"));
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder)
        files().removeFolder(layer->at(*folder));
    EXPECT_FALSE(exists("long"));
}

TEST_P(FileLayerContract, TheDriveListNamesReadableDrivesInLetterOrder)
{
    const std::vector<std::string> names = layer->drives().driveNames();
    ASSERT_FALSE(names.empty());
    std::string letters;
    for (const std::string& name : names) {
        ASSERT_GE(name.size(), 2u);
        EXPECT_TRUE(name[1] == ':' &&
                    (name.size() == 2 || (name.rfind(" [", 2) == 2 && name.back() == ']')))
            << name;
        EXPECT_TRUE(letters.empty() || letters.back() < name[0]) << name;
        letters += name[0];
    }
    EXPECT_NE(std::find(names.begin(), names.end(), layer->drives().currentDrive()), names.end());
    const std::string scratchDrive = layer->at("").substr(0, 2);
    EXPECT_NO_THROW(layer->drives().testReadable(scratchDrive));
    std::string absent;
    for (char c = 'y'; c > 'f' && absent.empty(); --c)
        if (letters.find(c) == std::string::npos)
            absent = std::string(1, c) + ":";
    for (const std::string& name : {absent, std::string("?")}) {
        try {
            layer->drives().testReadable(name);
            ADD_FAILURE() << name << " read";
        } catch (const OperationError& error) {
            EXPECT_NE(std::string(error.what()).find(name), std::string::npos) << error.what();
            EXPECT_FALSE(error.reason().empty()) << name;
        }
    }
}

TEST_P(FileLayerContract, TheStarterStartsExactlyTheProgramWithItsArguments)
{
    layer->installProgram("Program Files/Diablo II/Diablo II.exe");
    layer->installProgram("Program.exe"); // decoys, where an unquoted path would be looked for
    layer->installProgram("Program Files/Diablo.exe");
    const std::vector<std::string> arguments{"-w", "two words", "say \"hi\"", "end\\", "-direct"};
    layer->starter().startProgram(layer->at("Program Files/Diablo II/Diablo II.exe"), arguments,
                                  layer->at("Program Files/Diablo II"));
    const std::optional<Started> started =
        layer->started("Program Files/Diablo II/Diablo II.exe", true);
    ASSERT_TRUE(started);
    EXPECT_EQ(started->arguments, arguments);
    EXPECT_EQ(started->folder, layer->real("Program Files/Diablo II"));

    // A program that is not there (the started one may still be running) fails, named.
    EXPECT_EQ(fails(
                  [&] {
                      layer->starter().startProgram(
                          layer->at("Program Files/Diablo II/Missing.exe"), {"-w"},
                          layer->at("Program Files/Diablo II"));
                  },
                  {"Program Files/Diablo II/Missing.exe"}),
              "");
    for (const char* decoy : {"Program.exe", "Program Files/Diablo.exe"})
        EXPECT_FALSE(layer->started(decoy, false)) << decoy << " was started";
}

TEST_P(FileLayerContract, TheViewerGetsTheShortcutWhichIsThenDeleted)
{
    const std::string content = "[InternetShortcut]\r\nURL=velmoran.example.org\r\n";
    const std::string name = layer->viewableShortcut();
    if (name.empty())
        GTEST_SKIP() << "no stand-in viewer can be set up here";
    write(name, content);
    layer->viewer().openShortcut(layer->at(name), "velmoran.example.org");
    const std::optional<std::string> viewed = layer->viewed();
    ASSERT_TRUE(viewed);
    EXPECT_NE(viewed->find("velmoran.example.org"), std::string::npos) << *viewed;
    for (int i = 0; i < 1000 && exists(name); ++i) // the viewer's side may let go late
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(exists(name));

    const std::string broken = layer->breakViewer(); // a failed hand-over: told, no file left
    write(broken, content);
    const std::string text =
        failure([&] { layer->viewer().openShortcut(layer->at(broken), "velmoran.example.org"); });
    EXPECT_NE(text.find("velmoran.example.org"), std::string::npos) << text;
    EXPECT_FALSE(exists(broken));
}

std::string layerName(const ::testing::TestParamInfo<std::size_t>& info)
{
    return layersUnderTest().at(info.param).first;
}

INSTANTIATE_TEST_SUITE_P(This, FileLayerContract,
                         ::testing::Range<std::size_t>(0, layersUnderTest().size()), layerName);

} // namespace
