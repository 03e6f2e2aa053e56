// Hands the walk's reports to the window in batches, so that a walk that finds much does not
// flood the window's thread.
#include "core/BatchingObserver.h"

#include <utility>

namespace velmoran {

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
