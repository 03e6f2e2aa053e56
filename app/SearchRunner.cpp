#include "app/SearchRunner.h"

#include <QMetaObject>

#include <exception>
#include <utility>

#if defined(__linux__)
#include <sys/resource.h>
#include <unistd.h>
#elif defined(_WIN32)
#include <windows.h>
#endif

namespace velmoran {

namespace {

// The walk gives way to the window's thread, so that the window stays responsive when the
// walk and its read-ahead keep every processor busy. On Linux the read-ahead threads that
// the walk starts inherit this.
void giveWayToTheWindow()
{
#if defined(__linux__)
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 10);
#elif defined(_WIN32)
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
#endif
}

} // namespace

SearchRunner::SearchRunner(FileSystem& files, BatchHandler onBatch, EndHandler onEnd,
                           QObject* parent)
    : QObject(parent), m_files(files), m_onBatch(std::move(onBatch)), m_onEnd(std::move(onEnd))
{
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
        m_timing.walkBegan = std::chrono::steady_clock::now();
        giveWayToTheWindow();
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
}

} // namespace velmoran
