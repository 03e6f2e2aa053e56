#include "MessageBoxAnswerer.h"
#include "app/Controller.h"
#include "support/Recorders.h"
#include "support/SamplePrefix.h"
#include "support/ScratchFolder.h"
#include "support/TestPlatform.h"
#include "ui/MainWindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QTest>

#include <gtest/gtest.h>

using namespace velmoran;
using namespace velmoran::testing;

namespace {

class MainWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        form = controller.mainWindow();
        form->show();
        QApplication::setActiveWindow(form);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
    }
    template <typename T = QWidget>
    T* control(const char* name)
    {
        return form->findChild<T*>(QString::fromLatin1(name));
    }

    ScratchFolder scratch;
    SamplePrefix prefix{scratch.path()};
    TestPlatform services{prefix.prefix()};
    RecordingStarter starter;
    FixedRegistry registry{prefix.gameFolderWindows()};
    MessageBoxAnswerer answerer;
    Controller controller{services.with(&registry, &starter)};
    MainWindow* form = nullptr;
};

struct Design
{
    const char* name;
    const char* caption; // nullptr: the control has no caption
    int left, top, width, height; // twips
};

TEST_F(MainWindowTest, EveryControlIsNamedCaptionedAndPlacedAsDesigned)
{
    const Design design[] = {
        {"cmdBackup", "Backup", 120, 120, 1215, 495},
        {"Label6", "This will backup the original patch_d2", 1440, 120, 3135, 495},
        {"Check1", "Backup \" save \"  folder too ?", 1440, 360, 2895, 255},
        {"cmdFind", "Find", 120, 840, 1215, 495},
        {"Label2", "This will search for the modded patch", 1440, 840, 3015, 615},
        {"Drive1", nullptr, 1440, 1080, 2775, 315},
        {"Label1", "                    select modded patch from list below", 0, 1560, 4695, 1215},
        {"List1", nullptr, 120, 1800, 4095, 840},
        {"cmdReplace", "Replace", 120, 2760, 1215, 495},
        {"Label4", "This will replace the original patch_d2.mpq with the one you select", 1440,
         2760, 2895, 615},
        {"cmdLaunch", "Launch D2", 120, 3480, 1215, 495},
        {"lblLaunch", "This will Launch Diablo II or LoD", 1440, 3480, 2775, 375},
        {"Check2", "- w", 1680, 3720, 1215, 255},
        {"Check3", "- txt", 2400, 3720, 735, 255},
        {"Check4", "- direct", 3120, 3720, 975, 255},
        {"cmdUndo", "Undo", 120, 4200, 1215, 495},
        {"Label5", "This will Undo the whole thing so you will have a unmodded game again", 1440,
         4200, 2775, 615},
        {"Picture1", nullptr, 240, 4920, 615, 495},
        {"Label7", "Please visit our website", 1320, 4920, 1815, 495},
        {"Picture2", nullptr, 3720, 4920, 1215, 495},
        {"lblURL", WebsiteAddress, 960, 5160, 2655, 495},
        {"Dir1", nullptr, 3720, 5400, 495, 315},
    };
    for (const Design& d : design) {
        QWidget* w = control(d.name);
        ASSERT_NE(w, nullptr) << d.name;
        EXPECT_EQ(w->geometry(), QRect(d.left / 15, d.top / 15, d.width / 15, d.height / 15))
            << d.name;
        if (!d.caption)
            continue;
        QString text;
        if (auto* button = qobject_cast<QAbstractButton*>(w))
            text = button->text();
        else if (auto* label = qobject_cast<QLabel*>(w))
            text = label->text();
        EXPECT_EQ(text.toStdString(), d.caption) << d.name;
    }
    EXPECT_EQ(QString::fromLatin1(WebsiteAddress).indexOf(QStringLiteral("://")), -1);
    EXPECT_EQ(control<QCheckBox>("Check1")->text().size(), 29);
    EXPECT_FALSE(control("Dir1")->isVisible());
    EXPECT_EQ(form->centralWidget()->size(), QSize(292, 378));

    QStringList menu;
    for (QAction* a : form->menuBar()->actions())
        menu << a->text();
    EXPECT_EQ(menu, (QStringList{"&Options", "&About", "&Exit"}));
}

TEST_F(MainWindowTest, StartsAsDesigned)
{
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Velmoran"));
    EXPECT_EQ(control<QListWidget>("List1")->count(), 0);
    EXPECT_EQ(control<QListWidget>("List1")->currentRow(), -1);
    for (const char* box : {"Check1", "Check2", "Check3", "Check4"})
        EXPECT_EQ(control<QCheckBox>(box)->checkState(), Qt::Unchecked) << box;
    EXPECT_EQ(QApplication::focusWidget(), control("cmdFind"));
    EXPECT_FALSE(form->windowIcon().isNull());
    EXPECT_FALSE(control<QLabel>("Picture1")->pixmap().isNull());

    // Tab order, and stacking: lblURL lies above Label7, controls above labels.
    const char* order[] = {"cmdFind", "List1",  "cmdReplace", "cmdUndo", "cmdBackup", "Drive1",
                           "cmdLaunch", "Check1", "Check2", "Check3", "Check4"};
    for (std::size_t i = 1; i < std::size(order); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), control(order[i])) << order[i];
    }
    const QObjectList& stack = form->centralWidget()->children();
    EXPECT_GT(stack.indexOf(control("lblURL")), stack.indexOf(control("Label7")));
    EXPECT_GT(stack.indexOf(control("List1")), stack.indexOf(control("Label1")));
    EXPECT_GT(stack.indexOf(control("Check1")), stack.indexOf(control("Label6")));

    auto* url = control<QLabel>("lblURL");
    EXPECT_TRUE(url->font().underline());
    EXPECT_EQ(url->palette().color(QPalette::WindowText), url->palette().color(QPalette::Highlight));
    EXPECT_EQ(url->cursor().shape(), Qt::BitmapCursor); // the link pointer
}

TEST_F(MainWindowTest, LaunchStartsTheGameWithTheTickedSwitchesAndMinimises)
{
    control<QCheckBox>("Check2")->setCheckState(Qt::Checked);
    control<QCheckBox>("Check3")->setCheckState(Qt::PartiallyChecked); // greyed adds nothing
    control<QCheckBox>("Check4")->setCheckState(Qt::Checked);
    QTest::mouseClick(control<QAbstractButton>("cmdLaunch"), Qt::LeftButton);
    ASSERT_EQ(starter.started.size(), 1u);
    EXPECT_EQ(starter.started[0].program, prefix.gameFolderWindows() + "\\Diablo II.exe");
    EXPECT_EQ(starter.started[0].arguments, (std::vector<std::string>{"-w", "-direct"}));
    EXPECT_TRUE(form->windowState() & Qt::WindowMinimized);
    EXPECT_TRUE(answerer.seen.empty());
}

TEST_F(MainWindowTest, FailedLookupIsOneClearMessageAndNoMinimise)
{
    registry.value.reset();
    QTest::mouseClick(control<QAbstractButton>("cmdLaunch"), Qt::LeftButton);
    ASSERT_EQ(answerer.seen.size(), 1u);
    const auto& seen = answerer.seen[0];
    EXPECT_EQ(seen.title, QStringLiteral("Velmoran"));
    EXPECT_EQ(seen.icon, QMessageBox::Warning);
    EXPECT_EQ(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    EXPECT_TRUE(seen.modal);
    EXPECT_TRUE(seen.text.contains(QStringLiteral("install folder was not found"))) << seen.text.toStdString();
    EXPECT_TRUE(starter.started.empty());
    EXPECT_FALSE(form->windowState() & Qt::WindowMinimized);
}

TEST_F(MainWindowTest, ExitClosesTheMainWindowOnly)
{
    QAction* exit = form->findChild<QAction*>(QStringLiteral("Exit"));
    ASSERT_NE(exit, nullptr);
    exit->trigger();
    EXPECT_TRUE(waitFor([&] { return controller.mainWindow() == nullptr; }));
}

TEST_F(MainWindowTest, EnterAndEscapeTriggerNoButton)
{
    QTest::keyClick(form, Qt::Key_Return);
    QTest::keyClick(form, Qt::Key_Escape);
    QApplication::processEvents();
    EXPECT_TRUE(answerer.seen.empty());
    EXPECT_TRUE(starter.started.empty());
    EXPECT_TRUE(form->isVisible());
}

} // namespace
