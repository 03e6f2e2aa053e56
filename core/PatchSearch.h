// The Find command's walk over a folder tree: what it reports, in which order, and how a
// running walk is asked to stop.
#pragma once

#include "core/FileSystem.h"
#include "core/OperationError.h"
#include "core/TimeLimitedScanner.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace velmoran {

// How many threads read folders ahead of the walk by default.
inline constexpr unsigned DefaultReadAhead = 8;
// The average time of one folder read above which the disk is being read, not a cache:
// from then on folders are read ahead.
inline constexpr std::chrono::microseconds DefaultSlowRead{100};

// The name that the Find command looks for.
inline constexpr const char* PatchFileName = "patch_d2.mpq";

// Asks a running walk to stop. Set from any thread; the walk looks at it before every
// folder it reads.
class StopRequest
{
public:
    void request() { m_requested.store(true, std::memory_order_relaxed); }
    bool requested() const { return m_requested.load(std::memory_order_relaxed); }

private:
    std::atomic<bool> m_requested{false};
};

// What the walk tells while it goes, in the walk's order, on the walking thread.
class SearchObserver
{
public:
    virtual ~SearchObserver() = default;
    // One more subfolder of the folder being read: count is that folder's own count so far
    // (1, 2, ...), the number the caption shows.
    virtual void subfolderFound(std::uint64_t count) = 0;
    // One match: the folder path ending in "\" followed by the name as the disk stores it.
    virtual void matchFound(const std::string& entry) = 0;
    // A folder that could not be read; the walk passes over it and goes on.
    virtual void folderPassedOver(const OperationError& error) = 0;
    // The walk waits for a read that has not answered at once (it may wait up to the answer
    // limit): the moment to show what it has told so far.
    virtual void waiting() {}
};

// How a walk went.
struct SearchSummary
{
    std::uint64_t foldersRead = 0;
    std::uint64_t matches = 0;
    std::uint64_t foldersPassedOver = 0; // could not be read
    std::string firstPassedOver;         // the first such folder's error text
    std::uint64_t repeatsSkipped = 0;    // folders reached a second time (links), not walked again
    bool stopped = false;                // ended by a StopRequest before it was complete
    std::vector<std::string> stoppedAnswering; // error texts of the file systems given up
};

// Walks the folder tree below `folder` (with or without a trailing "\") for files named
// `name` (without regard to case) and reports every match: a folder's matches come before
// anything in its subfolders, subfolders are walked in listing order (depth-first
// pre-order). Hidden and system folders are not entered, hidden and system files not
// reported; "." and ".." are never entered; a folder reached a second time through a link
// is not walked again. There is no limit on depth or on the number of subfolders, and the
// walk's memory is bounded by depth and fan-out, plus one identity per folder walked.
// A folder that cannot be read is reported to the observer, counted and passed over.
// The observer is called on the calling thread only. With readAhead > 0, one thread of the
// walk's own reads, from the start, whole subtrees that the walk enters soon after the one
// it is in (so that a warm walk uses two processors), and that many threads read the
// folders that come next while the walk goes on (their reads overlap on a cold disk), once
// the walk's reads take slowRead on average and, where the file system can tell, read the
// disk (at once for zero). Every folder is read ahead in the walk's own order and kept
// until the walk takes it, so what the walk reports and in which order never depends on
// them; they end before FindFiles returns. The file system's folder scanner must then
// allow scan from several threads at once.
// A folder that does not answer within answerLimit is told and passed over as one that
// cannot be read; once a file system is given up (see TimeLimitedScanner), its first folder
// passed over untried is told and the others are passed over silently. Reads that never
// answer are left behind: FindFiles returns without waiting for them, and `files` must then
// outlive them (TimeLimitedScanner::blockedReads).
SearchSummary FindFiles(FileSystem& files, const std::string& folder, const std::string& name,
                        SearchObserver& observer, const StopRequest* stop = nullptr,
                        unsigned readAhead = DefaultReadAhead,
                        std::chrono::microseconds slowRead = DefaultSlowRead,
                        std::chrono::milliseconds answerLimit = DefaultAnswerLimit);

} // namespace velmoran
