#include "app/SearchRunner.h"

#include <QMetaObject>

#include <exception>
#include <utility>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace velmoran {

namespace {

// The walk's threads leave their freed memory with the C library, which keeps it for the
// next walk; handed back, the program returns to its idle size after every Find.
void returnFreedMemory()
{
#if defined(__GLIBC__)
    ::malloc_trim(0);
#endif
}

// The C library raises its threshold for mapping a block of its own to the largest block
// freed so far (the walk's table of folders met, a few MB), and the threshold for handing
// back the free top of a heap to twice that. The walk's tables then come from its thread's
// heap, and up to twice their size stays resident there after every Find: malloc_trim hands
// back only the free pages between blocks of such a heap, never its free top. With both
// thresholds fixed at the library's defaults, big blocks are mapped and unmapped when freed.
void keepBigBlocksMapped()
{
#if defined(__GLIBC__)
    static const bool fixed = [] {
        constexpr int Threshold = 128 * 1024;
        return ::mallopt(M_MMAP_THRESHOLD, Threshold) == 1 &&
               ::mallopt(M_TRIM_THRESHOLD, Threshold) == 1;
    }();
    (void)fixed;
#endif
}

} // namespace

SearchRunner::SearchRunner(FileSystem& files, BatchHandler onBatch, EndHandler onEnd,
                           QObject* parent)
    : QObject(parent), m_files(files), m_onBatch(std::move(onBatch)), m_onEnd(std::move(onEnd))
{
    keepBigBlocksMapped();
}

SearchRunner::~SearchRunner()
{
    stop();
}

void SearchRunner::start(const std::string& root, const std::string& name)
{
    stop();
    const unsigned run = ++m_run;
    m_stop = std::make_shared<StopRequest>();
    m_running = true;
    m_timing = Timing{};
    m_timing.started = std::chrono::steady_clock::now();
    m_thread = std::thread([this, run, root, name, stopRequest = m_stop, interval = m_interval] {
        // The walk runs at the window's own priority: the user is waiting for it, and it
        // hands the window its reports in a few batches a second, so the window stays
        // responsive without the walk giving way to every other process.
        m_timing.walkBegan = std::chrono::steady_clock::now();
        // Everything reaches the window's thread through its event queue; a report of a
        // run that has been stopped meanwhile is dropped there.
        BatchingObserver observer(
            [this, run](SearchBatch&& batch) {
                auto shared = std::make_shared<SearchBatch>(std::move(batch));
                QMetaObject::invokeMethod(
                    this, [this, run, shared] { deliverBatch(run, std::move(*shared)); },
                    Qt::QueuedConnection);
            },
            interval);
        SearchSummary summary;
        std::string failure;
        try {
            summary = FindFiles(m_files, root, name, observer, stopRequest.get());
        } catch (const std::exception& error) {
            failure = error.what();
        }
        // A stopped walk ends at once: the window waits for it, and the next walk reuses
        // what it freed.
        if (stopRequest->requested())
            return;
        observer.flush();
        m_timing.walkEnded = std::chrono::steady_clock::now();
        QMetaObject::invokeMethod(
            this, [this, run, summary, failure] { deliverEnd(run, summary, failure); },
            Qt::QueuedConnection);
    });
}

void SearchRunner::stop()
{
    ++m_run; // whatever the stopped run has queued is dropped
    m_running = false;
    if (m_stop)
        m_stop->request();
    if (m_thread.joinable())
        m_thread.join();
    m_stop.reset();
}

void SearchRunner::deliverBatch(unsigned run, SearchBatch&& batch)
{
    if (run == m_run && m_onBatch)
        m_onBatch(std::move(batch));
}

void SearchRunner::deliverEnd(unsigned run, const SearchSummary& summary,
                              const std::string& failure)
{
    if (run != m_run)
        return;
    m_running = false;
    if (m_thread.joinable())
        m_thread.join(); // it has nothing left to do
    m_stop.reset();
    if (m_onEnd)
        m_onEnd(summary, failure);
    m_timing.endHandled = std::chrono::steady_clock::now();
    emit ended();
    // Once the walk's thread has ended (its own cache of freed blocks went back with it) and
    // the window has taken the last entries: the user is no longer waiting.
    returnFreedMemory();
}

} // namespace velmoran
