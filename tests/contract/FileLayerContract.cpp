// The file layer's contract (files, listings, drives, the starter and the viewer), as every
// platform's layer must meet it.
#include "FileLayer.h"
#include "support/Recorders.h"
#include "support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <thread>

using namespace velmoran;
using namespace velmoran::testing;
using Names = std::set<std::string>;

namespace {

class FileLayerContract : public ::testing::TestWithParam<std::size_t>
{
protected:
    void SetUp() override { layer = layersUnderTest().at(GetParam()).second(scratch.path()); }

    void write(const std::string& path, const std::string& bytes = "x")
    {
        writeFile(layer->real(path), bytes);
    }
    std::string read(const std::string& path) { return readFile(layer->real(path)); }
    bool exists(const std::string& path) { return fs::exists(layer->real(path)); }
    std::string at(const std::string& path) const { return layer->at(path); }
    Names list(const std::string& pattern, FindFilter filter)
    {
        Names names;
        auto listing = files().findFile(at(pattern), filter);
        for (std::string name = listing->next(); !name.empty(); name = listing->next())
            names.insert(name);
        return names;
    }
    // The names the system holds in a folder, left-over temporary files included.
    Names entries(const std::string& path)
    {
        Names names;
        for (const auto& entry : fs::directory_iterator(layer->real(path)))
            names.insert(entry.path().filename().string());
        return names;
    }
    // The operation fails with an OperationError that gives a reason and names each path.
    template <typename F>
    ::testing::AssertionResult fails(F&& operation, const std::vector<std::string>& paths,
                                     std::vector<std::string> texts = {})
    {
        for (const std::string& path : paths)
            texts.push_back(at(path));
        return failsWith(operation, texts, true);
    }
    FileSystem& files() { return layer->files(); }
    unsigned stored(const std::string& path) { return files().fileAttributes(at(path)) & Stored; }

    // The attributes a file keeps (the archive flag is Wine's on every file).
    static constexpr unsigned Stored =
        Attribute::ReadOnly | Attribute::Hidden | Attribute::System | Attribute::Directory;
    ScratchFolder scratch{"velmoran-layer"};
    std::unique_ptr<LayerUnderTest> layer;
};

TEST_P(FileLayerContract, ListingsFilterAndResolveNamesAsWindowsDoes)
{
    for (const char* name :
         {"plain.txt", "readonly.txt", "hidden.txt", "system.txt", "both.txt", "noext", "Sub/x",
          "HiddenSub/x", "SystemSub/x", "Eastern Sun/PATCH_D2.MPQ", "\xC8\xBA Mods/\xC8\xBA.mpq"})
        write(std::string("d/") + name);
    layer->store("d/readonly.txt", Attribute::ReadOnly);
    layer->store("d/hidden.txt", Attribute::Hidden);
    layer->store("d/system.txt", Attribute::System);
    layer->store("d/both.txt", Attribute::Hidden | Attribute::System);
    layer->store("d/HiddenSub", Attribute::Hidden);
    layer->store("d/SystemSub", Attribute::System);
    const Names ordinary{"plain.txt", "readonly.txt", "noext"};
    const std::tuple<const char*, FindFilter, Names> rows[] = {
        {"d/*", FindFilter::Ordinary, ordinary},
        {"d/*.*", FindFilter::Hidden, {"plain.txt", "readonly.txt", "noext", "hidden.txt"}},
        {"d/*.*",
         FindFilter::Folder,
         {".", "..", "plain.txt", "readonly.txt", "noext", "Sub", "Eastern Sun", "\xC8\xBA Mods"}},
        {"d/*.txt", FindFilter::Ordinary, {"plain.txt", "readonly.txt"}},
        {"d/hidden.txt", FindFilter::Ordinary, {}},
        {"d/HIDDEN.TXT", FindFilter::Hidden, {"hidden.txt"}},
        {"missing/*.*", FindFilter::Folder, {}},
        {"D/eastern SUN/Patch_D2.Mpq", FindFilter::Ordinary, {"PATCH_D2.MPQ"}},
        {"d/eastern sun/patch_d?.mpq", FindFilter::Ordinary, {"PATCH_D2.MPQ"}},
        {"d/Nowhere/patch_d2.mpq", FindFilter::Ordinary, {}},
        // U+023A and U+2C65 are one letter in two lengths of UTF-8; a long s is no "s".
        {"d/\xE2\xB1\xA5 mods/\xE2\xB1\xA5.MPQ", FindFilter::Ordinary, {"\xC8\xBA.mpq"}},
        {"d/\xE2\xB1\xA5 mods/*.mpq", FindFilter::Ordinary, {"\xC8\xBA.mpq"}},
        {"d/\xC5\xBFub/x", FindFilter::Ordinary, {}},
        {"d/SUB/X", FindFilter::Ordinary, {"x"}}};
    for (const auto& [pattern, filter, names] : rows)
        EXPECT_EQ(list(pattern, filter), names) << pattern;
    // Two listings at once are independent; a listing ends once.
    auto outer = files().findFile(at("d/*.txt"), FindFilter::Ordinary);
    EXPECT_FALSE(outer->next().empty());
    EXPECT_EQ(list("d/Eastern Sun/*.*", FindFilter::Ordinary), Names{"PATCH_D2.MPQ"});
    EXPECT_FALSE(outer->next().empty());
    EXPECT_EQ(outer->next(), "");
    EXPECT_THROW(outer->next(), OperationError);
    FolderScan scan;
    files().scanFolder(at("d/\xE2\xB1\xA5 mods/"), "\xE2\xB1\xA5.MPQ", scan);
    EXPECT_EQ(scan.matches, std::vector<std::string>{"\xC8\xBA.mpq"});
}

TEST_P(FileLayerContract, AttributesAreSetWholeAndReadBack)
{
    write("patch_d2.mpq");
    write("save/a.d2s");
    layer->store("patch_d2.mpq", Attribute::ReadOnly);
    EXPECT_EQ(stored("patch_d2.mpq"), Attribute::ReadOnly);
    files().setAttributes(at("patch_d2.mpq"), Attribute::Hidden);
    EXPECT_EQ(stored("patch_d2.mpq"), Attribute::Hidden);
    files().setAttributes(at("patch_d2.mpq"), Attribute::Normal);
    EXPECT_EQ(stored("patch_d2.mpq"), Attribute::Normal);
    EXPECT_EQ(files().fileAttributes(at("SAVE")), Attribute::Directory);
    EXPECT_EQ(files().fileAttributes(at("save/")), Attribute::Directory);
    EXPECT_TRUE(
        fails([&] { files().setAttributes(at("none.mpq"), Attribute::Hidden); }, {"none.mpq"}));
    EXPECT_TRUE(fails([&] { files().fileAttributes(at("none.mpq")); }, {"none.mpq"}));
}

TEST_P(FileLayerContract, CopyAndMoveReplaceWholeAndLeaveNothingBehind)
{
    const std::string archive(100000, 'n');
    write("game/patch_d2.mpq", archive);
    write("game/Backup/old.mpq", std::string(300000, 'o'));
    write("game/Backup/small.mpq", "s");
    for (const char* destination :
         {"game/Backup/patch_d2.mpq", "game/Backup/old.mpq", "game/Backup/small.mpq"}) {
        files().copyFile(at("game/patch_d2.mpq"), at(destination));
        EXPECT_EQ(read(destination), archive) << destination;
    }
    EXPECT_EQ(entries("game/Backup"), (Names{"old.mpq", "patch_d2.mpq", "small.mpq"}));
    files().copyFile(at("game/patch_d2.mpq"), at("GAME/Patch_D2.MPQ")); // onto itself: untouched
    EXPECT_EQ(read("game/patch_d2.mpq"), archive);
    files().setAttributes(at("game/Backup/small.mpq"), Attribute::Hidden); // a hidden copy
    files().copyFile(at("game/Backup/small.mpq"), at("game/copy.mpq"));
    EXPECT_EQ(stored("game/copy.mpq"), Attribute::Hidden);
    const std::pair<const char*, const char*> failures[] = {{"game/missing.mpq", "game/x.mpq"},
                                                            {"game/patch_d2.mpq", "nowhere/x.mpq"},
                                                            {"game/Backup", "game/x.mpq"},
                                                            {"game/patch_d2.mpq", "game/Backup"}};
    for (const auto& [source, destination] : failures)
        EXPECT_TRUE(
            fails([&] { files().copyFile(at(source), at(destination)); }, {source, destination}));
    EXPECT_EQ(entries("game"), (Names{"Backup", "copy.mpq", "patch_d2.mpq"}));

    // Within one file system a move is one rename, attributes and all, replacing a file.
    write("game/Backup/patch_d2.mpq", "older");
    EXPECT_TRUE(files().moveFile(at("game/COPY.MPQ"), at("game/Backup/patch_d2.mpq")));
    EXPECT_EQ(entries("game"), (Names{"Backup", "patch_d2.mpq"}));
    EXPECT_TRUE(read("game/Backup/patch_d2.mpq") == archive);
    EXPECT_EQ(stored("game/Backup/patch_d2.mpq"), Attribute::Hidden);
    EXPECT_TRUE(files().moveFile(at("game/Backup/patch_d2.mpq"), at("GAME/BACKUP/PATCH_D2.MPQ")));
    EXPECT_TRUE(read("game/Backup/patch_d2.mpq") == archive);
    EXPECT_TRUE(fails([&] { files().moveFile(at("game/missing.mpq"), at("game/x.mpq")); },
                      {"game/missing.mpq"}));
}

TEST_P(FileLayerContract, DeleteMakeAndRemoveFailAsTheTableSays)
{
    for (const char* name :
         {"a.d2s", "B.D2S", "c.key", "hidden.d2s", "ab.txt", "ac.txt", "folder.d2s/x"})
        write(std::string("save/") + name);
    layer->store("save/hidden.d2s", Attribute::Hidden);
    files().deleteFiles(at("save/*.d2s"));
    EXPECT_EQ(entries("save"), (Names{"ab.txt", "ac.txt", "c.key", "folder.d2s"}));
    files().deleteFiles(at("save/a?.txt"));
    files().deleteFiles(at("save/C.KEY"));
    EXPECT_EQ(entries("save"), Names{"folder.d2s"});
    for (const char* pattern : {"save/*.d2s", "save/folder.d2s", "missing/*.*"})
        EXPECT_TRUE(fails([&] { files().deleteFiles(at(pattern)); }, {pattern}));

    files().makeFolder(at("Backup"));
    EXPECT_TRUE(fs::is_directory(layer->real("Backup")));
    for (const char* folder : {"BACKUP", "missing/Backup"})
        EXPECT_TRUE(fails([&] { files().makeFolder(at(folder)); }, {folder}));
    EXPECT_TRUE(fails([&] { files().removeFolder(at("save")); }, {"save"}));
    files().removeFolder(at("backup"));
    EXPECT_FALSE(exists("Backup"));
    EXPECT_TRUE(fails([&] { files().removeFolder(at("Backup")); }, {"Backup"}));
}

TEST_P(FileLayerContract, CopyFolderTreeCreatesOrMergesOverwriting)
{
    write("save/Sorceress.d2s", "new sorceress");
    write("save/Hidden.key", "hidden key");
    write("save/Sub/Deep/x.ma0", "deep");
    layer->store("save/Hidden.key", Attribute::Hidden);
    files().copyFolderTree(at("save"), at("copy"));
    EXPECT_EQ(read("copy/Sorceress.d2s") + read("copy/Hidden.key") + read("copy/Sub/Deep/x.ma0"),
              "new sorceresshidden keydeep");

    write("restore/SORCERESS.D2S", "old sorceress, longer than the new one");
    write("restore/Barbarian.d2s", "only here");
    files().copyFolderTree(at("save/"), at("restore"));
    EXPECT_EQ(entries("restore"), (Names{"Barbarian.d2s", "Hidden.key", "SORCERESS.D2S", "Sub"}));
    EXPECT_EQ(read("restore/SORCERESS.D2S"), "new sorceress");
    EXPECT_EQ(read("restore/Barbarian.d2s"), "only here");
    EXPECT_EQ(read("restore/Sub/Deep/x.ma0"), "deep");

    EXPECT_TRUE(fails([&] { files().copyFolderTree(at("missing"), at("none")); }, {"missing"}));
    EXPECT_FALSE(exists("none"));
    for (const char* inside : {"save/inner", "SAVE/inner/deeper", "save"})
        EXPECT_TRUE(fails([&] { files().copyFolderTree(at("save"), at(inside)); }, {inside}));
    EXPECT_EQ(entries("save"), (Names{"Hidden.key", "Sorceress.d2s", "Sub"}));
    if (layer->folderLink("save/Loop", "save")) { // a link back up ends the copy
        EXPECT_TRUE(fails([&] { files().copyFolderTree(at("save"), at("looped")); }, {}));
        EXPECT_EQ(read("looped/Sorceress.d2s"), "new sorceress");
    }
}

TEST_P(FileLayerContract, WriteTextFileWritesCodePageLinesWithCrLf)
{
    const std::string address = "velmoran.example.org/caf\xC3\xA9";
    write("TEMP.URL", std::string(500, 'o')); // emptied, not appended to
    files().writeTextFile(at("TEMP.URL"), {"[InternetShortcut]", "URL=" + address});
    EXPECT_EQ(read("TEMP.URL"), "[InternetShortcut]\r\nURL=" + layer->ansi(address) + "\r\n");
}

TEST_P(FileLayerContract, SameContentsComparesEveryByte)
{
    const std::string big = std::string(3 * 1024 * 1024 + 17, 'a');
    std::string late = big, early = big;
    late.back() = 'b';
    early[5] = 'b';
    const std::pair<const char*, std::string> contents[] = {
        {"a", big}, {"b", big}, {"late", late}, {"early", early}, {"shorter", big.substr(1)},
        {"e", ""},  {"f", ""}};
    for (const auto& [name, bytes] : contents)
        write(name, bytes);
    const std::tuple<const char*, const char*, bool> rows[] = {
        {"a", "b", true},        {"a", "late", false},    {"a", "early", false},
        {"a", "shorter", false}, {"shorter", "a", false}, {"a", "A", true},
        {"e", "f", true},        {"e", "a", false}};
    for (const auto& [first, second, same] : rows)
        EXPECT_EQ(files().sameContents(at(first), at(second)), same) << first << " " << second;
    EXPECT_TRUE(fails([&] { files().sameContents(at("a"), at("x")); }, {"x"}));
}

TEST_P(FileLayerContract, PathsLongerThanMaxPathWork)
{
    std::vector<std::string> folders{"long"};
    while (at(folders.back()).size() < 300)
        folders.push_back(folders.back() + "/" + std::string(40, 'f') +
                          std::to_string(folders.size()));
    for (const std::string& folder : folders)
        files().makeFolder(at(folder));
    const std::string built = folders.back();
    files().writeTextFile(at(built + "/TEMP.URL"), {"[InternetShortcut]"});
    files().copyFile(at(built + "/TEMP.URL"), at(built + "/copy.url"));
    EXPECT_TRUE(files().sameContents(at(built + "/TEMP.URL"), at(built + "/copy.url")));
    files().setAttributes(at(built + "/TEMP.URL"), Attribute::Hidden);
    EXPECT_EQ(list(built + "/*.*", FindFilter::Hidden), (Names{"TEMP.URL", "copy.url"}));
    FolderScan scan, inner; // a subfolder's identity is the one read inside it
    files().scanFolder(at(folders[folders.size() - 2] + "/"), "copy.url", scan);
    files().scanFolder(at(built + "/"), "COPY.URL", inner);
    ASSERT_EQ(scan.subfolderIds.size(), 1u);
    EXPECT_EQ(inner.folder, scan.subfolderIds[0]);
    EXPECT_NE(inner.folder, FolderId{});
    EXPECT_EQ(inner.matches, std::vector<std::string>{"copy.url"});
    files().copyFolderTree(at(built), at("short"));
    EXPECT_EQ(read("short/copy.url"), "[InternetShortcut]\r\n");
    files().deleteFiles(at(built + "/*.url"));
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder)
        files().removeFolder(at(*folder));
    EXPECT_FALSE(exists("long"));
}

TEST_P(FileLayerContract, TheStarterStartsExactlyTheProgramWithItsArguments)
{
    const std::string game = "Program Files/Diablo II/Diablo II.exe"; // and decoys for its parts
    for (const std::string& program :
         {game, std::string("Program.exe"), std::string("Program Files/Diablo.exe")})
        layer->installProgram(program);
    const std::vector<std::string> arguments{"-w", "two words", "say \"hi\"", "end\\", "-direct"};
    layer->starter().startProgram(at(game), arguments, at("Program Files/Diablo II"));
    const std::optional<Started> started = layer->started(game, true);
    ASSERT_TRUE(started);
    EXPECT_EQ(started->arguments, arguments);
    EXPECT_EQ(started->folder, layer->real("Program Files/Diablo II"));
    const std::string missing = "Program Files/Diablo II/Missing.exe";
    EXPECT_TRUE(
        fails([&] { layer->starter().startProgram(at(missing), {"-w"}, at("Program Files")); },
              {missing}));
    for (const char* decoy : {"Program.exe", "Program Files/Diablo.exe"})
        EXPECT_FALSE(layer->started(decoy, false)) << decoy << " was started";
}

TEST_P(FileLayerContract, TheDriveListNamesReadableDrivesInLetterOrder)
{
    const std::vector<std::string> names = layer->drives().driveNames();
    std::string letters;
    for (const std::string& name : names) {
        EXPECT_TRUE(name.size() >= 2 && name[1] == ':' &&
                    (name.size() == 2 || (name.rfind(" [", 2) == 2 && name.back() == ']')) &&
                    (letters.empty() || letters.back() < name[0]))
            << name;
        letters += name[0];
    }
    EXPECT_NE(std::find(names.begin(), names.end(), layer->drives().currentDrive()), names.end());
    EXPECT_NO_THROW(layer->drives().testReadable(at("").substr(0, 2))); // the scratch folder's
    std::string absent = "y:";
    while (letters.find(absent[0]) != std::string::npos)
        --absent[0];
    for (const std::string& name : {absent, std::string("?")})
        EXPECT_TRUE(fails([&] { layer->drives().testReadable(name); }, {}, {name}));
}

TEST_P(FileLayerContract, TheViewerGetsTheShortcutWhichIsThenDeleted)
{
    const std::string content = "[InternetShortcut]\r\nURL=velmoran.example.org\r\n";
    const std::string name = layer->viewableShortcut();
    if (name.empty())
        GTEST_SKIP() << "no stand-in viewer can be set up here";
    write(name, content);
    layer->viewer().openShortcut(at(name), "velmoran.example.org");
    const std::optional<std::string> viewed = layer->viewed();
    ASSERT_TRUE(viewed);
    EXPECT_NE(viewed->find("velmoran.example.org"), std::string::npos) << *viewed;
    for (int i = 0; i < 1000 && exists(name); ++i) // the viewer's side may let go late
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(exists(name));
    const std::string broken = layer->breakViewer(); // a failed hand-over: told, no file left
    write(broken, content);
    EXPECT_TRUE(fails([&] { layer->viewer().openShortcut(at(broken), "velmoran.example.org"); }, {},
                      {"velmoran.example.org"}));
    EXPECT_FALSE(exists(broken));
}

INSTANTIATE_TEST_SUITE_P(This, FileLayerContract,
                         ::testing::Range<std::size_t>(0, layersUnderTest().size()),
                         [](const auto& info) { return layersUnderTest().at(info.param).first; });

} // namespace
