#include "app/Controller.h"
#include "app/SearchRunner.h"
#include "core/TimeLimitedScanner.h"
#include "platform/PlatformServices.h"
#include "ui/MainWindow.h"
#include "ui/Widgets.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velmoran"));
    QApplication::setApplicationVersion(QStringLiteral(VELMORAN_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.example.velmoran"));
    // No application-wide icon: the main and Options windows carry the program icon, the
    // About window none of its own.
    velmoran::useDesignFont();

    const std::unique_ptr<velmoran::PlatformServices> services = velmoran::createPlatformServices();
    velmoran::Controller controller(services->platform());
    controller.mainWindow()->show();
    velmoran::centreOnScreen(controller.mainWindow()); // again, now that the frame is known
    const int status = QApplication::exec();
    // A read of a folder or drive that never answered (a dead network or FUSE mount) may still
    // hold a thread; it uses the platform's services when the read returns, so they are not
    // torn down under it: the program ends here, at once. Nothing is lost so: every command
    // has written what it writes before it returned, and nothing is kept for the next run.
    if (velmoran::SearchRunner::joinEndedWalks() > 0 || velmoran::ThreadLeftBehind::count() > 0) {
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}
