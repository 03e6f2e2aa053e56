// The walk's read-ahead readers: once the walk's own reads turn slow, threads of their own
// read the folders that come next in the walk's order and keep them until the walk takes
// them, so that the reads of a cold disk overlap.
#include "core/FolderReader.h"

#include <utility>

namespace velmoran {

FolderReader::FolderReader(FolderScanner& scanner, unsigned threads, std::size_t window,
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

FolderReader::~FolderReader()
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

ReadResult FolderReader::take(const Place& place, const std::string& path, const FolderId& known)
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

void FolderReader::forget(const Place& place)
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
    for (auto it = m_done.lower_bound(place); it != m_done.end() && isBelowOrAt(it->first, place);)
        it = m_done.erase(it);
    for (auto it = m_reading.lower_bound(place); it != m_reading.end() && isBelowOrAt(*it, place);
         ++it)
        m_forgotten.insert(*it);
    const bool freed = m_done.size() != before;
    lock.unlock();
    if (freed)
        m_work.notify_all(); // there may be room again
}

ReadResult FolderReader::read(const std::string& path, const FolderId& known)
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
void FolderReader::startWhenSlow(std::chrono::nanoseconds took)
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

void FolderReader::wakeReaders(std::size_t count)
{
    if (count >= m_readerCount)
        m_work.notify_all();
    else
        for (std::size_t i = 0; i < count; ++i)
            m_work.notify_one();
}

// With the lock held. Gives how many subfolders are now waiting to be read.
std::size_t FolderReader::offerSubfolders(const Place& place, const std::string& path,
                                          const FolderScan& scan)
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

void FolderReader::work()
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

} // namespace velmoran
