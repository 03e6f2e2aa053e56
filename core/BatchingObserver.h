// Hands the walk's reports to the window in batches: at most one batch per interval while
// the walk goes on.
#pragma once

#include "core/PatchSearch.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace velmoran {

// What a batch of the walk's reports hands to the window.
struct SearchBatch
{
    std::vector<std::string> matches;    // new entries for List1, in walk order
    std::string caption;                 // the last progress caption, empty when none was set
    std::uint64_t foldersPassedOver = 0; // in this batch
};

// Collects the walk's reports and hands them over in batches, at most one batch per
// interval while the walk goes on (an interval of zero hands over every report alone).
// flush() hands over whatever is still pending; call it when the walk has ended.
class BatchingObserver : public SearchObserver
{
public:
    using Clock = std::chrono::steady_clock;
    using Deliver = std::function<void(SearchBatch&&)>;

    BatchingObserver(Deliver deliver, Clock::duration interval);

    void subfolderFound(std::uint64_t count) override;
    void matchFound(const std::string& entry) override;
    void folderPassedOver(const OperationError& error) override;
    // Hands over what is pending at once: the walk may wait a while for its next read.
    void waiting() override { flush(); }
    void flush();

private:
    void deliverWhenDue();

    Deliver m_deliver;
    Clock::duration m_interval;
    Clock::time_point m_last;
    SearchBatch m_pending;
    std::uint64_t m_count = 0;
    bool m_countChanged = false;
    bool m_anything = false;
};

} // namespace velmoran
