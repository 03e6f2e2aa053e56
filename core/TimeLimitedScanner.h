// Folder reads that may never answer (a dead network or FUSE mount): each read runs on a
// helper thread that is waited for within a limit; one that does not answer is passed over
// and its thread left to end by itself, and a file system that stops answering is given up.
#pragma once

#include "core/FileSystem.h"
#include "core/OperationError.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace velmoran {

// How long a folder read, or the test of a drive, may take before it counts as not answering.
inline constexpr std::chrono::milliseconds DefaultAnswerLimit{10000};
// How many reads that did not answer may be left blocked in the whole program at once; after
// that a file system that holds one of them is given up (its folders are not tried).
inline constexpr unsigned MaxBlockedReads = 4;

// The reason told for what did not answer: "did not answer within 10 s".
std::string notAnsweredReason(std::chrono::milliseconds limit);

// Held by every thread that may outlive what started it (a read that never answered, a
// stopped walk): how many of them are running, in the whole program.
class ThreadLeftBehind
{
public:
    ThreadLeftBehind() { s_count.fetch_add(1); }
    ~ThreadLeftBehind() { s_count.fetch_sub(1); }
    ThreadLeftBehind(const ThreadLeftBehind&) = delete;
    ThreadLeftBehind& operator=(const ThreadLeftBehind&) = delete;
    static unsigned count() { return s_count.load(); }

private:
    static inline std::atomic<unsigned> s_count{0};
};

// A folder of a file system that has stopped answering, passed over without being tried:
// the first of each file system in a walk is told as such, the others silently.
class FileSystemStoppedAnswering : public OperationError
{
public:
    FileSystemStoppedAnswering(const std::string& folder, const std::string& holding, bool told)
        : OperationError("read the folder", {folder},
                         "the file system holding " + holding + " stopped answering"),
          m_told(told)
    {
    }
    bool told() const { return m_told; }

private:
    bool m_told;
};

// Reads every folder through `scanner` on a helper thread (one per calling thread, reused
// while it answers) and waits for it at most `limit`; a folder that the scanner says surely
// answers (a local disk's) is read on the calling thread. A read that does not answer raises an
// OperationError with the reason notAnsweredReason(limit); its thread is left blocked and
// ends by itself when the read returns, keeping the scanner alive until then. A folder whose
// read is still blocked is not tried again; once MaxBlockedReads reads are blocked, every
// folder of a file system (device) that holds one of them is passed over untried.
class TimeLimitedScanner : public FolderScanner
{
public:
    // onWait: called on the thread that made the scanner when one of its reads has not
    // answered within a moment, before it waits on (the walk then shows what it has found).
    TimeLimitedScanner(std::shared_ptr<FolderScanner> scanner, std::chrono::milliseconds limit,
                       std::function<void()> onWait = {});
    ~TimeLimitedScanner() override; // ends the helpers that answered
    TimeLimitedScanner(const TimeLimitedScanner&) = delete;
    TimeLimitedScanner& operator=(const TimeLimitedScanner&) = delete;

    void scan(const std::string& folder, const FolderId& known, FolderScan& result) override;
    // What the calling thread's helpers have read from the disk.
    std::optional<std::uint64_t> diskBytesRead() override;
    bool mayBeMountPoint(const FolderId& known) override
    {
        return m_scanner->mayBeMountPoint(known);
    }
    bool surelyAnswers(const FolderId& known) override { return m_scanner->surelyAnswers(known); }

    // How many reads that did not answer are still blocked, in the whole program.
    static unsigned blockedReads();
    // How many reads are under way, neither answered nor blocked yet, in the whole program.
    static unsigned readsInProgress();
    // Waits until no read is blocked any more; false when some still is after `within`.
    static bool waitUntilNoneBlocked(std::chrono::milliseconds within);

    struct Helper;

private:
    struct Caller
    {
        std::thread::id thread;
        std::shared_ptr<Helper> helper;    // none yet, or its last one did not answer
        std::uint64_t diskBytesBefore = 0; // read by its helpers that did not answer
    };
    Caller& caller();
    void passOverUntried(const std::string& folder, const FolderId& known);

    const std::shared_ptr<FolderScanner> m_scanner;
    const std::chrono::milliseconds m_limit;
    const std::function<void()> m_onWait;
    const std::thread::id m_owner = std::this_thread::get_id();
    std::mutex m_mutex;
    std::vector<std::unique_ptr<Caller>> m_callers;
    std::vector<std::uint64_t> m_devicesTold; // given up in this walk, and told so
};

} // namespace velmoran
