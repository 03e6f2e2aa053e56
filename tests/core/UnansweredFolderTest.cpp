// A folder whose read never answers (a dead network or FUSE mount): the walk passes it over
// within its limit, goes on with the rest in the same order, and gives up a file system that
// holds as many blocked reads as may be.
#include "core/FindCommand.h"
#include "core/PatchSearch.h"
#include "support/ScratchFolder.h"
#include "support/TestPlatform.h"
#include "support/UnansweringFiles.h"

#include <gtest/gtest.h>

using namespace velmoran;
using namespace velmoran::testing;
using Texts = std::vector<std::string>;

namespace {

// Short, yet far above what a read of a healthy scratch folder takes on a busy machine.
constexpr std::chrono::milliseconds Limit{250};

struct Recorder : SearchObserver
{
    void subfolderFound(std::uint64_t count) override { captions.push_back(std::to_string(count)); }
    void matchFound(const std::string& entry) override { entries.push_back(entry); }
    void folderPassedOver(const OperationError& e) override { passedOver.push_back(e.what()); }
    void waiting() override { ++waits; }
    Texts entries, captions, passedOver;
    unsigned waits = 0;
};

class UnansweredFolder : public ::testing::Test
{
protected:
    UnansweredFolder() { fs::create_directories(scratch / "prefix"); }
    std::string at(const std::string& relative = "") const
    {
        return (scratch / "tree").string() + (relative.empty() ? "" : "\\" + relative);
    }
    void make(std::initializer_list<const char*> paths)
    {
        for (const char* path : paths)
            writeFile(scratch / "tree" / path, path);
    }
    Recorder walk(FileSystem& files, unsigned readAhead, std::chrono::hours slowRead)
    {
        Recorder seen;
        summary = FindFiles(files, at(), PatchFileName, seen, nullptr, readAhead, slowRead, Limit);
        return seen;
    }
    std::string notAnswered(const std::string& folder) const
    {
        return "Could not read the folder.\n" + at(folder) +
               "\\\n\nReason: did not answer within 250 ms";
    }

    ScratchFolder scratch{"velmoran-unanswered"};
    TestPlatform services{scratch / "prefix"};
    SearchSummary summary;
};

TEST_F(UnansweredFolder, IsPassedOverAndEveryOtherMatchIsFoundInTheSameOrder)
{
    make({"A/patch_d2.mpq", "Dead/patch_d2.mpq", "Dead/Below/patch_d2.mpq", "M/Mute/patch_d2.mpq",
          "M/patch_d2.mpq", "Z/patch_d2.mpq"});
    // Read by the walk alone, with the subtree reader, with the read-ahead readers.
    for (const auto& [readAhead, slowRead] :
         {std::pair{0u, 0}, {DefaultReadAhead, 1}, {DefaultReadAhead, 0}}) {
        UnansweringFiles files(services.real().files, {"\\Dead\\", "\\Mute\\"});
        const Recorder seen = walk(files, readAhead, std::chrono::hours(slowRead));
        EXPECT_EQ(seen.entries,
                  (Texts{at("A\\patch_d2.mpq"), at("M\\patch_d2.mpq"), at("Z\\patch_d2.mpq")}))
            << readAhead;
        EXPECT_EQ(seen.captions, (Texts{"1", "2", "3", "4", "1"})) << readAhead;
        EXPECT_EQ(seen.passedOver, (Texts{notAnswered("Dead"), notAnswered("M\\Mute")}))
            << readAhead;
        EXPECT_EQ(summary.foldersPassedOver, 2u);
        EXPECT_EQ(summary.matches, 3u);
        if (readAhead == 0) { // the walk's own reads of Dead and Mute: it shows what it found
            EXPECT_GE(seen.waits, 2u);
        }
        // Each left blocked once, whoever read it first.
        EXPECT_EQ(files.blocked(), 2u) << readAhead;
        EXPECT_EQ(TimeLimitedScanner::blockedReads(), 2u) << readAhead;
    } // released: the reads that did not answer end
    EXPECT_EQ(TimeLimitedScanner::blockedReads(), 0u);
}

TEST_F(UnansweredFolder, StillBlockedIsNotTriedAgainByTheNextWalk)
{
    make({"A/patch_d2.mpq", "Dead/patch_d2.mpq", "Z/patch_d2.mpq"});
    UnansweringFiles files(services.real().files, {"\\Dead\\"});
    for (int walks = 0; walks < 3; ++walks) {
        const Recorder seen = walk(files, 0, {});
        EXPECT_EQ(seen.entries, (Texts{at("A\\patch_d2.mpq"), at("Z\\patch_d2.mpq")}));
        EXPECT_EQ(seen.passedOver, Texts{notAnswered("Dead")});
    }
    EXPECT_EQ(files.tried(), 1u);
}

TEST_F(UnansweredFolder, FileSystemIsGivenUpOnceAsManyReadsAsMayBeAreBlocked)
{
    make({"A/patch_d2.mpq", "D1/patch_d2.mpq", "D2/x", "D3/x", "D4/x", "D5/x", "D6/patch_d2.mpq",
          "Z/patch_d2.mpq"});
    static_assert(MaxBlockedReads == 4);
    UnansweringFiles files(services.real().files,
                           {"\\D1\\", "\\D2\\", "\\D3\\", "\\D4\\", "\\D5\\", "\\D6\\"});
    const Recorder seen = walk(files, 0, {});
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
