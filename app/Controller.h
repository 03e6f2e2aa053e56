#pragma once

#include "app/SearchRunner.h"
#include "app/SecondaryWindows.h"
#include "app/TimedDrives.h"
#include "core/CommandContext.h"
#include "ui/MainWindow.h"
#include "ui/QtMainWindowControls.h"
#include "ui/QtUserMessages.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

namespace velmoran {


// Binds the windows' events to the core's commands, and is the one place where a failed
// operation becomes a message box.
class Controller : public QObject
{
    Q_OBJECT
public:
    // messages: the message box to use; the program's own when null.
    explicit Controller(Platform& platform, UserMessages* messages = nullptr,
                        QObject* parent = nullptr);
    ~Controller() override;

    // The main window, created and bound; null once it has been closed.
    MainWindow* mainWindow() const { return m_mainWindow; }
    // The Find command's walk.
    SearchRunner* searchRunner() const { return m_search.get(); }
    // The Options and About windows.
    SecondaryWindows& secondaryWindows() { return *m_windows; }
    // Drive1's drives, whose readability test gives up after a limit.
    TimedDrives& drives() { return m_drives; }

    // Runs one command to its end. A failing operation ends it with one message box titled
    // "Velmoran" that says what failed; the program goes on running.
    void runCommand(const std::function<void(CommandContext&)>& command);

private:
    TimedDrives m_drives;
    Platform m_platform; // the given one, with m_drives for its drives
    QtUserMessages m_ownMessages;
    UserMessages& m_messages;
    QPointer<MainWindow> m_mainWindow;
    std::unique_ptr<QtMainWindowControls> m_controls;
    std::unique_ptr<SearchRunner> m_search; // the Find command's walk, off this thread
    std::unique_ptr<SecondaryWindows> m_windows;
};

} // namespace velmoran
