// A stand-in file layer whose reads of chosen folders never answer until the test lets them:
// real files, but a read of a folder whose path holds one of the given parts blocks on a latch.
#pragma once

#include "core/OperationError.h"
#include "core/TimeLimitedScanner.h"
#include "support/Recorders.h"

#include <condition_variable>
#include <mutex>

namespace velmoran::testing {

class UnansweringFiles : public ForwardingFiles
{
public:
    UnansweringFiles(FileSystem& files, std::vector<std::string> dead)
        : ForwardingFiles(files), m_dead(std::move(dead))
    {
    }
    // Lets the blocked reads fail and waits until every read that did not answer has ended.
    ~UnansweringFiles() override
    {
        release();
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_blocked == 0; });
        lock.unlock();
        TimeLimitedScanner::waitUntilNoneBlocked(std::chrono::seconds(60));
    }

    void scanFolder(S folder, S name, FolderScan& result) override
    {
        for (const std::string& dead : m_dead)
            if (folder.find(dead) != std::string::npos) {
                std::unique_lock lock(m_mutex);
                ++m_blocked;
                ++m_tried;
                m_changed.notify_all();
                m_changed.wait(lock, [&] { return m_released; });
                --m_blocked;
                m_changed.notify_all();
                throw OperationError("read the folder", {folder}, "Input/output error");
            }
        real.scanFolder(folder, name, result);
    }

    // Waits until `count` reads are blocked at once.
    void waitUntilBlocked(unsigned count)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_blocked >= count; });
    }
    void release()
    {
        const std::lock_guard lock(m_mutex);
        m_released = true;
        m_changed.notify_all();
    }
    // How many reads of dead folders were tried, blocked now.
    unsigned tried()
    {
        const std::lock_guard lock(m_mutex);
        return m_tried;
    }
    unsigned blocked()
    {
        const std::lock_guard lock(m_mutex);
        return m_blocked;
    }

private:
    std::vector<std::string> m_dead;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    unsigned m_blocked = 0, m_tried = 0;
    bool m_released = false;
};

} // namespace velmoran::testing
