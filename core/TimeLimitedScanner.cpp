// Folder reads within a time limit: each on a helper thread of the calling thread's, which is
// left blocked when its read does not answer, and the program-wide list of such reads.
#include "core/TimeLimitedScanner.h"

#include <algorithm>
#include <condition_variable>
#include <exception>

namespace velmoran {

namespace {

// A read that did not answer and is still blocked.
struct BlockedRead
{
    std::uint64_t ticket;
    std::string folder;
    FolderId known;
    bool deviceSure; // known.device is the folder's own
};

// Never freed: a blocked read may return while the program ends.
std::mutex& blockedMutex()
{
    static auto* mutex = new std::mutex;
    return *mutex;
}
std::vector<BlockedRead>& blockedList()
{
    static auto* list = new std::vector<BlockedRead>;
    return *list;
}
// The folders being read now, each once for every read of it under way.
std::vector<std::string>& readsUnderWay()
{
    static auto* list = new std::vector<std::string>;
    return *list;
}
// Told when a read ends, answered or not.
std::condition_variable& readEnded()
{
    static auto* ended = new std::condition_variable;
    return *ended;
}

void forgetReadUnderWay(const std::string& folder)
{
    std::vector<std::string>& reads = readsUnderWay();
    const auto read = std::find(reads.begin(), reads.end(), folder);
    if (read != reads.end()) {
        *read = std::move(reads.back());
        reads.pop_back();
    }
}

// The read of the folder has answered.
void noteEnded(const std::string& folder)
{
    {
        const std::lock_guard lock(blockedMutex());
        forgetReadUnderWay(folder);
    }
    readEnded().notify_all();
}

std::uint64_t noteBlocked(const std::string& folder, const FolderId& known, bool deviceSure)
{
    static std::uint64_t tickets = 0;
    std::uint64_t ticket = 0;
    {
        const std::lock_guard lock(blockedMutex());
        forgetReadUnderWay(folder);
        ticket = ++tickets;
        blockedList().push_back({ticket, folder, known, deviceSure});
    }
    readEnded().notify_all();
    return ticket;
}

void noteAnswered(std::uint64_t ticket)
{
    {
        const std::lock_guard lock(blockedMutex());
        std::erase_if(blockedList(),
                      [&](const BlockedRead& read) { return read.ticket == ticket; });
    }
    readEnded().notify_all();
}

} // namespace

struct TimeLimitedScanner::Helper
{
    enum class State
    {
        Idle,
        Asked,
        Answered,
        Quit
    };
    std::mutex mutex;
    std::condition_variable asked, answered;
    State state = State::Idle;
    std::string folder;
    FolderId known;
    FolderScan scan;
    std::exception_ptr error;
    std::atomic<std::uint64_t> diskBytes{0}; // what its thread has read from the disk
    std::uint64_t ticket = 0;                // set when its read did not answer in time
    std::thread thread;
};

namespace {

using Helper = TimeLimitedScanner::Helper;

// How long a read may take before the walk is told that it waits.
constexpr std::chrono::milliseconds Moment{40};

// A helper's thread: reads what it is asked, until it is told to end or its read did not
// answer in time; then it ends as soon as that read returns.
void helpOut(std::shared_ptr<Helper> given, std::shared_ptr<FolderScanner> givenScanner)
{
    const ThreadLeftBehind counted;
    // Released before `counted`: the program ends at once only when no such thread is left.
    const std::shared_ptr<Helper> helper = std::move(given);
    const std::shared_ptr<FolderScanner> scanner = std::move(givenScanner);
    std::unique_lock lock(helper->mutex);
    for (;;) {
        helper->asked.wait(lock, [&] {
            return helper->state == Helper::State::Asked || helper->state == Helper::State::Quit;
        });
        if (helper->state == Helper::State::Quit)
            return;
        lock.unlock();
        try {
            scanner->scan(helper->folder, helper->known, helper->scan);
        } catch (...) {
            helper->error = std::current_exception();
        }
        if (const std::optional<std::uint64_t> bytes = scanner->diskBytesRead())
            helper->diskBytes.store(*bytes, std::memory_order_relaxed);
        lock.lock();
        if (helper->ticket != 0) {
            noteAnswered(helper->ticket);
            return;
        }
        helper->state = Helper::State::Answered;
        helper->answered.notify_one();
    }
}

} // namespace

std::string notAnsweredReason(std::chrono::milliseconds limit)
{
    const auto ms = limit.count();
    return "did not answer within " +
           (ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms");
}

TimeLimitedScanner::TimeLimitedScanner(std::shared_ptr<FolderScanner> scanner,
                                       std::chrono::milliseconds limit,
                                       std::function<void()> onWait)
    : m_scanner(std::move(scanner)), m_limit(limit), m_onWait(std::move(onWait))
{
}

TimeLimitedScanner::~TimeLimitedScanner()
{
    for (const std::unique_ptr<Caller>& caller : m_callers) {
        if (!caller->helper)
            continue;
        {
            const std::lock_guard lock(caller->helper->mutex);
            caller->helper->state = Helper::State::Quit;
        }
        caller->helper->asked.notify_one();
        caller->helper->thread.join(); // idle: every read it was given has answered
    }
}

unsigned TimeLimitedScanner::blockedReads()
{
    const std::lock_guard lock(blockedMutex());
    return static_cast<unsigned>(blockedList().size());
}

unsigned TimeLimitedScanner::readsInProgress()
{
    const std::lock_guard lock(blockedMutex());
    return static_cast<unsigned>(readsUnderWay().size());
}

bool TimeLimitedScanner::waitUntilNoneBlocked(std::chrono::milliseconds within)
{
    std::unique_lock lock(blockedMutex());
    return readEnded().wait_for(lock, within, [] { return blockedList().empty(); });
}

TimeLimitedScanner::Caller& TimeLimitedScanner::caller()
{
    const std::thread::id self = std::this_thread::get_id();
    const std::lock_guard lock(m_mutex);
    for (const std::unique_ptr<Caller>& caller : m_callers)
        if (caller->thread == self)
            return *caller;
    m_callers.push_back(std::make_unique<Caller>());
    m_callers.back()->thread = self;
    return *m_callers.back();
}

// Raises the error of a folder that is not to be tried: its read is blocked already, or its
// file system holds blocked reads when there are as many as may be. A read of the folder
// under way on another thread (one read ahead) is waited for first, so that a folder is
// never read twice at once, nor left blocked twice. Else notes the folder's read under way.
void TimeLimitedScanner::passOverUntried(const std::string& folder, const FolderId& known)
{
    const bool deviceSure = known.device != 0 && !m_scanner->mayBeMountPoint(known);
    std::unique_lock lock(blockedMutex());
    std::vector<std::string>& underWay = readsUnderWay();
    if (std::find(underWay.begin(), underWay.end(), folder) != underWay.end() &&
        !readEnded().wait_for(lock, m_limit, [&] {
            return std::find(underWay.begin(), underWay.end(), folder) == underWay.end();
        }))
        throw OperationError("read the folder", {folder}, notAnsweredReason(m_limit));
    const std::vector<BlockedRead>& blocked = blockedList();
    for (const BlockedRead& read : blocked)
        if (read.folder == folder || (!(known == FolderId{}) && read.known == known))
            throw OperationError("read the folder", {folder}, notAnsweredReason(m_limit));
    for (const BlockedRead& read : blocked) {
        if (blocked.size() < MaxBlockedReads || !deviceSure || !read.deviceSure ||
            read.known.device != known.device)
            continue;
        const std::lock_guard own(m_mutex);
        const bool told = std::find(m_devicesTold.begin(), m_devicesTold.end(), known.device) ==
                          m_devicesTold.end();
        if (told)
            m_devicesTold.push_back(known.device);
        throw FileSystemStoppedAnswering(folder, read.folder, told);
    }
    underWay.push_back(folder);
}

void TimeLimitedScanner::scan(const std::string& folder, const FolderId& known, FolderScan& result)
{
    if (m_scanner->surelyAnswers(known)) {
        m_scanner->scan(folder, known, result);
        return;
    }
    passOverUntried(folder, known);
    Caller* caller = nullptr;
    try {
        caller = &this->caller();
        if (!caller->helper) {
            caller->helper = std::make_shared<Helper>();
            caller->helper->thread = std::thread(helpOut, caller->helper, m_scanner);
        }
    } catch (...) {
        if (caller)
            caller->helper.reset(); // without a thread
        noteEnded(folder);          // never read: not under way any more
        throw;
    }
    Caller& me = *caller;
    Helper& helper = *me.helper;
    std::unique_lock lock(helper.mutex);
    helper.folder = folder;
    helper.known = known;
    helper.error = nullptr;
    helper.state = Helper::State::Asked;
    helper.asked.notify_one();
    const auto deadline = std::chrono::steady_clock::now() + m_limit;
    const auto answered = [&] { return helper.state == Helper::State::Answered; };
    if (m_onWait && std::this_thread::get_id() == m_owner && m_limit > Moment &&
        !helper.answered.wait_for(lock, Moment, answered)) {
        lock.unlock();
        m_onWait();
        lock.lock();
    }
    if (!helper.answered.wait_until(lock, deadline, answered)) {
        // Left to end by itself: it holds the helper and the scanner until its read returns.
        helper.ticket =
            noteBlocked(folder, known, known.device != 0 && !m_scanner->mayBeMountPoint(known));
        helper.thread.detach();
        lock.unlock();
        me.diskBytesBefore += helper.diskBytes.load(std::memory_order_relaxed);
        me.helper.reset();
        throw OperationError("read the folder", {folder}, notAnsweredReason(m_limit));
    }
    helper.state = Helper::State::Idle;
    std::swap(result, helper.scan);
    const std::exception_ptr error = std::exchange(helper.error, nullptr);
    lock.unlock();
    noteEnded(folder);
    if (error)
        std::rethrow_exception(error);
}

std::optional<std::uint64_t> TimeLimitedScanner::diskBytesRead()
{
    const std::optional<std::uint64_t> own = m_scanner->diskBytesRead(); // this thread's reads
    if (!own)
        return std::nullopt;
    const Caller& me = caller();
    return *own + me.diskBytesBefore +
           (me.helper ? me.helper->diskBytes.load(std::memory_order_relaxed) : 0);
}

} // namespace velmoran
