// The walk's reads ahead of it: a folder's place in the walk, and the reader that reads
// the folders the walk comes to next on threads of its own (FolderReader.cpp) and whole
// subtrees further on from the start (SubtreeReader.cpp).
#pragma once

#include "core/FileSystem.h"
#include "core/FolderIdSet.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace velmoran {

// A folder's place in the walk: the indexes of the subfolders that lead to it from the
// root. Compared as sequences, places sort in the walk's order (depth-first pre-order), and
// everything below a folder sorts right after it.
using Place = std::vector<std::uint32_t>;

inline bool isBelowOrAt(const Place& place, const Place& folder)
{
    return place.size() >= folder.size() && std::equal(folder.begin(), folder.end(), place.begin());
}

struct ReadResult
{
    FolderScan scan;
    std::exception_ptr error;
};

// Reads folders ahead of the walk on threads of its own, always the waiting folder that
// comes first in the walk's order, so that the reads of a cold disk overlap. At most
// `window` folders are read and not yet taken; a folder nobody has started on yet is read
// by the walk itself. Folders reached a second time (links) are not read ahead, so the
// read-ahead ends wherever the walk does.
class FolderReader
{
public:
    // The readers start once the walk's own reads take slowRead on average and, where the
    // platform can tell, read the disk (not a cache): on a warm disk, or when only a busy
    // processor slows the reads, they would cost more than they give.
    FolderReader(FolderScanner& scanner, unsigned threads, std::size_t window,
                 std::chrono::microseconds slowRead);
    ~FolderReader();

    // A folder whose subtree the subtree reader is to read.
    struct Subtree
    {
        Place place;
        std::string path;
        FolderId id;
    };

    // Whether the subtree reader asks for subtrees to read: when it has none, or when it has
    // read a while in ones further on than subtrees of the walk's deeper levels would be.
    bool wantsSubtree() const { return m_wantsSubtree.load(std::memory_order_relaxed); }
    // The shallowest level of the walk's folders whose subfolders it then takes.
    std::size_t subtreeLevel() const { return m_subtreeLevel.load(std::memory_order_relaxed); }

    // Gives the subtree reader the subtrees of these folders, siblings that the walk enters
    // later, in the walk's order: it reads them one after the other before those it had.
    void handOver(std::vector<Subtree> run);

    // The folder's scan: the one read ahead when it is ready, else read here and now (a
    // read ahead that is still going on is not waited for: on a warm disk waiting costs
    // more than reading, on a cold one both wait for the same blocks).
    ReadResult take(const Place& place, const std::string& path, const FolderId& known);

    // The walk will not enter this folder: nothing at or below it is read ahead any more.
    void forget(const Place& place);

private:
    ReadResult read(const std::string& path, const FolderId& known);
    void startWhenSlow(std::chrono::nanoseconds took);
    void wakeReaders(std::size_t count);
    std::size_t offerSubfolders(const Place& place, const std::string& path,
                                const FolderScan& scan);
    void work();
    void walkSubtrees();
    void askForSubtrees(std::size_t level);

    struct Waiting
    {
        std::string path;
        FolderId id;
    };

    FolderScanner& m_scanner;
    const std::size_t m_window;
    std::mutex m_mutex;
    std::condition_variable m_work;     // readers wait here for a folder to read, or for room
    std::map<Place, Waiting> m_waiting; // offered, not started: their paths
    std::set<Place> m_reading;
    std::set<Place> m_forgotten; // being read, no longer wanted
    std::map<Place, ReadResult> m_done;
    FolderIdSet m_offered;
    bool m_stopping = false;
    const unsigned m_readerCount;
    const std::chrono::microseconds m_slowRead;
    std::chrono::nanoseconds m_averageRead{0};
    unsigned m_reads = 0;
    // A folder read from the disk reads a few kilobytes; one from the cache next to none.
    static constexpr std::uint64_t DiskBytesPerColdRead = 2048;
    const std::optional<std::uint64_t> m_diskAtStart; // the walk's thread, before its reads
    bool m_started = false; // written by the walk's thread only, read under the lock
    // The subtree reader's: the subtrees handed over, the one it reads, how far the walk is.
    static constexpr std::size_t SubtreeWindow = 4096;
    static constexpr std::size_t MaxDepth = 512;
    // It asks for subtrees nearer the walk after this many folders of a hand-over, and
    // reads at most MaxRuns hand-overs at a time.
    static constexpr std::size_t AskAfter = 128;
    static constexpr std::size_t MaxRuns = 8;
    std::condition_variable m_subtreeWork;
    std::vector<Subtree> m_handed;
    bool m_newRun = false;
    Place m_subtreeRoot;
    bool m_subtreeGiven = false; // it reads a subtree: the one at m_subtreeRoot
    bool m_subtreeCaught = false;
    Place m_walkAt; // the folder the walk takes or reads last
    std::atomic<bool> m_wantsSubtree{false};
    std::atomic<std::size_t> m_subtreeLevel{0};
    std::thread m_subtreeThread;
    std::vector<std::thread> m_threads; // last: started once everything above exists
};

} // namespace velmoran
