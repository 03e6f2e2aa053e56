#include "core/BatchingObserver.h"

#include <gtest/gtest.h>

using namespace velmoran;

namespace {

// One line per batch: its matches, "caption=<text>" when it sets one, "passed=<n>" when any.
std::string shown(const SearchBatch& batch)
{
    std::string line;
    for (const std::string& match : batch.matches)
        line += match + " ";
    if (!batch.caption.empty())
        line += "caption=" + batch.caption + " ";
    if (batch.foldersPassedOver)
        line += "passed=" + std::to_string(batch.foldersPassedOver);
    return line;
}

// The same reports, every one handed over alone (no interval), or held for an hour until the
// walk waits or ends; nothing is handed over twice and no batch is empty.
TEST(BatchingObserver, HandsOverEveryReportOnceInOrder)
{
    const OperationError unread("read the folder", {"d:\\x\\"}, "Permission denied");
    for (const auto& [interval, expected] :
         {std::pair{std::chrono::hours(0),
                    std::vector<std::string>{"caption=1 ", "a ", "caption=2 ", "passed=1", "b ",
                                             "passed=1", "passed=1", "c "}},
          std::pair{std::chrono::hours(1),
                    std::vector<std::string>{"a caption=2 passed=1", "b c passed=2"}}}) {
        std::vector<std::string> batches;
        BatchingObserver observer([&](SearchBatch&& b) { batches.push_back(shown(b)); }, interval);
        observer.subfolderFound(1);
        observer.matchFound("a");
        observer.subfolderFound(2);
        observer.folderPassedOver(unread);
        observer.waiting();
        observer.waiting();
        observer.matchFound("b");
        observer.folderPassedOver(unread);
        observer.folderPassedOver(unread);
        observer.matchFound("c");
        observer.flush();
        observer.flush();
        EXPECT_EQ(batches, expected) << interval.count();
    }
}

} // namespace
