#include "app/Controller.h"
#include "platform/PlatformServices.h"
#include "ui/MainWindow.h"
#include "ui/Widgets.h"

#include <QApplication>

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
    return QApplication::exec();
}
