#include "platform/windows/WindowsUrlViewer.h"

#include "core/OperationError.h"
#include "core/PathRules.h"
#include "platform/windows/WindowsText.h"

#include <shellapi.h>

#include <chrono>

namespace velmoran {

namespace {

constexpr auto LongestWait = std::chrono::seconds(60);
constexpr auto PollInterval = std::chrono::milliseconds(250);

void deleteShortcut(const std::string& path)
{
    ::DeleteFileW(filePath(path).c_str());
}

} // namespace

WindowsUrlViewer::~WindowsUrlViewer()
{
    endPending(true);
}

void WindowsUrlViewer::endPending(bool deleteFile)
{
    if (!m_cleaner.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
        m_deleteOnStop = deleteFile;
    }
    m_wake.notify_all();
    m_cleaner.join();
    m_pending.clear();
}

void WindowsUrlViewer::openShortcut(const std::string& shortcutFile, const std::string& address)
{
    // The file of an earlier click: when it is this same file, it has just been written
    // again and must stay; another one is not needed any more.
    endPending(!equalsIgnoreCase(m_pending, shortcutFile));

    const std::wstring file = filePath(shortcutFile);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.lpVerb = L"open";
    info.lpFile = file.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!::ShellExecuteExW(&info)) {
        const DWORD error = ::GetLastError();
        deleteShortcut(shortcutFile);
        throw OperationError("open the web address " + address, {shortcutFile},
                             systemReason(error));
    }

    // Wait in the background until the viewer has ended, then delete the file.
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stop = false;
    m_deleteOnStop = true;
    m_pending = shortcutFile;
    m_cleaner = std::thread([this, path = shortcutFile, process = info.hProcess] {
        const auto deadline = std::chrono::steady_clock::now() + LongestWait;
        bool remove = true;
        {
            std::unique_lock<std::mutex> wait(m_mutex);
            while (!m_stop && std::chrono::steady_clock::now() < deadline) {
                if (process && ::WaitForSingleObject(process, 0) == WAIT_OBJECT_0)
                    break;
                m_wake.wait_for(wait, PollInterval);
            }
            if (m_stop)
                remove = m_deleteOnStop;
        }
        if (process)
            ::CloseHandle(process);
        if (remove)
            deleteShortcut(path);
    });
}

} // namespace velmoran
