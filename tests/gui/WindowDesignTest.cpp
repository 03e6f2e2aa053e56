// The three windows as designed: one table per window of (control, kind, caption,
// rectangle in twips, tab position), listed bottom to top as the controls are stacked.
#include "GuiTest.h"
#include "app/Controller.h"
#include "support/SampleGame.h"
#include "ui/AboutWindow.h"
#include "ui/MainWindow.h"
#include "ui/OptionsWindow.h"
#include "ui/Widgets.h"

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QScreen>

using namespace velmoran;
using namespace velmoran::testing;

namespace {

struct Control
{
    const char* name;
    const char* kind;
    const char* caption; // nullptr: none
    int left, top, width, height;
    int tab; // place in the tab order, -1: takes no focus by Tab
};

const char* const CreateText = "The Create button will make the \\data\\global\\excel folders in "
                               "your D2 folder. if you then use the -txt option and "
                               "Launch D2 the bin files will be generated, you can then get them "
                               "and insert them in your mpq like you did before. The "
                               "delete button delete's the bin files and remove's the "
                               "\\data\\global\\excel folders. i should note that storm.dll is "
                               "copied into the  ..\\data folder please leave it there !!";
const char* const CreditsText = "This program will let you Launch any mod , or test your mods , it "
                                "can generate bin files using the -txt and -direct "
                                "options , or you can run Diablo II in a window using the -w "
                                "option. i would like to thank Brindlecove , Ostrevin  , "
                                "Quorvane and Halmerick thanks to Plenwick for helping me with "
                                "registry issue and Varnhoe for all the testing , you "
                                "should use this tool at own risk!!";

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
        auto* button = qobject_cast<QAbstractButton*>(w);
        EXPECT_EQ((label    ? label->text()
                   : button ? button->text()
                            : QString())
                      .toStdString(),
                  c.caption ? c.caption : "")
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

void expectPictures(QWidget* window, std::initializer_list<const char*> names)
{
    for (const char* name : names) {
        auto* picture = window->findChild<QLabel*>(name);
        EXPECT_EQ(picture->pixmap().toImage(), programPixmap().toImage()) << name;
        EXPECT_EQ(picture->alignment(), Qt::AlignLeft | Qt::AlignTop) << name;
    }
}

// The window, fixed in size, with its frame in the middle of its screen.
void expectFixedAndCentred(QWidget* window, QSize size)
{
    EXPECT_EQ(window->size(), size);
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    EXPECT_LE((window->screen()->availableGeometry().center() - window->frameGeometry().center())
                  .manhattanLength(),
              1);
    EXPECT_EQ(window->parentWidget(), nullptr);
    EXPECT_EQ(window->windowModality(), Qt::NonModal);
}

class WindowDesign : public ::testing::Test
{
protected:
    void SetUp() override
    {
        form->show();
        QApplication::setActiveWindow(form);
        ASSERT_TRUE(QTest::qWaitForWindowActive(form));
    }
    void open(const char* menuItem, QWidget* (*which)(Controller&))
    {
        form->findChild<QAction*>(menuItem)->trigger();
        window = which(controller);
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    }

    ScratchFolder scratch{"velmoran-design"};
    SampleGame game{scratch.path()};
    MessageBoxAnswerer answerer;
    Controller controller{game.platform()};
    MainWindow* form = controller.mainWindow();
    QWidget* window = nullptr;
};

TEST_F(WindowDesign, MainWindow)
{
    expectDesign(form->centralWidget(), MainDesign);
    EXPECT_EQ(form->objectName(), "Form1");
    EXPECT_EQ(form->windowTitle(), "Velmoran");
    EXPECT_EQ(form->centralWidget()->size(), QSize(292, 378));
    expectPictures(form, {"Picture1"});
    QStringList menu;
    for (QAction* a : form->menuBar()->actions())
        menu << a->text();
    EXPECT_EQ(menu, (QStringList{"&Options", "&About", "&Exit"}));
    EXPECT_EQ(form->list1()->count(), 0);
    for (int n = 1; n <= 4; ++n)
        EXPECT_EQ(form->check(n)->checkState(), Qt::Unchecked) << n;
    auto* url = form->lblURL();
    EXPECT_TRUE(url->font().underline());
    EXPECT_EQ(url->palette().color(QPalette::WindowText),
              url->palette().color(QPalette::Highlight));
    EXPECT_TRUE(answerer.seen.empty());
    EXPECT_TRUE(game.starter.started.empty());
}

TEST_F(WindowDesign, OptionsWindow)
{
    open("Options", [](Controller& c) -> QWidget* { return c.secondaryWindows().options(); });
    expectDesign(window, OptionsDesign);
    EXPECT_EQ(window->objectName(), "frmCreate");
    EXPECT_EQ(window->windowTitle(), "Velmoran");
    expectFixedAndCentred(window, QSize(312, 191));
    expectPictures(window, {"Picture1"});
    EXPECT_EQ(window->childAt(150, 152)->objectName(),
              "cmdDone"); // whole above lblCreate's last row
    EXPECT_TRUE(form->isEnabled());
}

TEST_F(WindowDesign, AboutWindow)
{
    open("About", [](Controller& c) -> QWidget* { return c.secondaryWindows().about(); });
    expectDesign(window, AboutDesign);
    EXPECT_EQ(window->objectName(), "frmAbout");
    EXPECT_EQ(window->windowTitle(), "About Orvick's Velmoran");
    expectFixedAndCentred(window, QSize(312, 190));
    expectPictures(window, {"Picture1", "Picture2"});
    auto* label1 = window->findChild<QLabel*>("Label1"); // its one line stays clear of Label3
    EXPECT_LE(label1->y() + QFontMetrics(label1->font()).height(),
              window->findChild<QLabel*>("Label3")->y());
}

} // namespace
