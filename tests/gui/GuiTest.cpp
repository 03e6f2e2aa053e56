// The program as a user sees and runs it: each window as designed (control, kind, caption,
// twips, tab position, bottom to top as stacked), font, icons and pointer; windows opened and
// closed in any order, the swap clicked through end to end, the search on its own thread.
#include "app/Controller.h"
#include "app/SearchRunner.h"
#include "core/FindCommand.h"
#include "core/OperationError.h"
#include "support/SampleGame.h"
#include "support/StandIns.h"
#include "ui/AboutWindow.h"
#include "ui/MainWindow.h"
#include "ui/OptionsWindow.h"
#include "ui/Widgets.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QImageReader>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QtEndian>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>

using namespace velmoran;
using namespace velmoran::testing;
using Texts = std::vector<std::string>;

namespace {

// Answers the program's real message boxes as a user would: records each one's text and
// whether every one was a modal warning titled "Velmoran" with one OK button, runs
// `whileOpen` while it is open and closes it with OK.
struct MessageBoxAnswerer
{
    MessageBoxAnswerer()
    {
        timer.callOnTimeout([this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            plain = plain && box->windowTitle() == "Velmoran" && box->isModal() &&
                    box->icon() == QMessageBox::Warning &&
                    box->standardButtons() == QMessageBox::Ok;
            seen.push_back(box->text().toStdString());
            if (whileOpen)
                whileOpen();
            QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        });
        timer.start(5);
    }
    std::vector<std::string> seen;
    bool plain = true;
    std::function<void()> whileOpen;
    QTimer timer;
};

// Runs the events until `done` holds, for at most 20 s; true when it holds.
bool waitFor(const std::function<bool()>& done)
{
    for (int i = 0; i < 20000 && !done(); ++i)
        QTest::qWait(1);
    return done();
}

// The names of the program's visible windows, sorted.
std::string openWindows()
{
    QApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QStringList names;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible())
            names << w->objectName();
    names.sort();
    return names.join(' ').toStdString();
}

class ProgramRun : public ::testing::Test
{
protected:
    void SetUp() override
    {
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
    }
    void TearDown() override { EXPECT_TRUE(answerer.plain); }
    void choose(const char* menuItem)
    {
        form->findChild<QAction*>(menuItem)->trigger();
        QApplication::processEvents();
    }
    // The texts of the message boxes the click brought.
    Texts click(QWidget* button)
    {
        answerer.seen.clear();
        QTest::mouseClick(button, Qt::LeftButton);
        return answerer.seen;
    }
    Texts entries() const
    {
        Texts list;
        for (int i = 0; i < form->list1()->count(); ++i)
            list.push_back(form->list1()->item(i)->text().toStdString());
        return list;
    }

    ScratchFolder scratch{"velmoran-run"};
    SampleGame game{scratch.path()};
    StandInPrograms programs{scratch / "stand-ins"};
    MessageBoxAnswerer answerer;
    Controller controller{game.services.real()};
    MainWindow* form = controller.mainWindow();
    SecondaryWindows& windows = controller.secondaryWindows();
};

struct Control
{
    const char* name;
    const char* kind;
    const char* caption; // nullptr: none
    int left, top, width, height;
    int tab; // place in the tab order, -1: takes no focus by Tab
};

const char* const CreateText =
    "The Create button will make the \\data\\global\\excel folders in your D2 folder. if you "
    "then use the -txt option and Launch D2 the bin files will be generated, you can then get "
    "them and insert them in your mpq like you did before. The delete button delete's the bin "
    "files and remove's the \\data\\global\\excel folders. i should note that storm.dll is "
    "copied into the  ..\\data folder please leave it there !!";
const char* const CreditsText =
    "This program will let you Launch any mod , or test your mods , it can generate bin files "
    "using the -txt and -direct options , or you can run Diablo II in a window using the -w "
    "option. i would like to thank Brindlecove , Ostrevin  , Quorvane and Halmerick thanks to "
    "Plenwick for helping me with registry issue and Varnhoe for all the testing , you should "
    "use this tool at own risk!!";

const std::vector<Control> MainDesign = {
    {"Label6", "QLabel", "This will backup the original patch_d2", 1440, 120, 3135, 495, -1},
    {"Label2", "QLabel", "This will search for the modded patch", 1440, 840, 3015, 615, -1},
    {"Label1", "QLabel", "                    select modded patch from list below", 0, 1560, 4695,
     1215, -1},
    {"Label4", "QLabel", "This will replace the original patch_d2.mpq with the one you select",
     1440, 2760, 2895, 615, -1},
    {"lblLaunch", "QLabel", "This will Launch Diablo II or LoD", 1440, 3480, 2775, 375, -1},
    {"Label5", "QLabel", "This will Undo the whole thing so you will have a unmodded game again",
     1440, 4200, 2775, 615, -1},
    {"Label7", "QLabel", "Please visit our website", 1320, 4920, 1815, 495, -1},
    {"lblURL", "velmoran::LinkLabel", "velmoran.example.org", 960, 5160, 2655, 495, -1},
    {"cmdFind", "QPushButton", "Find", 120, 840, 1215, 495, 0},
    {"List1", "QListWidget", nullptr, 120, 1800, 4095, 840, 1},
    {"cmdReplace", "QPushButton", "Replace", 120, 2760, 1215, 495, 2},
    {"cmdUndo", "QPushButton", "Undo", 120, 4200, 1215, 495, 3},
    {"cmdBackup", "QPushButton", "Backup", 120, 120, 1215, 495, 4},
    {"Drive1", "QComboBox", nullptr, 1440, 1080, 2775, 315, 5},
    {"cmdLaunch", "QPushButton", "Launch D2", 120, 3480, 1215, 495, 6},
    {"Check1", "QCheckBox", "Backup \" save \"  folder too ?", 1440, 360, 2895, 255, 7},
    {"Check2", "QCheckBox", "- w", 1680, 3720, 1215, 255, 8},
    {"Check3", "QCheckBox", "- txt", 2400, 3720, 735, 255, 9},
    {"Check4", "QCheckBox", "- direct", 3120, 3720, 975, 255, 10},
    {"Picture1", "QLabel", nullptr, 240, 4920, 615, 495, -1},
    {"Picture2", "QLabel", nullptr, 3720, 4920, 1215, 495, -1},
    {"Dir1", "QWidget", nullptr, 3720, 5400, 495, 315, -1}};
const std::vector<Control> OptionsDesign = {
    {"lblCreate", "QLabel", CreateText, 120, 840, 4335, 1455, -1},
    {"cmdCreate", "QPushButton", "Create", 360, 120, 1215, 495, 0},
    {"cmdDelete", "QPushButton", "Delete", 3000, 120, 1215, 495, 1},
    {"cmdDone", "QPushButton", "Done", 1680, 2280, 1215, 495, 2},
    {"Picture1", "QLabel", nullptr, 2040, 120, 615, 615, -1}};
const std::vector<Control> AboutDesign = {
    {"Label1", "QLabel", "Orvick's Velmoran", 1080, 240, 2535, 375, -1},
    {"Label3", "QLabel", "Version " VELMORAN_VERSION, 1680, 480, 1215, 375, -1},
    {"Label2", "QLabel", CreditsText, 120, 960, 4455, 1335, -1},
    {"Label4", "QLabel", "Later All , Orvick", 1320, 2400, 1215, 495, -1},
    {"Picture1", "QLabel", nullptr, 480, 120, 615, 495, -1},
    {"Picture2", "QLabel", nullptr, 3600, 120, 615, 495, -1},
    {"cmdWhatever", "QPushButton", "Whatever", 2880, 2280, 1215, 495, 0}};

struct Window
{
    const char* menuItem; // nullptr: the main window
    const char* name;
    const char* title;
    QSize size; // the main window's client area, or the window
    const std::vector<Control>& design;
    int pictures; // Picture1 .. PictureN, each the program's picture at the top left
};
const Window Windows[] = {
    {nullptr, "Form1", "Velmoran", {292, 378}, MainDesign, 1},
    {"Options", "frmCreate", "Velmoran", {312, 191}, OptionsDesign, 1},
    {"About", "frmAbout", "About Orvick's Velmoran", {312, 190}, AboutDesign, 2}};

// Every control of `client` as the table has it, and nothing else; a wrapping label's
// text fits down to its last line's baseline; Tab goes round in the table's tab order.
void expectDesign(QWidget* client, const std::vector<Control>& design)
{
    std::vector<std::string> stacked;
    for (QObject* child : client->children())
        if (child->isWidgetType() && !child->objectName().startsWith("qt_"))
            stacked.push_back(child->objectName().toStdString());
    std::vector<std::string> names, tabOrder(design.size());
    for (const Control& c : design) {
        names.push_back(c.name);
        auto* w = client->findChild<QWidget*>(c.name, Qt::FindDirectChildrenOnly);
        ASSERT_NE(w, nullptr) << c.name;
        EXPECT_STREQ(w->metaObject()->className(), c.kind) << c.name;
        EXPECT_EQ(w->geometry(), QRect(c.left / 15, c.top / 15, c.width / 15, c.height / 15))
            << c.name;
        EXPECT_EQ(w->isVisible(), std::string(c.name) != "Dir1") << c.name;
        auto* label = qobject_cast<QLabel*>(w);
        EXPECT_EQ(w->property("text").toString().toStdString(), c.caption ? c.caption : "")
            << c.name;
        if (label && c.caption) {
            const QFontMetrics metrics(label->font());
            const QRect needed = metrics.boundingRect(
                label->contentsRect(), Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop,
                label->text());
            EXPECT_LE(needed.height() - metrics.descent(), label->contentsRect().height())
                << c.name << " is cut off";
        }
        if (c.tab >= 0)
            tabOrder[static_cast<std::size_t>(c.tab)] = c.name;
        else
            EXPECT_TRUE(label || !(w->focusPolicy() & Qt::TabFocus)) << c.name;
    }
    EXPECT_EQ(stacked, names) << "stacked bottom to top as designed, nothing beside the design";
    std::erase(tabOrder, "");
    EXPECT_EQ(QApplication::focusWidget()->objectName().toStdString(), tabOrder[0]);
    for (std::size_t i = 1; i <= tabOrder.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget()->objectName().toStdString(),
                  tabOrder[i % tabOrder.size()]);
    }
    // Enter and Escape trigger nothing and close nothing.
    for (const auto key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
        QTest::keyClick(QApplication::focusWidget(), key);
    QApplication::processEvents();
    EXPECT_TRUE(client->window()->isVisible());
}

TEST_F(ProgramRun, EachWindowAsDesignedInTheDesignFontWithItsIcon)
{
    const QStringList faces{"MS Sans Serif", "Microsoft Sans Serif", "Liberation Sans", "Arial"};
    EXPECT_TRUE(faces.contains(QApplication::font().family()));
    EXPECT_TRUE(QApplication::windowIcon().isNull()) << "nothing application-wide";
    for (const Window& w : Windows) {
        SCOPED_TRACE(w.name);
        if (w.menuItem)
            form->findChild<QAction*>(w.menuItem)->trigger();
        QWidget* window = QApplication::topLevelWidgets().at(0);
        for (QWidget* top : QApplication::topLevelWidgets())
            window = top->objectName() == w.name ? top : window;
        QApplication::setActiveWindow(window);
        ASSERT_TRUE(window->objectName() == w.name && QTest::qWaitForWindowActive(window));
        QWidget* client = w.menuItem ? window : form->centralWidget();
        expectDesign(client, w.design);
        EXPECT_EQ(window->windowTitle(), w.title);
        EXPECT_EQ(client->size(), w.size);
        if (w.menuItem) { // fixed in size, its frame in the middle of its screen, modeless
            EXPECT_EQ(window->minimumSize(), window->maximumSize());
            EXPECT_LE(
                (window->screen()->availableGeometry().center() - window->frameGeometry().center())
                    .manhattanLength(),
                1);
            EXPECT_EQ(window->parentWidget(), nullptr);
            EXPECT_EQ(window->windowModality(), Qt::NonModal);
        }
        for (int n = 1; n <= w.pictures; ++n) {
            auto* picture = window->findChild<QLabel*>("Picture" + QString::number(n));
            EXPECT_EQ(picture->pixmap().toImage(), programPixmap().toImage());
            EXPECT_EQ(picture->alignment(), Qt::AlignLeft | Qt::AlignTop);
        }
        // The program icon on the main and Options windows only.
        EXPECT_EQ(window->windowIcon().pixmap(32, 32).toImage(),
                  w.pictures == 1 ? programPixmap().toImage() : QImage());
        // 8.25 pt throughout; lblURL alone has a pointer of its own.
        for (const QWidget* control : window->findChildren<QWidget*>())
            if (!control->objectName().isEmpty() && !control->objectName().startsWith("qt_")) {
                const std::string name = control->objectName().toStdString();
                EXPECT_EQ(control->font().pointSizeF(), 8.25) << name;
                EXPECT_EQ(control->font().family(), QApplication::font().family()) << name;
                EXPECT_EQ(control->testAttribute(Qt::WA_SetCursor), name == "lblURL") << name;
            }
    }
    QStringList menu;
    for (QAction* a : form->menuBar()->actions())
        menu << a->text();
    EXPECT_EQ(menu, (QStringList{"&Options", "&About", "&Exit"}));
    EXPECT_EQ(form->list1()->count(), 0);
    EXPECT_EQ(form->list1()->layoutMode(), QListView::Batched); // thousands of entries flow
    for (int n = 1; n <= 4; ++n)
        EXPECT_EQ(form->check(n)->checkState(), Qt::Unchecked) << n;
    EXPECT_TRUE(form->lblURL()->font().underline());
    EXPECT_EQ(form->lblURL()->palette().color(QPalette::WindowText),
              form->lblURL()->palette().color(QPalette::Highlight));
    EXPECT_EQ(form->cursor().shape(), Qt::ArrowCursor);
    QWidget* options = controller.secondaryWindows().options();
    EXPECT_EQ(options->childAt(150, 152)->objectName(), "cmdDone"); // clear of lblCreate
    auto* label1 = controller.secondaryWindows().about()->findChild<QLabel*>("Label1");
    EXPECT_LE(label1->y() + QFontMetrics(label1->font()).height(),
              label1->parentWidget()->findChild<QLabel*>("Label3")->y());
    EXPECT_TRUE(form->isEnabled());
    EXPECT_TRUE(answerer.seen.empty());
    EXPECT_TRUE(programs.waitFor("wine", 0).empty());
}

// The images of an .ico (type 1) or .cur (2) file: size, colour bits, palette size, hot spot;
// each a colour image and its mask one above the other, as wide as its entry says.
std::vector<std::tuple<int, int, int, QPoint>> iconFile(const QString& name, int type)
{
    QFile file(VELMORAN_ASSETS "/" + name);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
    const QByteArray bytes = file.readAll();
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
    const auto u16 = [&](qsizetype at) { return int(qFromLittleEndian<quint16>(data + at)); };
    const auto u32 = [&](qsizetype at) { return int(qFromLittleEndian<qint32>(data + at)); };
    EXPECT_EQ(u16(2), type);
    std::vector<std::tuple<int, int, int, QPoint>> images;
    for (int i = 0; i < u16(4); ++i) {
        const qsizetype entry = 6 + 16 * i, header = u32(entry + 12);
        const int bits = u16(header + 14), used = u32(header + 32);
        EXPECT_EQ(data[entry], data[entry + 1]);
        EXPECT_EQ(u32(header + 4), data[entry]);
        EXPECT_EQ(u32(header + 8), 2 * data[entry + 1]);
        EXPECT_EQ(data[entry + 2], bits < 8 ? 1 << bits : 0) << "the entry's colour count";
        images.emplace_back(data[entry], bits, used ? used : 1 << bits,
                            type == 2 ? QPoint(u16(entry + 4), u16(entry + 6)) : QPoint());
    }
    return images;
}

TEST(WindowDesign, IconFilesHoldTheDesignedImagesAndThePointerIsTheLinks)
{
    using Image = std::tuple<int, int, int, QPoint>;
    EXPECT_EQ(iconFile("velmoran.ico", 1), (std::vector<Image>{{32, 8, 256, {}}}));
    // The link pointer: 32 x 32 and 16 x 16 in 16 colours, each with its hot spot at the
    // finger tip, an opaque pixel on the picture's topmost row.
    const auto pointer = iconFile("link.cur", 2);
    ASSERT_EQ(pointer.size(), 2u);
    QImageReader reader(VELMORAN_ASSETS "/link.cur");
    for (int i = 0; i < 2; ++i) {
        const auto [size, bits, colours, hotSpot] = pointer[std::size_t(i)];
        EXPECT_EQ(pointer[std::size_t(i)], (Image{32 >> i, 4, 16, hotSpot}));
        reader.jumpToImage(i);
        const QImage image = reader.read();
        ASSERT_EQ(image.size(), QSize(size, size));
        EXPECT_EQ(qAlpha(image.pixel(hotSpot)), 255);
        for (int y = 0; y < hotSpot.y(); ++y)
            for (int x = 0; x < size; ++x)
                EXPECT_EQ(qAlpha(image.pixel(x, y)), 0) << x << "," << y;
    }
    MainWindow form;
    const QCursor cursor = form.lblURL()->cursor();
    EXPECT_EQ(cursor.shape(), Qt::BitmapCursor);
    EXPECT_EQ(cursor.pixmap().size(), QSize(32, 32));
    EXPECT_EQ(cursor.hotSpot(), std::get<3>(pointer[0]));
}

TEST_F(ProgramRun, EachWindowOpensOnceClosesAloneAndTheMainWindowKeepsItsState)
{
    form->list1()->addItem("c:\\Mods\\patch_d2.mpq");
    form->check(1)->setCheckState(Qt::Checked);
    form->setWindowTitle("Velmoran 3");
    for (int round = 0; round < 2; ++round) {
        choose("Options");
        OptionsWindow* options = windows.options();
        ASSERT_TRUE(options && QTest::qWaitForWindowActive(options));
        const QPoint moved = options->pos() + QPoint(17, 11);
        options->move(moved);
        options->showMinimized();
        choose("About");
        AboutWindow* about = windows.about();
        ASSERT_TRUE(about && QTest::qWaitForWindowActive(about));
        choose("Options"); // the one copy, brought back and to the front where it stands
        EXPECT_EQ(windows.options(), options);
        EXPECT_FALSE(options->isMinimized());
        EXPECT_TRUE(QTest::qWaitForWindowActive(options));
        EXPECT_EQ(options->pos(), moved);
        choose("About");
        EXPECT_EQ(windows.about(), about);
        EXPECT_EQ(openWindows(), "Form1 frmAbout frmCreate");
        EXPECT_TRUE(form->isEnabled());
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
        // Closed by its own button, or from the frame.
        round == 0 ? QTest::mouseClick(options->cmdDone(), Qt::LeftButton) : (void)options->close();
        EXPECT_EQ(openWindows(), "Form1 frmAbout");
        EXPECT_EQ(windows.options(), nullptr);
        round == 0 ? QTest::mouseClick(about->cmdWhatever(), Qt::LeftButton) : (void)about->close();
        EXPECT_EQ(openWindows(), "Form1");
        EXPECT_EQ(windows.about(), nullptr);
        EXPECT_EQ(entries(), Texts{"c:\\Mods\\patch_d2.mpq"});
        EXPECT_EQ(form->check(1)->checkState(), Qt::Checked);
        EXPECT_EQ(form->windowTitle(), "Velmoran 3");
    }
    // Options works on when the main window is gone.
    choose("Options");
    OptionsWindow* options = windows.options();
    form->findChild<QAction*>("Exit")->trigger();
    EXPECT_EQ(openWindows(), "frmCreate");
    EXPECT_EQ(controller.mainWindow(), nullptr);
    EXPECT_EQ(click(options->cmdCreate()), Texts{" Folders \\data\\global\\excel created ! "});
    EXPECT_EQ(click(options->cmdDelete()), Texts{" Folders \\data\\global\\excel deleted !"});
    EXPECT_NE(click(options->cmdDelete()).at(0).find("\\data\\global\\excel\\*.*"),
              std::string::npos);
}

// The program ends when its last window closes, whichever that is: each order of closing
// runs the real event loop, each close queued by the one before.
TEST(ProgramEnd, EndsWhenTheLastWindowClosesWhicheverItIs)
{
    std::array<int, 3> order{0, 1, 2}; // the main window, Options, About
    do {
        ScratchFolder scratch{"velmoran-end"};
        SampleGame game{scratch.path()};
        Controller controller{game.platform()};
        controller.mainWindow()->show();
        for (const char* item : {"Options", "About"})
            controller.mainWindow()->findChild<QAction*>(item)->trigger();
        QStringList open{"Form1", "frmAbout", "frmCreate"};
        std::vector<std::string> log, expected;
        std::size_t step = 0;
        std::function<void()> next = [&] {
            log.push_back(openWindows());
            SecondaryWindows& windows = controller.secondaryWindows();
            const int which = order[step++];
            if (which == 0)
                controller.mainWindow()->findChild<QAction*>("Exit")->trigger();
            else
                QTest::mouseClick(which == 1 ? windows.options()->cmdDone()
                                             : windows.about()->cmdWhatever(),
                                  Qt::LeftButton);
            if (step < order.size())
                QTimer::singleShot(0, next);
        };
        QTimer::singleShot(0, next);
        for (const int closed : order) {
            expected.push_back(open.join(' ').toStdString());
            open.removeOne(QStringList{"Form1", "frmCreate", "frmAbout"}[closed]);
        }
        // Only a loop that never ends meets the guard.
        QTimer::singleShot(60000, &controller, [] { QApplication::exit(3); });
        QApplication::setQuitOnLastWindowClosed(true);
        EXPECT_EQ(QApplication::exec(), 0) << "the event loop did not end with the last window";
        QApplication::setQuitOnLastWindowClosed(false);
        EXPECT_EQ(log, expected);
        EXPECT_EQ(openWindows(), "");
    } while (std::next_permutation(order.begin(), order.end()));
}

TEST_F(ProgramRun, FindBackupReplaceLaunchUndoThroughTheWindow)
{
    const QString d = form->drive1()->itemText(form->drive1()->findText("d:", Qt::MatchStartsWith));
    form->drive1()->setCurrentText(d);
    click(form->cmdFind());
    ASSERT_TRUE(waitFor([&] { return !controller.searchRunner()->running(); }));
    const Texts found{"d:\\Mods\\Eastern Sun\\PATCH_D2.MPQ", "d:\\Mods\\Median\\patch_d2.mpq"};
    EXPECT_EQ(entries(), found);
    EXPECT_EQ(form->windowTitle(), "2");
    EXPECT_EQ(click(form->cmdReplace()), Texts{"You didn't select a patch_d2"});

    form->check(1)->setCheckState(Qt::Checked);
    std::vector<std::string> hiddenWhileOpen; // the backup is hidden once the message is closed
    answerer.whileOpen = [&] {
        hiddenWhileOpen.push_back(
            findFirst(game.files(), game.win("Backup\\*.*"), FindFilter::Ordinary));
    };
    EXPECT_EQ(click(form->cmdBackup()), Texts{" Backup created !!"});
    answerer.whileOpen = nullptr;
    EXPECT_EQ(hiddenWhileOpen, Texts{"patch_d2.mpq"});
    const std::string copy = " | copy: Barbarian.d2s Sorceress.d2s Sorceress.key";
    EXPECT_EQ(game.layout(), "- | Backup:original hidden | save_Backup" + copy);

    form->list1()->setCurrentRow(0);
    EXPECT_EQ(click(form->cmdReplace()), Texts{" The patch_D2 has been replaced "});
    EXPECT_EQ(game.layout(), "Eastern Sun | Backup:original hidden | save_Backup" + copy);

    form->check(2)->setCheckState(Qt::Checked);
    form->check(3)->setCheckState(Qt::PartiallyChecked); // greyed adds nothing
    EXPECT_EQ(click(form->cmdLaunch()), Texts{});
    const auto wine = programs.waitFor("wine", 1);
    ASSERT_EQ(wine.size(), 1u);
    EXPECT_EQ(wine[0],
              (Texts{"cwd=" + game.game().string(), "WINEPREFIX=" + game.prefix.prefix().string(),
                     wine[0][2], wine[0][3], "arg=" + game.win("Diablo II.exe"), "arg=-w"}));
    EXPECT_TRUE(form->windowState() & Qt::WindowMinimized);
    form->showNormal();

    game.run("play");
    EXPECT_EQ(click(form->cmdUndo()), Texts{" All changes are undone !!"});
    EXPECT_EQ(game.layout(), "original | no Backup | no save_Backup | save: Amazon.d2s "
                             "Barbarian.d2s Sorceress.d2s Sorceress.key");
    EXPECT_NE(click(form->cmdUndo()).at(0).find("Backup\\patch_d2.mpq"), std::string::npos);
    game.prefix.writeRegistry(nullptr); // no game installed
    EXPECT_NE(click(form->cmdLaunch()).at(0).find("install folder was not found"),
              std::string::npos);
    EXPECT_EQ(programs.waitFor("wine", 0).size(), 1u);
    EXPECT_EQ(click(form->lblURL()), Texts{}); // the desktop's opener gets the link's address
    const auto opened = programs.waitFor("xdg-open", 1);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].back(), "arg=http://velmoran.example.org");
}

// A tree without end: every folder holds one more, and the archive.
struct EndlessTree : ForwardingFiles
{
    using ForwardingFiles::ForwardingFiles;
    void scanFolder(const std::string& folder, const std::string& name, FolderScan& result) override
    {
        result.clear();
        result.subfolders = {"deeper"};
        result.subfolderIds = {{1, folder.size() + 1}};
        result.matches = {name};
    }
};

TEST(SearchRunnerTest, AStoppedOrRestartedWalkEndsAndReportsNothingMore)
{
    ScratchFolder scratch{"velmoran-endless"};
    TestPlatform services{scratch.path()};
    EndlessTree tree{services.real().files};
    std::size_t ends = 0, entries = 0;
    SearchRunner runner(
        tree, [&](SearchBatch&& batch) { entries += batch.matches.size(); },
        [&](const SearchSummary&, const std::string&) { ++ends; });
    runner.start("c:\\");
    runner.start("c:\\"); // the first is stopped, whatever it had found
    EXPECT_TRUE(runner.running());
    ASSERT_TRUE(waitFor([&] { return entries > 0; }));
    runner.stop(); // returns: the walk without end has ended
    const std::size_t seen = entries;
    EXPECT_FALSE(runner.running());
    QApplication::processEvents();
    EXPECT_EQ(entries, seen);
    EXPECT_EQ(ends, 0u);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    useDesignFont();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
