// The readability test of Drive1's drives on a thread of its own, waited for within a limit
// in an event loop of the window's thread.
#include "app/TimedDrives.h"

#include "core/OperationError.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <exception>
#include <mutex>
#include <thread>

namespace velmoran {

struct TimedDrives::Test
{
    std::mutex mutex;
    bool done = false;
    std::exception_ptr error;
    QEventLoop* loop = nullptr; // the window thread's, while it waits
};

void TimedDrives::testReadable(const std::string& driveName)
{
    if (const auto earlier = m_unanswered.find(driveName); earlier != m_unanswered.end()) {
        const std::lock_guard lock(earlier->second->mutex);
        if (!earlier->second->done)
            throw OperationError("read the drive", {driveName}, notAnsweredReason(m_limit));
        m_unanswered.erase(earlier);
    }
    const auto test = std::make_shared<Test>();
    QEventLoop loop;
    test->loop = &loop;
    std::thread([test, &drives = m_drives, driveName] {
        const ThreadLeftBehind counted;
        std::exception_ptr error;
        try {
            drives.testReadable(driveName);
        } catch (...) {
            error = std::current_exception();
        }
        {
            const std::lock_guard lock(test->mutex);
            test->done = true;
            test->error = error;
        }
        // The loop is looked at on the window's thread, where it is also cleared.
        if (QCoreApplication* app = QCoreApplication::instance())
            QMetaObject::invokeMethod(
                app,
                [test] {
                    if (test->loop)
                        test->loop->quit();
                },
                Qt::QueuedConnection);
    }).detach();
    QTimer::singleShot(m_limit, &loop, &QEventLoop::quit);
    {
        std::unique_lock lock(test->mutex);
        if (!test->done) {
            lock.unlock();
            loop.exec();
        }
    }
    test->loop = nullptr;
    const std::lock_guard lock(test->mutex);
    if (!test->done) {
        m_unanswered[driveName] = test;
        throw OperationError("read the drive", {driveName}, notAnsweredReason(m_limit));
    }
    if (test->error)
        std::rethrow_exception(test->error);
}

} // namespace velmoran
