#pragma once

#include "core/BatchingObserver.h"
#include "core/FileSystem.h"

#include <QObject>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace velmoran {

// Runs the drive walk on a thread of its own and hands its reports to the window's thread
// in batches, at most one batch per interval, so that the window stays responsive and
// repaints a few dozen times a second at most.
class SearchRunner : public QObject
{
    Q_OBJECT
public:
    using BatchHandler = std::function<void(SearchBatch&&)>;
    // failure: empty, or the text of an unexpected error that ended the walk early.
    using EndHandler = std::function<void(const SearchSummary&, const std::string& failure)>;

    // The handlers run on the thread this object lives on, never for a stopped walk.
    SearchRunner(FileSystem& files, BatchHandler onBatch, EndHandler onEnd,
                 QObject* parent = nullptr);
    ~SearchRunner() override; // stops a walk under way, without waiting for it

    // Starts walking root for `name`. A walk under way is stopped first: none of its
    // reports arrives after this call.
    void start(const std::string& root, const std::string& name = PatchFileName);
    // Stops a walk under way without waiting for its thread, which may be blocked in a read
    // that never answers: it ends by itself (ThreadLeftBehind counts it until then) and owns
    // what it uses, but for the file system, which must outlive it. None of its reports
    // arrives after this call.
    void stop();
    bool running() const { return m_running; }
    // Joins the threads of stopped walks that have ended; gives how many have not, in the
    // whole program.
    static unsigned joinEndedWalks();

    void setInterval(std::chrono::milliseconds interval) { m_interval = interval; }
    // How long the walk waits for a folder read before it passes the folder over.
    void setAnswerLimit(std::chrono::milliseconds limit) { m_answerLimit = limit; }

    // When the last walk's stages happened, for the benchmarks: read them after ended().
    struct Timing
    {
        std::chrono::steady_clock::time_point started;    // start() was called
        std::chrono::steady_clock::time_point walkBegan;  // on the walk's thread
        std::chrono::steady_clock::time_point walkEnded;  // its last batch handed over
        std::chrono::steady_clock::time_point endHandled; // the end handler has run
    };
    const Timing& timing() const { return m_timing; }

signals:
    // A walk has ended by itself and its end handler has run.
    void ended();

private:
    void deliverBatch(unsigned run, SearchBatch&& batch);
    void deliverEnd(unsigned run, const SearchSummary& summary, const std::string& failure,
                    const Timing& walkTiming);

    // What a walk's thread shares with this object: its stop request, and this object while
    // the walk is current, cleared under the lock when it is stopped.
    struct Walk;

    FileSystem& m_files;
    BatchHandler m_onBatch;
    EndHandler m_onEnd;
    std::chrono::milliseconds m_interval{40};
    std::chrono::milliseconds m_answerLimit = DefaultAnswerLimit;
    std::shared_ptr<Walk> m_walk;
    std::thread m_thread; // the current walk's; a stopped walk's is let go
    unsigned m_run = 0;   // reports of earlier runs are dropped
    bool m_running = false;
    Timing m_timing;
};

} // namespace velmoran
