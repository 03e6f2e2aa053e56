#include "app/SearchRunner.h"

#include <QMetaObject>

#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

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

// The threads of stopped walks, joined once they have ended, so that none is still on its way
// out when the program ends (Qt keeps data for every thread that posted to it). Never freed:
// a walk may end while the program does.
struct LetGo
{
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> ended;
};
std::mutex& letGoMutex()
{
    static auto* mutex = new std::mutex;
    return *mutex;
}
std::vector<LetGo>& letGo()
{
    static auto* threads = new std::vector<LetGo>;
    return *threads;
}

// Set when the walk's thread has done all it does.
struct EndedFlag
{
    std::atomic<bool>& ended;
    ~EndedFlag() { ended.store(true); }
};

} // namespace

struct SearchRunner::Walk
{
    StopRequest stop;
    std::mutex mutex;
    SearchRunner* runner; // null once the walk is stopped
    std::shared_ptr<std::atomic<bool>> ended = std::make_shared<std::atomic<bool>>(false);

    // Queues call(runner) on the runner's thread, unless the walk has been stopped.
    template <typename Call> void post(Call call)
    {
        const std::lock_guard lock(mutex);
        if (runner)
            QMetaObject::invokeMethod(
                runner, [runner = runner, call = std::move(call)]() mutable { call(runner); },
                Qt::QueuedConnection);
    }
};

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
    m_walk = std::make_shared<Walk>();
    m_walk->runner = this;
    m_running = true;
    m_timing = Timing{};
    m_timing.started = std::chrono::steady_clock::now();
    joinEndedWalks();
    m_thread = std::thread([&files = m_files, walk = m_walk, run, root, name, interval = m_interval,
                            answerLimit = m_answerLimit, ended = m_walk->ended] {
        const EndedFlag endedFlag{*ended};
        const ThreadLeftBehind counted;
        // The walk runs at the window's own priority: the user is waiting for it, and it
        // hands the window its reports in a few batches a second, so the window stays
        // responsive without the walk giving way to every other process.
        Timing timing;
        timing.walkBegan = std::chrono::steady_clock::now();
        // Everything reaches the window's thread through its event queue; a report of a
        // run that has been stopped meanwhile is dropped there.
        BatchingObserver observer(
            [&walk, run](SearchBatch&& batch) {
                auto shared = std::make_shared<SearchBatch>(std::move(batch));
                walk->post([run, shared](SearchRunner* runner) {
                    runner->deliverBatch(run, std::move(*shared));
                });
            },
            interval);
        SearchSummary summary;
        std::string failure;
        try {
            summary = FindFiles(files, root, name, observer, &walk->stop, DefaultReadAhead,
                                DefaultSlowRead, answerLimit);
        } catch (const std::exception& error) {
            failure = error.what();
        }
        // A stopped walk ends at once: nobody waits for it.
        if (walk->stop.requested())
            return;
        observer.flush();
        timing.walkEnded = std::chrono::steady_clock::now();
        walk->post([run, summary, failure, timing](SearchRunner* runner) {
            runner->deliverEnd(run, summary, failure, timing);
        });
    });
}

void SearchRunner::stop()
{
    ++m_run; // whatever the stopped run has queued is dropped
    m_running = false;
    if (!m_walk)
        return;
    m_walk->stop.request();
    {
        const std::lock_guard lock(m_walk->mutex);
        m_walk->runner = nullptr;
    }
    if (m_thread.joinable()) { // it may be blocked in a read that never answers
        const std::lock_guard lock(letGoMutex());
        letGo().push_back({std::move(m_thread), m_walk->ended});
    }
    m_walk.reset();
}

unsigned SearchRunner::joinEndedWalks()
{
    const std::lock_guard lock(letGoMutex());
    std::vector<LetGo>& threads = letGo();
    std::erase_if(threads, [](LetGo& walk) {
        if (!walk.ended->load())
            return false;
        walk.thread.join(); // it is on its way out
        return true;
    });
    return static_cast<unsigned>(threads.size());
}

void SearchRunner::deliverBatch(unsigned run, SearchBatch&& batch)
{
    if (run == m_run && m_onBatch)
        m_onBatch(std::move(batch));
}

void SearchRunner::deliverEnd(unsigned run, const SearchSummary& summary,
                              const std::string& failure, const Timing& walkTiming)
{
    if (run != m_run)
        return;
    m_running = false;
    m_walk.reset();
    if (m_thread.joinable())
        m_thread.join(); // it has nothing left to do
    m_timing.walkBegan = walkTiming.walkBegan;
    m_timing.walkEnded = walkTiming.walkEnded;
    if (m_onEnd)
        m_onEnd(summary, failure);
    m_timing.endHandled = std::chrono::steady_clock::now();
    emit ended();
    // Once the walk's thread has ended (its own cache of freed blocks went back with it) and
    // the window has taken the last entries: the user is no longer waiting.
    returnFreedMemory();
}

} // namespace velmoran
