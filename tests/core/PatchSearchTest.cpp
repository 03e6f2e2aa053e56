#include "core/PatchSearch.h"
#include "core/FindCommand.h"
#include "support/Recorders.h"
#include "support/SamplePrefix.h"
#include "support/ScratchFolder.h"
#include "support/SearchDrives.h"
#include "support/TestPlatform.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace velmoran;
using namespace velmoran::testing;
namespace fs = std::filesystem;

namespace {

// Records every report of a walk.
struct RecordingObserver : SearchObserver
{
    void subfolderFound(std::uint64_t count) override
    {
        captions.push_back(std::to_string(count));
        largest = std::max(largest, count);
    }
    void matchFound(const std::string& entry) override { entries.push_back(entry); }
    void folderPassedOver(const OperationError& error) override
    {
        passedOver.push_back(error.what());
    }
    std::vector<std::string> entries;
    std::vector<std::string> captions;
    std::vector<std::string> passedOver;
    std::uint64_t largest = 0;
};

class PatchSearchTest : public ::testing::Test
{
protected:
    fs::path c(const fs::path& relative = {}) const { return drives.drive('c') / relative; }
    void archive(const fs::path& relative) const { writeFile(c(relative), "archive"); }
    void folder(const fs::path& relative) const { fs::create_directories(c(relative)); }
    FileSystem& files() { return services.real().files; }

    RecordingObserver walk(const std::string& root = "c:\\")
    {
        RecordingObserver observer;
        summary = FindFiles(files(), root, PatchFileName, observer);
        return observer;
    }
    // The root listing's order decides the expected order: the order of two names, as
    // the listing gives them.
    bool listedBefore(const std::string& folderPath, const std::string& first,
                      const std::string& second)
    {
        const auto listing = files().findFile(folderPath + "*.*", FindFilter::Folder);
        for (std::string name = listing->next(); !name.empty(); name = listing->next()) {
            if (name == first)
                return true;
            if (name == second)
                return false;
        }
        ADD_FAILURE() << "neither " << first << " nor " << second << " is listed in " << folderPath;
        return false;
    }

    ScratchFolder scratch{"velmoran-search"};
    SearchDrives drives{scratch.path()};
    TestPlatform services{drives.prefix()};
    SearchSummary summary;
};

TEST_F(PatchSearchTest, TheExampleDriveGivesItsThreeEntriesAndCaptions)
{
    archive("patch_d2.mpq");
    archive("A/patch_d2.mpq");
    archive("B/C/patch_d2.mpq");
    const RecordingObserver seen = walk();

    const std::vector<std::string> aFirst = {"c:\\patch_d2.mpq", "c:\\A\\patch_d2.mpq",
                                             "c:\\B\\C\\patch_d2.mpq"};
    const std::vector<std::string> bFirst = {"c:\\patch_d2.mpq", "c:\\B\\C\\patch_d2.mpq",
                                             "c:\\A\\patch_d2.mpq"};
    EXPECT_EQ(seen.entries, listedBefore("c:\\", "A", "B") ? aFirst : bFirst);
    // "1", "2" while the root is read, nothing for A, "1" for B: the walk ends on "1".
    EXPECT_EQ(seen.captions, (std::vector<std::string>{"1", "2", "1"}));
    EXPECT_EQ(summary.foldersRead, 4u);
    EXPECT_EQ(summary.matches, 3u);
    EXPECT_EQ(summary.foldersPassedOver, 0u);
    EXPECT_FALSE(summary.stopped);
}

TEST_F(PatchSearchTest, GivesWhatTheListingOperationsGiveForAWideAndDeepTree)
{
    // Names of every kind, matches at every depth, folders without subfolders.
    const char* layout[] = {
        "patch_d2.mpq",
        "Mods/Median/patch_d2.mpq",
        "Mods/Eastern Sun/PATCH_D2.MPQ",
        "Mods/Empty/readme.txt",
        "Mods/x/y/z/w/Patch_D2.mpq",
        "Games/Diablo II/patch_d2.mpq",
        "Games/Diablo II/save/a",
        "Games/Other/patch_d2.mpq.bak",
        "Games/Other/xpatch_d2.mpq",
        "Deep/1/2/3/4/5/6/7/8/9/10/11/12/patch_d2.mpq",
    };
    for (const char* path : layout)
        writeFile(c(path), path);
    for (int i = 0; i < 40; ++i)
        writeFile(c("Wide/f" + std::to_string(i) + (i % 7 == 0 ? "/patch_d2.mpq" : "/other")), "");

    const ReferenceWalk expected = referenceWalk(files(), "c:\\", PatchFileName);
    // Whether folders are read ahead on other threads changes nothing of what is reported.
    for (const unsigned readAhead : {0u, 1u, 3u, DefaultReadAhead}) {
        RecordingObserver seen;
        summary = FindFiles(files(), "c:\\", PatchFileName, seen, nullptr, readAhead,
                            std::chrono::microseconds(0));
        EXPECT_EQ(seen.entries, expected.entries) << readAhead;
        EXPECT_EQ(seen.captions, expected.captions) << readAhead;
        EXPECT_EQ(seen.entries.size(), 12u);
    }
}

TEST_F(PatchSearchTest, TheRootIsNormalisedToOneTrailingBackslash)
{
    archive("patch_d2.mpq");
    archive("Games/patch_d2.mpq");
    const struct
    {
        const char* root;
        std::vector<std::string> entries;
    } cases[] = {
        {"c:\\", {"c:\\patch_d2.mpq", "c:\\Games\\patch_d2.mpq"}},
        {"c:", {"c:\\patch_d2.mpq", "c:\\Games\\patch_d2.mpq"}},
        {"c:\\Games", {"c:\\Games\\patch_d2.mpq"}},
        {"c:\\Games\\", {"c:\\Games\\patch_d2.mpq"}},
        {"c:\\games", {"c:\\games\\patch_d2.mpq"}}, // the given spelling is kept
    };
    for (const auto& test : cases)
        EXPECT_EQ(walk(test.root).entries, test.entries) << test.root;
}

TEST_F(PatchSearchTest, HiddenAndCaseRules)
{
    archive("Shown/patch_d2.mpq");
    archive("Caps/PATCH_D2.MPQ");
    archive("Hidden folder/patch_d2.mpq");
    archive("Hidden file/patch_d2.mpq");
    archive("patch_d2.mpq/patch_d2.mpq"); // a folder of that name, holding the file
    archive("Near misses/patch_d2.mpq.old");
    archive("Near misses/patch_d2.mp");
    archive("Near misses/apatch_d2.mpq");
    files().setAttributes("c:\\Hidden folder", Attribute::Hidden);
    files().setAttributes("c:\\Hidden file\\patch_d2.mpq", Attribute::Hidden);

    std::vector<std::string> entries = walk().entries;
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries,
              (std::vector<std::string>{"c:\\Caps\\PATCH_D2.MPQ", "c:\\Shown\\patch_d2.mpq",
                                        "c:\\patch_d2.mpq\\patch_d2.mpq"}));
}

TEST_F(PatchSearchTest, AMissingRootIsPassedOverAndCounted)
{
    const RecordingObserver seen = walk("c:\\No such folder");
    EXPECT_TRUE(seen.entries.empty());
    EXPECT_EQ(summary.foldersPassedOver, 1u);
    ASSERT_EQ(seen.passedOver.size(), 1u);
    EXPECT_NE(seen.passedOver[0].find("c:\\No such folder\\"), std::string::npos)
        << seen.passedOver[0];
    EXPECT_EQ(summary.firstPassedOver, seen.passedOver[0]);
}

TEST_F(PatchSearchTest, AStopRequestEndsTheWalkBeforeTheNextFolder)
{
    archive("patch_d2.mpq");
    archive("A/patch_d2.mpq");
    StopRequest stop;
    // Stopped from the first report on: the root's reports come, nothing below it.
    struct StopAtFirst : RecordingObserver
    {
        StopRequest* stop = nullptr;
        void subfolderFound(std::uint64_t n) override
        {
            RecordingObserver::subfolderFound(n);
            stop->request();
        }
    } observer;
    observer.stop = &stop;
    summary = FindFiles(files(), "c:\\", PatchFileName, observer, &stop);
    EXPECT_TRUE(summary.stopped);
    EXPECT_EQ(observer.entries, (std::vector<std::string>{"c:\\patch_d2.mpq"}));
    EXPECT_EQ(summary.foldersRead, 1u);

    StopRequest early;
    early.request();
    RecordingObserver none;
    summary = FindFiles(files(), "c:\\", PatchFileName, none, &early);
    EXPECT_TRUE(summary.stopped);
    EXPECT_EQ(summary.foldersRead, 0u);
    EXPECT_TRUE(none.entries.empty());
}

TEST(BatchingObserver, HandsOverReportsInOrderAndTheLastCaption)
{
    const OperationError unreadable("read the folder", {"c:\\x\\"}, "Permission denied");
    for (const bool eachAlone : {true, false}) {
        std::vector<SearchBatch> batches;
        BatchingObserver observer([&](SearchBatch&& b) { batches.push_back(std::move(b)); },
                                  eachAlone ? std::chrono::milliseconds(0) : std::chrono::hours(1));
        observer.subfolderFound(1);
        observer.subfolderFound(2);
        observer.matchFound("c:\\patch_d2.mpq");
        observer.folderPassedOver(unreadable);
        observer.subfolderFound(1);
        observer.matchFound("c:\\B\\patch_d2.mpq");
        observer.flush();
        observer.flush(); // nothing pending: nothing handed over

        std::vector<std::string> entries, captions;
        std::uint64_t passedOver = 0;
        for (const SearchBatch& b : batches) {
            entries.insert(entries.end(), b.matches.begin(), b.matches.end());
            if (!b.caption.empty())
                captions.push_back(b.caption);
            passedOver += b.foldersPassedOver;
        }
        EXPECT_EQ(entries, (std::vector<std::string>{"c:\\patch_d2.mpq", "c:\\B\\patch_d2.mpq"}));
        EXPECT_EQ(passedOver, 1u);
        EXPECT_EQ(batches.size(), eachAlone ? 6u : 1u);
        const std::vector<std::string> expected =
            eachAlone ? std::vector<std::string>{"1", "2", "1"} : std::vector<std::string>{"1"};
        EXPECT_EQ(captions, expected);
        EXPECT_EQ(observer.batchesDelivered(), batches.size());
    }
}

// The Find command and the drive change, on the window's stand-in.
class FindCommandTest : public PatchSearchTest
{
protected:
    FakeForm form;
    RecordingMessages messages;
    CommandContext context{services.real(), form, messages};
};

TEST_F(FindCommandTest, EndStatesForNoneOneAndThreeMatches)
{
    const struct
    {
        std::vector<const char*> archives;
        std::vector<ShownMessage> messages;
        std::string caption;
    } cases[] = {
        {{}, {{NothingFoundMessage, "Velmoran"}}, " Velmoran "},
        {{"Mods/patch_d2.mpq"}, {}, " Velmoran "},
        // Three: the caption stays at the last count the walk wrote (B's one subfolder).
        {{"patch_d2.mpq", "A/patch_d2.mpq", "B/C/patch_d2.mpq"}, {}, "1"},
    };
    for (const auto& test : cases) {
        fs::remove_all(c());
        fs::create_directory(c());
        for (const char* path : test.archives)
            archive(path);
        form = FakeForm{};
        form.list = {"c:\\from\\an\\earlier\\search\\patch_d2.mpq"};
        messages.shown.clear();

        findPatches(context);
        EXPECT_EQ(form.listCount(), static_cast<int>(test.archives.size()));
        EXPECT_EQ(messages.shown, test.messages);
        EXPECT_EQ(form.captionText, test.caption);
    }
}

TEST_F(FindCommandTest, TheSearchRootIsTheDriveLetterWhateverFollowsIt)
{
    drives.addDrive('d');
    writeFile(drives.drive('d') / "Mods" / "patch_d2.mpq", "d");
    archive("patch_d2.mpq");
    const struct
    {
        const char* drive;
        const char* entry;
    } cases[] = {
        {"c:", "c:\\patch_d2.mpq"},
        {"c: [drive_c]", "c:\\patch_d2.mpq"},
        {"d: /some/where", "d:\\Mods\\patch_d2.mpq"},
    };
    for (const auto& test : cases) {
        form.drive = test.drive;
        findPatches(context);
        EXPECT_EQ(form.list, std::vector<std::string>{test.entry}) << test.drive;
    }
    EXPECT_EQ(searchRoot("e: label"), "e:\\");
    EXPECT_THROW(searchRoot(""), OperationError);
}

TEST_F(FindCommandTest, UnreadableFoldersAreToldAfterTheEndRules)
{
    SearchSummary passed;
    passed.foldersPassedOver = 2;
    passed.firstPassedOver = "Could not read the folder.\nc:\\x\\\n\nReason: Permission denied";
    endFind(context, passed);
    ASSERT_EQ(messages.shown.size(), 2u);
    EXPECT_EQ(messages.shown[0], (ShownMessage{NothingFoundMessage, "Velmoran"}));
    EXPECT_EQ(messages.shown[1].title, "Velmoran");
    EXPECT_EQ(messages.shown[1].text, passedOverMessage(passed));
    EXPECT_NE(messages.shown[1].text.find("2 folders could not be read"), std::string::npos);
    EXPECT_NE(messages.shown[1].text.find(passed.firstPassedOver), std::string::npos);
    EXPECT_EQ(passedOverMessage(SearchSummary{}), "");
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

TEST_F(FindCommandTest, DriveChangeMessagesAndTheFallbackToC)
{
    drives.addMissingDrive('a');
    drives.addMissingDrive('d');
    drives.addDrive('e');
    const struct
    {
        const char* selected;
        std::vector<ShownMessage> messages;
        std::vector<std::string> selections;
    } cases[] = {
        {"a:", {{"No Disk in drive A:", " Velmoran "}}, {"c:"}},
        {"A:", {{"No Disk was found on drive A:", "Velmoran "}}, {"c:"}},
        {"a: [floppy]", {{"No Disk was found on drive a: [floppy]", "Velmoran "}}, {"c:"}},
        {"d:", {{"No Disk was found on drive d:", "Velmoran "}}, {"c:"}},
        {"q:", {{"No Disk was found on drive q:", "Velmoran "}}, {"c:"}}, // no such drive
        {"e:", {}, {}},
        {"c:", {}, {}},
    };
    SignallingForm signalling;
    CommandContext live{services.real(), signalling, messages};
    signalling.context = &live;
    for (const auto& test : cases) {
        signalling.drive = test.selected;
        signalling.driveSelections.clear();
        signalling.list = {"kept"};
        signalling.captionText = "kept";
        messages.shown.clear();
        changeDrive(live);
        EXPECT_EQ(messages.shown, test.messages) << test.selected;
        EXPECT_EQ(signalling.driveSelections, test.selections) << test.selected;
        EXPECT_EQ(signalling.list, std::vector<std::string>{"kept"});
        EXPECT_EQ(signalling.captionText, "kept");
    }
}

TEST_F(FindCommandTest, AnUnreadableCIsToldOnceWithoutALoop)
{
    fs::remove_all(c()); // c: leads nowhere now
    drives.addMissingDrive('d');
    SignallingForm signalling;
    CommandContext live{services.real(), signalling, messages};
    signalling.context = &live;
    signalling.drive = "d:";
    changeDrive(live);
    EXPECT_EQ(messages.shown,
              (std::vector<ShownMessage>{{"No Disk was found on drive d:", "Velmoran "},
                                         {"No Disk was found on drive c:", "Velmoran "}}));
    EXPECT_EQ(signalling.driveSelections, std::vector<std::string>{"c:"});
}

} // namespace
