// The walk's subtree reader: from the start of a walk, one thread reads whole subtrees that
// the walk enters soon after the one it is in, in the walk's order, so that a warm walk
// uses two processors; the read-ahead readers take over once reads turn slow.
#include "core/FolderReader.h"

#include <utility>

namespace velmoran {

void FolderReader::handOver(std::vector<Subtree> run)
{
    {
        std::lock_guard lock(m_mutex);
        m_handed = std::move(run);
        m_newRun = true;
        m_wantsSubtree.store(false, std::memory_order_relaxed);
    }
    m_subtreeWork.notify_all();
}

// The subtree reader: reads the subtrees it is handed, each in the walk's own order (depth
// first, subfolders in listing order), into the folders read ahead, until the walk
// catches up with it. Subtrees handed over while it reads are nearer the walk: it reads
// them first and then goes on where it was, unless the walk has come there meanwhile.
// At most SubtreeWindow folders wait read ahead, half of it while it asks for nearer
// ones. Folders it meets a second time are left to the walk, so are those the walk
// reaches first.
void FolderReader::walkSubtrees()
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
            run.stack.push_back({std::move(first.place), Waiting{std::move(first.path), first.id}});
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
void FolderReader::askForSubtrees(std::size_t level)
{
    m_subtreeLevel.store(level, std::memory_order_relaxed);
    m_wantsSubtree.store(true, std::memory_order_relaxed);
}

} // namespace velmoran
