// Renders the program's windows to PNG files (offscreen), for the README and for looking
// at what the windows show. Usage: velmoran_screenshots OUTPUT_FOLDER
#include "ui/AboutWindow.h"
#include "ui/MainWindow.h"
#include "ui/OptionsWindow.h"
#include "ui/Widgets.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>

#include <cstdio>
#include <functional>
#include <memory>

namespace {

bool save(QWidget& window, const QString& path)
{
    window.show();
    QApplication::processEvents();
    const bool ok = window.grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    velmoran::useDesignFont();
    const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs"));
    bool ok = true;

    velmoran::MainWindow form;
    form.setDrives({QStringLiteral("c:"), QStringLiteral("d:")}, QStringLiteral("c:"));
    ok = save(form, out.filePath(QStringLiteral("main-window.png"))) && ok;

    velmoran::OptionsWindow options;
    ok = save(options, out.filePath(QStringLiteral("options-window.png"))) && ok;
    velmoran::AboutWindow about;
    ok = save(about, out.filePath(QStringLiteral("about-window.png"))) && ok;

    return ok ? 0 : 1;
}
