#include "app/Controller.h"

#include "core/FindCommand.h"
#include "core/LaunchCommand.h"
#include "core/OperationError.h"
#include "core/PatchSwap.h"
#include "core/WebLink.h"
#include "ui/MainWindow.h"

#include <QListView>
#include <QStringList>

namespace velmoran {

Controller::Controller(Platform& platform, UserMessages* messages, QObject* parent)
    : QObject(parent)
    , m_drives(platform.drives)
    , m_platform{platform.files,  platform.registry, platform.starter,        m_drives,
                 platform.viewer, platform.applicationFolder, platform.temporaryFolder}
    , m_messages(messages ? *messages : m_ownMessages)
    , m_mainWindow(new MainWindow)
    , m_controls(std::make_unique<QtMainWindowControls>(m_mainWindow))
{
    MainWindow* form = m_mainWindow;
    // Closing the main window destroys it and its controls; the program ends when its
    // last window closes.
    form->setAttribute(Qt::WA_DeleteOnClose);

    runCommand([form](CommandContext& context) {
        QStringList names;
        for (const std::string& name : context.platform.drives.driveNames())
            names << QString::fromStdString(name);
        form->setDrives(names, QString::fromStdString(context.platform.drives.currentDrive()));
    });

    connect(form, &MainWindow::backupClicked, this, [this] { runCommand(backupPatch); });
    connect(form, &MainWindow::replaceClicked, this, [this] { runCommand(replacePatch); });
    connect(form, &MainWindow::undoClicked, this, [this] { runCommand(undoChanges); });
    connect(form, &MainWindow::launchClicked, this, [this] { runCommand(launchGame); });
    connect(form, &MainWindow::urlClicked, this, [this] { runCommand(openWebsite); });

    m_windows = std::make_unique<SecondaryWindows>(
        [this](const std::function<void(CommandContext&)>& command) { runCommand(command); });
    connect(form, &MainWindow::optionsRequested, m_windows.get(), &SecondaryWindows::openOptions);
    connect(form, &MainWindow::aboutRequested, m_windows.get(), &SecondaryWindows::openAbout);

    // Find: the walk runs on its own thread; its matches and counts come back in batches.
    // A second Find stops the first and starts afresh; closing the window stops it.
    // List1 lays its entries out a hundred at a time between other events: laid out all at
    // once after every batch, thousands of entries would hold the window up for 100 ms.
    form->list1()->setLayoutMode(QListView::Batched);
    form->list1()->setBatchSize(100);
    m_search = std::make_unique<SearchRunner>(
        platform.files,
        [this](SearchBatch&& batch) {
            runCommand([&batch](CommandContext& context) {
                if (!batch.matches.empty())
                    context.form.appendToList(batch.matches);
                if (!batch.caption.empty())
                    context.form.setCaption(batch.caption);
            });
        },
        [this](const SearchSummary& summary, const std::string& failure) {
            runCommand([&](CommandContext& context) { endFind(context, summary, failure); });
        });
    connect(form, &MainWindow::findClicked, this, [this] {
        runCommand([this](CommandContext& context) {
            m_search->stop();
            m_search->start(beginFind(context));
        });
    });
    connect(form, &MainWindow::driveChanged, this, [this] { runCommand(changeDrive); });
    connect(form, &QObject::destroyed, this, [this] { m_search->stop(); });
}

Controller::~Controller()
{
    delete m_mainWindow.data();
}

void Controller::runCommand(const std::function<void(CommandContext&)>& command)
{
    CommandContext context{m_platform, *m_controls, m_messages};
    try {
        command(context);
    } catch (const OperationError& error) {
        m_messages.showMessage(error.what(), ProgramTitle);
    } catch (const std::exception& error) {
        m_messages.showMessage(std::string("Velmoran met an unexpected error and stopped the "
                                           "command; nothing after the failing step was done.\n\n") +
                                   error.what(),
                               ProgramTitle);
    }
}

} // namespace velmoran
