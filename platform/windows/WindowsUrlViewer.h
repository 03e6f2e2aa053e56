#pragma once

#include "core/ProgramStarter.h"

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace velmoran {

// Opens an Internet shortcut file with the program Windows has for it (the desktop's
// browser), through ShellExecuteExW. The old "rundll32.exe shdocvw.dll,OpenURL" viewer is
// gone from current Windows. The file is deleted once the viewer has ended (or after a
// minute at most), at the next click for another file, and at the latest when this
// object goes at program end.
class WindowsUrlViewer : public UrlViewer
{
public:
    WindowsUrlViewer() = default;
    ~WindowsUrlViewer() override;
    WindowsUrlViewer(const WindowsUrlViewer&) = delete;
    WindowsUrlViewer& operator=(const WindowsUrlViewer&) = delete;

    void openShortcut(const std::string& shortcutFile, const std::string& address) override;

private:
    // Ends the wait for the pending file: deletes it, or leaves it when it was written
    // anew for the click under way.
    void endPending(bool deleteFile);

    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    bool m_deleteOnStop = true;
    std::string m_pending;
    std::thread m_cleaner;
};

} // namespace velmoran
