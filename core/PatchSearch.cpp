#include "core/PatchSearch.h"

#include "core/PathRules.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <utility>

namespace velmoran {

namespace {

// The identities of the folders met so far, in one flat table (open addressing, linear
// probing): 16 bytes a slot, at most half of the slots in use. A zero identity (the
// platform cannot tell) is never stored, so such folders are always walked.
class FolderIdSet
{
public:
    // False when the identity was there already.
    bool insert(const FolderId& id)
    {
        if (id == FolderId{})
            return true;
        if ((m_used + 1) * 2 > m_slots.size())
            grow();
        if (!place(m_slots, id))
            return false;
        ++m_used;
        return true;
    }

private:
    static std::size_t hash(const FolderId& id)
    {
        std::uint64_t h = id.inode * 0x9E3779B97F4A7C15ull ^ (id.device + 0x632BE59BD9B4E019ull);
        h ^= h >> 29;
        h *= 0xBF58476D1CE4E5B9ull;
        h ^= h >> 32;
        return static_cast<std::size_t>(h);
    }

    static bool place(std::vector<FolderId>& slots, const FolderId& id)
    {
        const std::size_t mask = slots.size() - 1;
        for (std::size_t i = hash(id) & mask;; i = (i + 1) & mask) {
            if (slots[i] == FolderId{}) {
                slots[i] = id;
                return true;
            }
            if (slots[i] == id)
                return false;
        }
    }

    void grow()
    {
        std::vector<FolderId> bigger(m_slots.empty() ? 1024 : m_slots.size() * 2);
        for (const FolderId& id : m_slots)
            if (!(id == FolderId{}))
                place(bigger, id);
        m_slots.swap(bigger);
    }

    std::vector<FolderId> m_slots;
    std::size_t m_used = 0;
};

// A folder's place in the walk: the indexes of the subfolders that lead to it from the
// root. Compared as sequences, places sort in the walk's order (depth-first pre-order), and
// everything below a folder sorts right after it.
using Place = std::vector<std::uint32_t>;

bool isBelowOrAt(const Place& place, const Place& folder)
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
                 std::chrono::microseconds slowRead)
        : m_scanner(scanner), m_window(window), m_readerCount(threads), m_slowRead(slowRead),
          m_diskAtStart(scanner.diskBytesRead())
    {
        startWhenSlow(std::chrono::nanoseconds(0));
        if (threads > 0 && !m_started) {
            m_wantsSubtree.store(true, std::memory_order_relaxed);
            m_subtreeThread = std::thread([this] { walkSubtrees(); });
        }
    }

    ~FolderReader()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_work.notify_all();
        m_subtreeWork.notify_all();
        if (m_subtreeThread.joinable())
            m_subtreeThread.join();
        for (std::thread& thread : m_threads)
            thread.join();
    }

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
    void handOver(std::vector<Subtree> run)
    {
        {
            std::lock_guard lock(m_mutex);
            m_handed = std::move(run);
            m_newRun = true;
            m_wantsSubtree.store(false, std::memory_order_relaxed);
        }
        m_subtreeWork.notify_all();
    }

    // The folder's scan: the one read ahead when it is ready, else read here and now (a
    // read ahead that is still going on is not waited for: on a warm disk waiting costs
    // more than reading, on a cold one both wait for the same blocks).
    ReadResult take(const Place& place, const std::string& path, const FolderId& known)
    {
        if (m_threads.empty() && !m_subtreeThread.joinable())
            return read(path, known);
        std::unique_lock lock(m_mutex);
        m_walkAt = place;
        // The walk takes its folders in its own order: whatever was read before this one
        // lies in a part the walk passed over (a link met again) and is never taken.
        const std::size_t before = m_done.size();
        m_done.erase(m_done.begin(), m_done.lower_bound(place));
        const bool purged = m_done.size() != before;
        if (auto done = m_done.find(place); done != m_done.end()) {
            ReadResult result = std::move(done->second);
            m_done.erase(done);
            const bool lowWater = m_done.size() + m_reading.size() == m_window / 2;
            const std::size_t held = m_done.size() + m_reading.size() + 1;
            const bool room =
                m_subtreeGiven && (purged || held == SubtreeWindow || held == SubtreeWindow / 2);
            lock.unlock();
            if (lowWater)
                m_work.notify_all(); // readers that waited for room go on
            if (room)
                m_subtreeWork.notify_all();
            return result;
        }
        // The walk has caught up with the subtree reader (or gone past it): it reads the rest
        // of that subtree itself, and the reader goes on with one further on.
        bool wake = purged && m_subtreeGiven;
        if (m_subtreeGiven && !m_subtreeCaught && !(place < m_subtreeRoot)) {
            m_subtreeCaught = true;
            wake = true;
        }
        if (wake)
            m_subtreeWork.notify_all();
        if (m_reading.count(place) != 0)
            m_forgotten.insert(place);
        else
            m_waiting.erase(place);
        lock.unlock();
        const auto started = std::chrono::steady_clock::now();
        ReadResult result = read(path, known);
        startWhenSlow(std::chrono::steady_clock::now() - started);
        if (!result.error && m_started) {
            lock.lock();
            const std::size_t offered = offerSubfolders(place, path, result.scan);
            const bool room = m_done.size() + m_reading.size() < m_window;
            lock.unlock();
            if (room)
                wakeReaders(offered);
        }
        return result;
    }

    // The walk will not enter this folder: nothing at or below it is read ahead any more.
    void forget(const Place& place)
    {
        if (!m_started) {
            // The subtree reader leaves a subtree that holds it, or lies in it, to the walk.
            std::unique_lock lock(m_mutex);
            if (!m_subtreeGiven || m_subtreeCaught ||
                !(isBelowOrAt(place, m_subtreeRoot) || isBelowOrAt(m_subtreeRoot, place)))
                return;
            m_subtreeCaught = true;
            lock.unlock();
            m_subtreeWork.notify_all();
            return;
        }
        std::unique_lock lock(m_mutex);
        for (auto it = m_waiting.lower_bound(place);
             it != m_waiting.end() && isBelowOrAt(it->first, place);)
            it = m_waiting.erase(it);
        const std::size_t before = m_done.size();
        for (auto it = m_done.lower_bound(place);
             it != m_done.end() && isBelowOrAt(it->first, place);)
            it = m_done.erase(it);
        for (auto it = m_reading.lower_bound(place);
             it != m_reading.end() && isBelowOrAt(*it, place); ++it)
            m_forgotten.insert(*it);
        const bool freed = m_done.size() != before;
        lock.unlock();
        if (freed)
            m_work.notify_all(); // there may be room again
    }

private:
    ReadResult read(const std::string& path, const FolderId& known)
    {
        ReadResult result;
        try {
            m_scanner.scan(path, known, result.scan);
        } catch (...) {
            result.error = std::current_exception();
        }
        return result;
    }

    // The walk's thread only: keeps a moving average of its read times.
    void startWhenSlow(std::chrono::nanoseconds took)
    {
        if (m_started || m_readerCount == 0)
            return;
        m_averageRead = (m_averageRead * 15 + took) / 16;
        if (++m_reads < 16 && m_slowRead.count() > 0)
            return;
        if (m_averageRead < m_slowRead)
            return;
        if (m_slowRead.count() > 0 && m_diskAtStart) {
            if (m_reads % 16 != 0)
                return; // asked every sixteenth read: reads on a busy processor stay cheap
            const std::optional<std::uint64_t> disk = m_scanner.diskBytesRead();
            if (disk && *disk - *m_diskAtStart < std::uint64_t{m_reads} * DiskBytesPerColdRead)
                return;
        }
        {
            std::lock_guard lock(m_mutex);
            m_started = true;
        }
        m_subtreeWork.notify_all();
        for (unsigned i = 0; i < m_readerCount; ++i)
            m_threads.emplace_back([this] { work(); });
    }

    void wakeReaders(std::size_t count)
    {
        if (count >= m_readerCount)
            m_work.notify_all();
        else
            for (std::size_t i = 0; i < count; ++i)
                m_work.notify_one();
    }

    // With the lock held. Gives how many subfolders are now waiting to be read.
    std::size_t offerSubfolders(const Place& place, const std::string& path, const FolderScan& scan)
    {
        std::size_t offered = 0;
        m_offered.insert(scan.folder);
        for (std::size_t i = 0; i < scan.subfolders.size(); ++i) {
            const FolderId id = i < scan.subfolderIds.size() ? scan.subfolderIds[i] : FolderId{};
            if (!(id == FolderId{}) && !m_offered.insert(id))
                continue;
            Place child = place;
            child.push_back(static_cast<std::uint32_t>(i));
            m_waiting.emplace(std::move(child), Waiting{path + scan.subfolders[i] + '\\', id});
            ++offered;
        }
        return offered;
    }

    void work()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_work.wait(lock, [this] {
                return m_stopping ||
                       (!m_waiting.empty() && m_done.size() + m_reading.size() < m_window);
            });
            if (m_stopping)
                return;
            auto first = m_waiting.begin();
            const Place place = first->first;
            const std::string path = std::move(first->second.path);
            const FolderId known = first->second.id;
            m_waiting.erase(first);
            m_reading.insert(place);
            lock.unlock();
            ReadResult result = read(path, known);
            lock.lock();
            m_reading.erase(place);
            std::size_t offered = 0;
            // Subfolders are offered from the very scan the walk will take, never from a
            // second read of a folder that may have changed in between.
            if (m_forgotten.erase(place) == 0) {
                const auto [kept, fresh] = m_done.emplace(place, std::move(result));
                if (fresh && !kept->second.error)
                    offered = offerSubfolders(place, path, kept->second.scan);
            }
            // Readers asleep for want of work; one that waits for room stays asleep.
            if (offered > 1 && m_done.size() + m_reading.size() < m_window) {
                lock.unlock();
                wakeReaders(offered - 1); // this one takes the next itself
                lock.lock();
            }
        }
    }

    // The subtree reader: reads the subtrees it is handed, each in the walk's own order (depth
    // first, subfolders in listing order), into the folders read ahead, until the walk
    // catches up with it. Subtrees handed over while it reads are nearer the walk: it reads
    // them first and then goes on where it was, unless the walk has come there meanwhile.
    // At most SubtreeWindow folders wait read ahead, half of it while it asks for nearer
    // ones. Folders it meets a second time are left to the walk, so are those the walk
    // reaches first.
    void walkSubtrees()
    {
        FolderIdSet met;
        struct Next
        {
            Place place;
            Waiting folder;
        };
        // The subtrees of one hand-over, the next to start, and the one being read: its first
        // folder, the folders still to read in it (the next on top), how many were read.
        struct Run
        {
            std::vector<Subtree> subtrees;
            std::size_t next = 0;
            Place root;
            std::vector<Next> stack;
            std::size_t read = 0;
            bool asked = false;
        };
        std::vector<Run> runs; // the last is read; those before it wait, further on
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_subtreeWork.wait(lock, [&] {
                if (m_stopping || m_started || m_newRun)
                    return true;
                const std::size_t room = runs.empty()        ? 0
                                         : runs.back().asked ? SubtreeWindow / 2
                                                             : SubtreeWindow;
                return m_done.size() + m_reading.size() < room;
            });
            if (m_stopping || m_started)
                return; // reads turned slow: the read-ahead readers take over
            if (m_newRun) {
                m_newRun = false;
                runs.emplace_back().subtrees = std::move(m_handed);
                m_handed = {};
                m_subtreeCaught = false; // of the run before, looked at again when it goes on
            }
            Run& run = runs.back();
            if (m_subtreeCaught ||
                (!run.stack.empty() && run.stack.back().place.size() > run.root.size() + MaxDepth))
                run.stack.clear(); // the rest is the walk's
            m_subtreeCaught = false;
            if (run.stack.empty()) {
                // The next subtree of the run that the walk has not reached.
                while (run.next < run.subtrees.size() && !(m_walkAt < run.subtrees[run.next].place))
                    ++run.next;
                if (run.next == run.subtrees.size()) {
                    runs.pop_back();
                    if (runs.empty()) {
                        m_subtreeGiven = false;
                        askForSubtrees(0);
                    } else {
                        // Back to the run further on, where it was: unless the walk has come.
                        const Run& back = runs.back();
                        m_subtreeRoot = back.root;
                        m_subtreeCaught = !(m_walkAt < back.root);
                        if (back.asked)
                            askForSubtrees(back.root.size());
                    }
                    continue;
                }
                Subtree& first = run.subtrees[run.next++];
                run.root = first.place;
                m_subtreeRoot = first.place;
                m_subtreeGiven = true;
                run.stack.push_back(
                    {std::move(first.place), Waiting{std::move(first.path), first.id}});
            }
            if (!run.asked && ++run.read == AskAfter && runs.size() < MaxRuns) {
                run.asked = true;
                askForSubtrees(run.root.size());
            }
            Next next = std::move(run.stack.back());
            run.stack.pop_back();
            m_reading.insert(next.place);
            lock.unlock();
            ReadResult result = read(next.folder.path, next.folder.id);
            lock.lock();
            m_reading.erase(next.place);
            if (m_forgotten.erase(next.place) == 0) {
                const auto [kept, fresh] = m_done.emplace(next.place, std::move(result));
                if (fresh && !kept->second.error && !m_subtreeCaught) {
                    // Every folder but the subtree's first is there already, as its parent's.
                    if (next.place.size() == run.root.size() ||
                        !(kept->second.scan.folder == next.folder.id))
                        met.insert(kept->second.scan.folder);
                    const FolderScan& scan = kept->second.scan;
                    for (std::size_t i = scan.subfolders.size(); i-- > 0;) {
                        const FolderId id =
                            i < scan.subfolderIds.size() ? scan.subfolderIds[i] : FolderId{};
                        if (!(id == FolderId{}) && !met.insert(id))
                            continue;
                        Place child = next.place;
                        child.push_back(static_cast<std::uint32_t>(i));
                        run.stack.push_back(
                            {std::move(child),
                             Waiting{next.folder.path + scan.subfolders[i] + '\\', id}});
                    }
                }
            }
        }
    }

    // With the lock held: the walk is to hand over the subfolders of a folder at this level
    // or deeper.
    void askForSubtrees(std::size_t level)
    {
        m_subtreeLevel.store(level, std::memory_order_relaxed);
        m_wantsSubtree.store(true, std::memory_order_relaxed);
    }

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

// How many sibling subtrees the subtree reader is given at a time, at most.
constexpr std::size_t MaxRun = 64;

// One folder of the walk whose subfolders are still to be walked.
struct PendingFolder
{
    std::string path; // ends in "\"
    Place place;
    struct Subfolder
    {
        std::string name;
        std::uint32_t index; // in the scan
        FolderId id;
    };
    std::vector<Subfolder> subfolders;
    std::size_t next = 0;
    std::size_t handedOver = 0; // subfolders before this one went to the subtree reader
};

} // namespace

SearchSummary FindFiles(FileSystem& files, const std::string& folder, const std::string& name,
                        SearchObserver& observer, const StopRequest* stop, unsigned readAhead,
                        std::chrono::microseconds slowRead)
{
    SearchSummary summary;
    FolderIdSet seen;
    std::vector<PendingFolder> pending; // one per level below the root that is being walked
    const std::unique_ptr<FolderScanner> scanner = files.folderScanner(name);
    FolderReader reader(*scanner, readAhead, 256, slowRead);

    auto stopRequested = [&] {
        if (stop != nullptr && stop->requested()) {
            summary.stopped = true;
            return true;
        }
        return false;
    };

    // Reads one folder: reports its subfolders (the caption count) and its matches, and
    // remembers the subfolders that are to be walked.
    auto readFolder = [&](std::string path, Place place, const FolderId& known) {
        ReadResult read = reader.take(place, path, known);
        if (read.error) {
            try {
                std::rethrow_exception(read.error);
            } catch (const OperationError& error) {
                // A folder removed since its parent was listed is gone, not unreadable: it
                // is passed over untold. Only a root that is not there is told.
                if (!place.empty() && dynamic_cast<const FolderGone*>(&error))
                    return;
                if (summary.foldersPassedOver++ == 0)
                    summary.firstPassedOver = error.what();
                observer.folderPassedOver(error);
                return;
            }
        }
        FolderScan& scan = read.scan;
        ++summary.foldersRead;
        // Known already for every folder but the root (and one whose identity its parent's
        // read could not give): a link back up to it is then not walked again either.
        if (place.empty() || !(scan.folder == known))
            seen.insert(scan.folder);

        PendingFolder next{std::move(path), std::move(place), {}, 0};
        next.subfolders.reserve(scan.subfolders.size());
        for (std::size_t i = 0; i < scan.subfolders.size(); ++i) {
            observer.subfolderFound(i + 1);
            const FolderId id = i < scan.subfolderIds.size() ? scan.subfolderIds[i] : FolderId{};
            if (seen.insert(id)) {
                next.subfolders.push_back(
                    {std::move(scan.subfolders[i]), static_cast<std::uint32_t>(i), id});
            } else {
                ++summary.repeatsSkipped;
                Place skipped = next.place;
                skipped.push_back(static_cast<std::uint32_t>(i));
                reader.forget(skipped);
            }
        }
        for (const std::string& match : scan.matches) {
            ++summary.matches;
            observer.matchFound(next.path + match);
        }
        if (!next.subfolders.empty())
            pending.push_back(std::move(next));
    };

    if (stopRequested())
        return summary;
    readFolder(withTrailingSeparator(folder), Place{}, FolderId{});

    while (!pending.empty()) {
        if (stopRequested())
            break;
        PendingFolder& top = pending.back();
        if (top.next == top.subfolders.size()) {
            pending.pop_back();
            continue;
        }
        // The subtree reader is given the nearest subtrees that the walk enters after the one
        // it enters next, the deepest level's next siblings: the walk soon reaches what it
        // read, so little waits read ahead, and what the two read side by side is balanced.
        if (reader.wantsSubtree()) {
            const std::size_t shallowest = reader.subtreeLevel();
            for (std::size_t level = pending.size(); level-- > shallowest;) {
                PendingFolder& folder = pending[level];
                const std::size_t first = std::max(
                    folder.next + (level + 1 == pending.size() ? 1 : 0), folder.handedOver);
                if (first >= folder.subfolders.size())
                    continue;
                const std::size_t end = std::min(folder.subfolders.size(), first + MaxRun);
                std::vector<FolderReader::Subtree> run;
                run.reserve(end - first);
                for (std::size_t i = first; i < end; ++i) {
                    const PendingFolder::Subfolder& given = folder.subfolders[i];
                    Place place = folder.place;
                    place.push_back(given.index);
                    run.push_back({std::move(place), folder.path + given.name + '\\', given.id});
                }
                reader.handOver(std::move(run));
                folder.handedOver = end;
                break;
            }
        }
        PendingFolder::Subfolder& subfolder = top.subfolders[top.next++];
        std::string child = top.path;
        child += subfolder.name;
        child += '\\';
        // The name is no longer needed; freeing it keeps the memory to the unwalked part.
        std::string().swap(subfolder.name);
        Place place = top.place;
        place.push_back(subfolder.index);
        const FolderId known = subfolder.id;
        readFolder(std::move(child), std::move(place),
                   known); // may add to pending: `top` is unused after
    }
    return summary;
}

BatchingObserver::BatchingObserver(Deliver deliver, Clock::duration interval)
    : m_deliver(std::move(deliver)), m_interval(interval), m_last(Clock::now())
{
}

void BatchingObserver::subfolderFound(std::uint64_t count)
{
    m_count = count;
    m_countChanged = true;
    m_anything = true;
    deliverWhenDue();
}

void BatchingObserver::matchFound(const std::string& entry)
{
    m_pending.matches.push_back(entry);
    m_anything = true;
    deliverWhenDue();
}

void BatchingObserver::folderPassedOver(const OperationError&)
{
    ++m_pending.foldersPassedOver;
    m_anything = true;
    deliverWhenDue();
}

void BatchingObserver::deliverWhenDue()
{
    if (m_interval.count() <= 0) {
        flush();
        return;
    }
    const Clock::time_point now = Clock::now();
    if (now - m_last >= m_interval) {
        flush();
        m_last = now;
    }
}

void BatchingObserver::flush()
{
    if (!m_anything)
        return;
    if (m_countChanged)
        m_pending.caption = std::to_string(m_count);
    SearchBatch batch = std::move(m_pending);
    m_pending = SearchBatch{};
    m_countChanged = false;
    m_anything = false;
    m_deliver(std::move(batch));
}

} // namespace velmoran
