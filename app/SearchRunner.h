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
    ~SearchRunner() override; // stops a walk under way and waits for its thread

    // Starts walking root for `name`. A walk under way is stopped first: none of its
    // reports arrives after this call.
    void start(const std::string& root, const std::string& name = PatchFileName);
    // Stops a walk under way and waits for its thread (promptly: the walk looks at the
    // request before every folder). None of its reports arrives after this call.
    void stop();
    bool running() const { return m_running; }

    void setInterval(std::chrono::milliseconds interval) { m_interval = interval; }

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
    void deliverEnd(unsigned run, const SearchSummary& summary, const std::string& failure);

    FileSystem& m_files;
    BatchHandler m_onBatch;
    EndHandler m_onEnd;
    std::chrono::milliseconds m_interval{40};
    std::thread m_thread;
    std::shared_ptr<StopRequest> m_stop;
    unsigned m_run = 0; // reports of earlier runs are dropped
    bool m_running = false;
    Timing m_timing;
};

} // namespace velmoran
