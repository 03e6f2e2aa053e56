// The drive walk on this platform's real layer, also past folders that never answer, and
// the Find command's root and end.
#include "core/PatchSearch.h"
#include "core/FindCommand.h"
#include "core/OperationError.h"
#include "support/RandomTree.h"
#include "support/Recorders.h"
#include "support/ScratchFolder.h"
#include "support/TestPlatform.h"
#include "support/UnansweringFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <set>
#include <thread>
#include <utility>

using namespace velmoran;
using namespace velmoran::testing;
using Texts = std::vector<std::string>;

namespace {

class Walk : public ::testing::Test
{
protected:
    Walk() { fs::create_directories(scratch / "prefix"); }
    // A path of the scratch tree as the layer takes it.
    std::string at(const std::string& relative = "") const
    {
        return (scratch / "tree").string() + (relative.empty() ? "" : "\\" + relative);
    }
    void make(std::initializer_list<const char*> paths)
    {
        for (const char* path : paths)
            std::string(path).ends_with("/") ? (void)fs::create_directories(scratch / "tree" / path)
                                             : writeFile(scratch / "tree" / path, path);
    }
    // With slowRead an hour, the subtree reader alone reads ahead; with none, the readers too.
    SearchRecorder walk(const std::string& root, FileSystem* through = nullptr,
                        unsigned readAhead = DefaultReadAhead, std::chrono::hours slowRead = {},
                        std::chrono::milliseconds answerLimit = DefaultAnswerLimit)
    {
        SearchRecorder seen;
        summary = FindFiles(through ? *through : files(), root, PatchFileName, seen, nullptr,
                            readAhead, slowRead, answerLimit);
        return seen;
    }
    FileSystem& files() { return services.real().files; }

    ScratchFolder scratch{"velmoran-walk"};
    TestPlatform services{scratch / "prefix"};
    SearchSummary summary;
};

// What the walk must give, the long way: the ordinary listing operations, depth first; a
// subfolder listed after its folder (or a link to it) was listed is not entered again.
void referenceWalk(FileSystem& files, const std::string& folder, SearchRecorder& out,
                   std::set<fs::path>& listed)
{
    const auto identity = [](std::string path) { // the tests' paths are Unix ones
        std::replace(path.begin(), path.end(), '\\', '/');
        return fs::canonical(path);
    };
    if (listed.empty())
        listed.insert(identity(folder));
    std::vector<std::string> subfolders;
    std::size_t count = 0;
    const auto all = files.findFile(folder + "\\*.*", FindFilter::Folder);
    for (std::string entry = all->next(); !entry.empty(); entry = all->next())
        if (entry != "." && entry != ".." &&
            (files.fileAttributes(folder + "\\" + entry) & Attribute::Directory)) {
            out.captions.push_back(std::to_string(++count));
            if (listed.insert(identity(folder + "\\" + entry)).second)
                subfolders.push_back(folder + "\\" + entry);
        }
    const auto matches = files.findFile(folder + "\\*", FindFilter::Ordinary);
    for (std::string entry = matches->next(); !entry.empty(); entry = matches->next()) {
        std::string lower; // every name that differs in case only, as Linux can hold them
        for (const unsigned char c : entry)
            lower += static_cast<char>(std::tolower(c));
        if (lower == PatchFileName)
            out.entries.push_back(folder + "\\" + entry);
    }
    for (const std::string& subfolder : subfolders)
        referenceWalk(files, subfolder, out, listed);
}

// Random trees: the walk gives what the listing operations give.
TEST_F(Walk, GivesWhatTheListingOperationsGiveWhateverIsReadAhead)
{
    for (const unsigned seed : {1u, 2u, 3u}) {
        // A tree of its own for each (the trees grow past MAX_PATH, which some systems'
        // removal cannot reach).
        const std::string root = std::to_string(seed);
        makeRandomTree(scratch / "tree" / root, seed, 250 * seed, [&](const fs::path& hidden) {
            std::string relative = hidden.lexically_relative(scratch / "tree").string();
            std::replace(relative.begin(), relative.end(), '/', '\\');
            files().setAttributes(at(relative), Attribute::Hidden);
        });
        SearchRecorder expected;
        std::set<fs::path> walked;
        referenceWalk(files(), at(root), expected, walked);
        for (const unsigned readAhead : {0u, 1u, 2u, DefaultReadAhead}) { // root with "\\"
            const SearchRecorder seen = walk(at(root) + (readAhead == 1 ? "\\" : ""), nullptr,
                                             readAhead, std::chrono::hours(readAhead == 2));
            EXPECT_EQ(seen.entries, expected.entries) << seed << " " << readAhead;
            EXPECT_EQ(seen.captions, expected.captions) << seed << " " << readAhead;
            EXPECT_EQ(summary.foldersRead, walked.size()) << seed << " " << readAhead;
            EXPECT_EQ(summary.matches, expected.entries.size());
            EXPECT_FALSE(summary.stopped || summary.foldersPassedOver);
        }
    }
}

// Right after the root is read, as another command might, removes a folder; "Locked" fails.
struct ChangingFiles : ForwardingFiles
{
    ChangingFiles(FileSystem& files, std::function<void()> afterRoot)
        : ForwardingFiles(files), afterRoot(std::move(afterRoot))
    {
    }
    void scanFolder(const std::string& f, const std::string& n, FolderScan& r) override
    {
        if (f.find("Locked") != std::string::npos)
            throw OperationError("read the folder", {f}, "Permission denied");
        real.scanFolder(f, n, r);
        if (const auto hook = std::exchange(afterRoot, nullptr))
            hook();
    }
    std::function<void()> afterRoot;
};

TEST_F(Walk, AFolderRemovedDuringTheWalkIsGoneAndOneThatCannotBeReadIsTold)
{
    make({"A/patch_d2.mpq", "Backup/patch_d2.mpq", "Locked/patch_d2.mpq", "Z/patch_d2.mpq"});
    for (const unsigned readAhead : {0u, DefaultReadAhead}) {
        make({"Backup/patch_d2.mpq"});
        bool removed = false;
        ChangingFiles changing(files(),
                               [&] { removed = fs::remove_all(scratch / "tree" / "Backup") > 0; });
        const SearchRecorder seen = walk(at(), &changing, readAhead);
        EXPECT_TRUE(removed);
        EXPECT_EQ(seen.entries, (Texts{at("A\\patch_d2.mpq"), at("Z\\patch_d2.mpq")})) << readAhead;
        EXPECT_EQ(summary.foldersPassedOver, 1u) << readAhead; // Locked, not Backup
        ASSERT_EQ(seen.passedOver.size(), 1u) << readAhead;
        EXPECT_NE(seen.passedOver[0].find(at("Locked")), std::string::npos) << seen.passedOver[0];
        EXPECT_EQ(summary.firstPassedOver, seen.passedOver[0]);
    }
    const SearchRecorder missing = walk(at("No such folder")); // told
    ASSERT_EQ(missing.passedOver.size(), 1u);
    EXPECT_NE(missing.passedOver[0].find(at("No such folder") + "\\"), std::string::npos)
        << missing.passedOver[0];
}

// Slows the walk's own reads (hold 1) or its subtree reader's (hold 0).
struct Held : ForwardingFiles
{
    Held(FileSystem& files, int hold) : ForwardingFiles(files), hold(hold) {}
    void scanFolder(const std::string& f, const std::string& n, FolderScan& r) override
    {
        if (hold == (std::this_thread::get_id() == walker))
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        real.scanFolder(f, n, r);
    }
    int hold;
    std::thread::id walker = std::this_thread::get_id();
};

TEST_F(Walk, IsTheSameWhicheverOfItsThreadsReadsFirst)
{
    make({"A/patch_d2.mpq", "A/B/C/PATCH_D2.MPQ", "I/J/K/patch_d2.mpq", "N/.d/x"});
    std::error_code noLinks; // loops where the system makes links
    fs::create_directory_symlink(scratch / "tree/A", scratch / "tree/I/J/BackToA", noLinks);
    fs::create_directory_symlink(scratch / "tree/I", scratch / "tree/A/B/ToI", noLinks);
    const SearchRecorder alone = walk(at(), nullptr, 0);
    const SearchSummary aloneSummary = summary;
    for (const int hold : {0, 1, 0, 1}) {
        Held held(files(), hold);
        const SearchRecorder seen = walk(at(), &held, 8, std::chrono::hours(1));
        EXPECT_EQ(seen.entries, alone.entries) << hold;
        EXPECT_EQ(seen.captions, alone.captions) << hold;
        EXPECT_EQ(summary.repeatsSkipped, aloneSummary.repeatsSkipped) << hold;
    }
    EXPECT_EQ(alone.entries.size(), 3u);
}

TEST_F(Walk, StopsBeforeTheNextFolderOnceAsked)
{
    make({"A/patch_d2.mpq", "B/patch_d2.mpq", "C/patch_d2.mpq"});
    for (const unsigned readAhead : {0u, DefaultReadAhead}) {
        struct Stopping : SearchRecorder
        {
            void matchFound(const std::string& entry) override
            {
                SearchRecorder::matchFound(entry);
                stop.request();
            }
            StopRequest stop;
        } seen;
        summary = FindFiles(files(), at(), PatchFileName, seen, &seen.stop, readAhead);
        EXPECT_EQ(seen.entries, Texts{at("A\\patch_d2.mpq")}) << readAhead;
        EXPECT_TRUE(summary.stopped) << readAhead;
        EXPECT_EQ(summary.foldersRead, 2u) << readAhead; // the root and A
    }
}

TEST(FindCommand, TheRootIsTheDriveLetterAndOneUnreadFolderIsToldAsOne)
{
    for (const auto& [drive, root] :
         {std::pair{"c:", "c:\\"}, {"c: [drive_c]", "c:\\"}, {"e: label", "e:\\"}})
        EXPECT_EQ(searchRoot(drive), root);
    EXPECT_THROW(searchRoot(""), OperationError);
    const SearchSummary one{0, 0, 1, "Could not read the folder.", 0, false, {}};
    EXPECT_EQ(passedOverMessage(one),
              "1 folder could not be read and was passed over.\n\nCould not read the folder.");
    EXPECT_EQ(passedOverMessage(SearchSummary{}), "");
}

// A folder whose read never answers (a dead network or FUSE mount): the walk passes it over
// within its limit, goes on with the rest in the same order, and gives up a file system that
// holds as many blocked reads as may be.
class UnansweredFolder : public Walk
{
protected:
    // Short, yet far above what a read of a healthy scratch folder takes on a busy machine.
    static constexpr std::chrono::milliseconds Limit{250};

    SearchRecorder walk(FileSystem& through, unsigned readAhead, std::chrono::hours slowRead)
    {
        return Walk::walk(at(), &through, readAhead, slowRead, Limit);
    }
    std::string notAnswered(const std::string& folder) const
    {
        return "Could not read the folder.\n" + at(folder) +
               "\\\n\nReason: did not answer within 250 ms";
    }
};

TEST_F(UnansweredFolder, IsPassedOverAndEveryOtherMatchIsFoundInTheSameOrder)
{
    make({"A/patch_d2.mpq", "Dead/patch_d2.mpq", "Dead/Below/patch_d2.mpq", "M/Mute/patch_d2.mpq",
          "M/patch_d2.mpq", "Z/patch_d2.mpq"});
    const fs::path elsewhere = scratch / "elsewhere";
    fs::create_directories(elsewhere);
    std::error_code noLinks; // where the system makes links
    fs::create_directory_symlink(scratch / "tree" / "Dead", elsewhere / "ToDead", noLinks);
    // Read by the walk alone, with the subtree reader, with the read-ahead readers; a second
    // walk does not try again the folders whose reads are still blocked, by any name.
    for (const auto& [readAhead, slowRead] :
         {std::pair{0u, 0}, {DefaultReadAhead, 1}, {DefaultReadAhead, 0}}) {
        UnansweringFiles files(services.real().files, {"\\Dead\\", "\\Mute\\"});
        for (int walks = 0; walks < 2; ++walks) {
            const SearchRecorder seen = walk(files, readAhead, std::chrono::hours(slowRead));
            EXPECT_EQ(seen.entries,
                      (Texts{at("A\\patch_d2.mpq"), at("M\\patch_d2.mpq"), at("Z\\patch_d2.mpq")}))
                << readAhead;
            EXPECT_EQ(seen.captions, (Texts{"1", "2", "3", "4", "1"})) << readAhead;
            EXPECT_EQ(seen.passedOver, (Texts{notAnswered("Dead"), notAnswered("M\\Mute")}))
                << readAhead;
            EXPECT_EQ(summary.foldersPassedOver, 2u);
            EXPECT_EQ(summary.matches, 3u);
            // The walk's own first reads of Dead and Mute: it shows what it found meanwhile.
            if (readAhead == 0 && walks == 0) {
                EXPECT_GE(seen.waits, 2u);
            }
        }
        if (!noLinks) {
            const SearchRecorder again =
                Walk::walk(elsewhere.string(), &files, readAhead, {}, Limit);
            EXPECT_EQ(again.passedOver, Texts{"Could not read the folder.\n" + elsewhere.string() +
                                              "\\ToDead\\\n\nReason: did not answer within 250 ms"})
                << readAhead;
        }
        // Each tried and left blocked once, whoever read it first.
        EXPECT_EQ(files.tried(), 2u) << readAhead;
        EXPECT_EQ(files.blocked(), 2u) << readAhead;
        EXPECT_EQ(TimeLimitedScanner::blockedReads(), 2u) << readAhead;
    } // released: the reads that did not answer end
    EXPECT_EQ(TimeLimitedScanner::blockedReads(), 0u);
}

TEST_F(UnansweredFolder, AReadThatAnswersAtLastIsNoLongerCountedAsBlocked)
{
    make({"Dead/patch_d2.mpq", "Z/patch_d2.mpq"});
    {
        UnansweringFiles files(services.real().files, {"\\Dead\\"});
        walk(files, 0, {});
        EXPECT_EQ(TimeLimitedScanner::blockedReads(), 1u);
        EXPECT_EQ(TimeLimitedScanner::readsInProgress(), 0u);
    } // released: the read answers now
    EXPECT_EQ(TimeLimitedScanner::blockedReads(), 0u);
}

TEST_F(UnansweredFolder, FileSystemIsGivenUpOnceAsManyReadsAsMayBeAreBlocked)
{
    make({"A/patch_d2.mpq", "D1/patch_d2.mpq", "D2/x", "D3/x", "D4/x", "D5/x", "D6/patch_d2.mpq",
          "Z/patch_d2.mpq"});
    static_assert(MaxBlockedReads == 4);
    UnansweringFiles files(services.real().files,
                           {"\\D1\\", "\\D2\\", "\\D3\\", "\\D4\\", "\\D5\\", "\\D6\\"});
    const SearchRecorder seen = walk(files, 0, {});
    // D5, D6 and Z lie on the same file system as the four folders that never answered.
    EXPECT_EQ(seen.entries, Texts{at("A\\patch_d2.mpq")});
    const std::string givenUp = "Could not read the folder.\n" + at("D5") +
                                "\\\n\nReason: the file system holding " + at("D1") +
                                "\\ stopped answering";
    EXPECT_EQ(seen.passedOver, (Texts{notAnswered("D1"), notAnswered("D2"), notAnswered("D3"),
                                      notAnswered("D4"), givenUp}));
    EXPECT_EQ(files.tried(), 4u);
    EXPECT_EQ(TimeLimitedScanner::blockedReads(), 4u);
    EXPECT_EQ(summary.stoppedAnswering, Texts{givenUp});
    EXPECT_EQ(passedOverMessage(summary),
              "5 folders could not be read and were passed over. The first:\n\n" +
                  notAnswered("D1") + "\n\n" + givenUp);
}

TEST(AnswerLimit, IsToldInSecondsOrMilliseconds)
{
    EXPECT_EQ(notAnsweredReason(DefaultAnswerLimit), "did not answer within 10 s");
    EXPECT_EQ(notAnsweredReason(std::chrono::milliseconds(250)), "did not answer within 250 ms");
}

} // namespace
