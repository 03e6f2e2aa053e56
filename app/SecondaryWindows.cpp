#include "app/SecondaryWindows.h"

#include "core/ExcelFolders.h"
#include "ui/Widgets.h"

#include <utility>

namespace velmoran {

namespace {

// Shows a window that is not open yet, centred with its frame, or brings the open one to
// the front where it stands.
void bringToFront(QWidget* window, bool fresh)
{
    if (window->isMinimized())
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    if (fresh)
        centreOnScreen(window); // again, now that the frame is known
    window->raise();
    window->activateWindow();
}

} // namespace

SecondaryWindows::SecondaryWindows(CommandRunner runCommand, QObject* parent)
    : QObject(parent), m_runCommand(std::move(runCommand))
{
}

SecondaryWindows::~SecondaryWindows()
{
    delete m_options.data();
    delete m_about.data();
}

void SecondaryWindows::openOptions()
{
    const bool fresh = !m_options;
    if (fresh) {
        // No owner: the window stands on its own beside the main window. Closing it
        // destroys it with its controls.
        m_options = new OptionsWindow;
        m_options->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_options, &OptionsWindow::createClicked, this,
                [this] { m_runCommand(createExcelFolders); });
        connect(m_options, &OptionsWindow::deleteClicked, this,
                [this] { m_runCommand(deleteExcelFolders); });
    }
    bringToFront(m_options, fresh);
}

void SecondaryWindows::openAbout()
{
    const bool fresh = !m_about;
    if (fresh) {
        m_about = new AboutWindow;
        m_about->setAttribute(Qt::WA_DeleteOnClose);
    }
    bringToFront(m_about, fresh);
}

} // namespace velmoran
