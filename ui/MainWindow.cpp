#include "ui/MainWindow.h"

#include "ui/ListBoxEntries.h"
#include "ui/Twips.h"
#include "ui/Widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLayout>
#include <QListView>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalBlocker>

namespace velmoran {

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Velmoran"));
    setWindowIcon(programIcon());

    QMenuBar* menu = menuBar();
    QAction* options = menu->addAction(QStringLiteral("&Options"));
    options->setObjectName(QStringLiteral("Options"));
    QAction* about = menu->addAction(QStringLiteral("&About"));
    about->setObjectName(QStringLiteral("About"));
    QAction* exit = menu->addAction(QStringLiteral("&Exit"));
    exit->setObjectName(QStringLiteral("Exit"));
    connect(options, &QAction::triggered, this, &MainWindow::optionsRequested);
    connect(about, &QAction::triggered, this, &MainWindow::aboutRequested);
    connect(exit, &QAction::triggered, this, &QWidget::close);

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(twipsToPixels(4380), twipsToPixels(5670));
    setCentralWidget(client);
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    // Labels first, so that every other control lies above them; among the labels,
    // lblURL last, above Label7 whose rectangle covers its first line.
    placed(makeLabel(QStringLiteral("This will backup the original patch_d2"), client), "Label6",
           1440, 120, 3135, 495);
    placed(makeLabel(QStringLiteral("This will search for the modded patch"), client), "Label2",
           1440, 840, 3015, 615);
    placed(makeLabel(QStringLiteral("                    select modded patch from list below"),
                     client),
           "Label1", 0, 1560, 4695, 1215);
    placed(makeLabel(QStringLiteral(
                         "This will replace the original patch_d2.mpq with the one you select"),
                     client),
           "Label4", 1440, 2760, 2895, 615);
    placed(makeLabel(QStringLiteral("This will Launch Diablo II or LoD"), client), "lblLaunch",
           1440, 3480, 2775, 375);
    placed(makeLabel(QStringLiteral(
                         "This will Undo the whole thing so you will have a unmodded game again"),
                     client),
           "Label5", 1440, 4200, 2775, 615);
    placed(makeLabel(QStringLiteral("Please visit our website"), client), "Label7", 1320, 4920,
           1815, 495);
    m_lblURL = placed(new LinkLabel(QString::fromLatin1(WebsiteAddress), client), "lblURL", 960,
                      5160, 2655, 495);

    // The other controls in tab order, each later one above the earlier ones.
    m_cmdFind = placed(new QPushButton(QStringLiteral("Find"), client), "cmdFind", 120, 840, 1215,
                       495);
    m_list1 = placed(new QListView(client), "List1", 120, 1800, 4095, 840);
    m_list1Entries = new ListBoxEntries(m_list1);
    m_list1->setModel(m_list1Entries);
    m_list1->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list1->setItemDelegate(new OnceSizedItemDelegate(m_list1));
    m_cmdReplace = placed(new QPushButton(QStringLiteral("Replace"), client), "cmdReplace", 120,
                          2760, 1215, 495);
    m_cmdUndo = placed(new QPushButton(QStringLiteral("Undo"), client), "cmdUndo", 120, 4200,
                       1215, 495);
    m_cmdBackup = placed(new QPushButton(QStringLiteral("Backup"), client), "cmdBackup", 120, 120,
                         1215, 495);
    m_drive1 = placed(new QComboBox(client), "Drive1", 1440, 1080, 2775, 315);
    m_cmdLaunch = placed(new QPushButton(QStringLiteral("Launch D2"), client), "cmdLaunch", 120,
                         3480, 1215, 495);
    m_checks[0] = placed(new QCheckBox(QStringLiteral("Backup \" save \"  folder too ?"), client),
                         "Check1", 1440, 360, 2895, 255);
    m_checks[1] = placed(new QCheckBox(QStringLiteral("- w"), client), "Check2", 1680, 3720, 1215,
                         255);
    m_checks[2] = placed(new QCheckBox(QStringLiteral("- txt"), client), "Check3", 2400, 3720,
                         735, 255);
    m_checks[3] = placed(new QCheckBox(QStringLiteral("- direct"), client), "Check4", 3120, 3720,
                         975, 255);
    placed(makePictureBox(client), "Picture1", 240, 4920, 615, 495);
    placed(makePictureBox(client), "Picture2", 3720, 4920, 1215, 495);
    auto* dir1 = placed(new QWidget(client), "Dir1", 3720, 5400, 495, 315);
    dir1->hide();

    QWidget* order[] = {m_cmdFind,   m_list1,     m_cmdReplace, m_cmdUndo,
                        m_cmdBackup, m_drive1,    m_cmdLaunch,  m_checks[0],
                        m_checks[1], m_checks[2], m_checks[3]};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
    for (QPushButton* button : {m_cmdFind, m_cmdBackup, m_cmdReplace, m_cmdUndo, m_cmdLaunch}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }

    connect(m_cmdFind, &QPushButton::clicked, this, &MainWindow::findClicked);
    connect(m_cmdBackup, &QPushButton::clicked, this, &MainWindow::backupClicked);
    connect(m_cmdReplace, &QPushButton::clicked, this, &MainWindow::replaceClicked);
    connect(m_cmdUndo, &QPushButton::clicked, this, &MainWindow::undoClicked);
    connect(m_cmdLaunch, &QPushButton::clicked, this, &MainWindow::launchClicked);
    connect(m_lblURL, &LinkLabel::clicked, this, &MainWindow::urlClicked);
    connect(m_drive1, &QComboBox::currentIndexChanged, this, &MainWindow::driveChanged);

    m_cmdFind->setFocus();
    centreOnScreen(this);
}

QCheckBox* MainWindow::check(int number) const
{
    return (number >= 1 && number <= 4) ? m_checks[number - 1] : nullptr;
}

void MainWindow::setDrives(const QStringList& names, const QString& current)
{
    const QSignalBlocker blocker(m_drive1);
    m_drive1->clear();
    m_drive1->addItems(names);
    const int index = m_drive1->findText(current);
    m_drive1->setCurrentIndex(index >= 0 ? index : 0);
}

} // namespace velmoran
