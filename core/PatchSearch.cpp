#include "core/PatchSearch.h"

#include "core/PathRules.h"

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

// One folder of the walk whose subfolders are still to be walked.
struct PendingFolder
{
    std::string path; // ends in "\"
    std::vector<std::string> subfolders;
    std::size_t next = 0;
};

} // namespace

SearchSummary FindFiles(FileSystem& files, const std::string& folder, const std::string& name,
                        SearchObserver& observer, const StopRequest* stop)
{
    SearchSummary summary;
    FolderIdSet seen;
    FolderScan scan;
    std::vector<PendingFolder> pending; // one per level below the root that is being walked

    auto stopRequested = [&] {
        if (stop != nullptr && stop->requested()) {
            summary.stopped = true;
            return true;
        }
        return false;
    };

    // Reads one folder: reports its subfolders (the caption count) and its matches, and
    // remembers the subfolders that are to be walked.
    auto readFolder = [&](std::string path) {
        scan.clear();
        try {
            files.scanFolder(path, name, scan);
        } catch (const OperationError& error) {
            if (summary.foldersPassedOver++ == 0)
                summary.firstPassedOver = error.what();
            observer.folderPassedOver(error);
            return;
        }
        ++summary.foldersRead;
        // Known already for every folder but the root: a link back up to the root is then
        // not walked again either.
        seen.insert(scan.folder);

        PendingFolder next{std::move(path), {}, 0};
        next.subfolders.reserve(scan.subfolders.size());
        for (std::size_t i = 0; i < scan.subfolders.size(); ++i) {
            observer.subfolderFound(i + 1);
            const FolderId id = i < scan.subfolderIds.size() ? scan.subfolderIds[i] : FolderId{};
            if (seen.insert(id))
                next.subfolders.push_back(std::move(scan.subfolders[i]));
            else
                ++summary.repeatsSkipped;
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
    readFolder(withTrailingSeparator(folder));

    while (!pending.empty()) {
        if (stopRequested())
            break;
        PendingFolder& top = pending.back();
        if (top.next == top.subfolders.size()) {
            pending.pop_back();
            continue;
        }
        std::string child = top.path;
        child += top.subfolders[top.next];
        child += '\\';
        // The name is no longer needed; freeing it keeps the memory to the unwalked part.
        std::string().swap(top.subfolders[top.next]);
        ++top.next;
        readFolder(std::move(child)); // may add to pending: `top` is not used after this
    }
    return summary;
}

BatchingObserver::BatchingObserver(Deliver deliver, Clock::duration interval)
    : m_deliver(std::move(deliver))
    , m_interval(interval)
    , m_last(Clock::now())
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
    ++m_delivered;
    m_deliver(std::move(batch));
}

} // namespace velmoran
