#include "MessageBoxAnswerer.h"
#include "WindowDesign.h"
#include "app/Controller.h"
#include "support/Recorders.h"
#include "support/SamplePrefix.h"
#include "support/ScratchFolder.h"
#include "support/TestPlatform.h"
#include "ui/AboutWindow.h"
#include "ui/MainWindow.h"
#include "ui/OptionsWindow.h"

#include <QAction>
#include <QCheckBox>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <array>
#include <filesystem>
#include <functional>

using namespace velmoran;
using namespace velmoran::testing;

namespace {

// The names of the program's visible windows, sorted, separated by blanks.
std::string openWindows()
{
    QStringList names;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible())
            names << w->objectName();
    names.sort();
    return names.join(QLatin1Char(' ')).toStdString();
}

// Runs the deferred deletions of closed windows.
void settle()
{
    QApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
}

class LifecycleTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        form = controller.mainWindow();
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
    }
    void choose(const char* menuItem)
    {
        ASSERT_NE(form, nullptr);
        form->findChild<QAction*>(QString::fromLatin1(menuItem))->trigger();
        QApplication::processEvents();
    }
    SecondaryWindows& windows() { return controller.secondaryWindows(); }

    ScratchFolder scratch{"velmoran-lifecycle"};
    SamplePrefix prefix{scratch.path()};
    TestPlatform services{prefix.prefix()};
    FixedRegistry registry{prefix.gameFolderWindows()};
    MessageBoxAnswerer answerer;
    Controller controller{services.with(&registry)};
    MainWindow* form = nullptr;
};

TEST_F(LifecycleTest, ChoosingAWindowAgainBringsTheOneCopyToTheFront)
{
    choose("Options");
    OptionsWindow* options = windows().options();
    ASSERT_NE(options, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowActive(options));
    const QPoint where(options->pos() + QPoint(17, 11));
    options->move(where); // the user moved it

    choose("About");
    AboutWindow* about = windows().about();
    ASSERT_NE(about, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowActive(about));
    EXPECT_EQ(openWindows(), "Form1 frmAbout frmCreate")
        << "both open together beside the main window";

    choose("Options");
    EXPECT_EQ(windows().options(), options) << "no second copy";
    EXPECT_TRUE(QTest::qWaitForWindowActive(options)) << "brought to the front";
    EXPECT_EQ(options->pos(), where) << "where it stands";
    options->showMinimized();
    choose("Options");
    EXPECT_FALSE(options->isMinimized());
    EXPECT_TRUE(QTest::qWaitForWindowActive(options));

    choose("About");
    EXPECT_EQ(windows().about(), about);
    EXPECT_TRUE(QTest::qWaitForWindowActive(about));
    EXPECT_EQ(openWindows(), "Form1 frmAbout frmCreate");
    for (const char* name : {"frmCreate", "frmAbout"}) {
        int copies = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            copies += w->objectName() == QLatin1String(name);
        EXPECT_EQ(copies, 1) << name;
    }

    // All three stay usable: the main window takes clicks while both others are open.
    EXPECT_TRUE(form->isEnabled());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(LifecycleTest, OwnButtonsCloseOnlyTheirWindowAndReopenAsDesigned)
{
    form->list1()->addItem(QStringLiteral("c:\\Mods\\patch_d2.mpq"));
    form->check(1)->setCheckState(Qt::Checked);
    form->setWindowTitle(QStringLiteral("Velmoran 3"));

    for (int round = 0; round < 2; ++round) {
        choose("Options");
        choose("About");
        OptionsWindow* options = windows().options();
        AboutWindow* about = windows().about();
        ASSERT_TRUE(options && about);
        ASSERT_TRUE(QTest::qWaitForWindowActive(about));

        // Moved and tabbed away from its first state, then closed by its own button.
        options->move(options->pos() + QPoint(40, 40));
        QTest::mouseClick(options->cmdDone(), Qt::LeftButton);
        settle();
        EXPECT_EQ(windows().options(), nullptr) << "closed and destroyed";
        EXPECT_EQ(openWindows(), "Form1 frmAbout");

        QTest::mouseClick(about->cmdWhatever(), Qt::LeftButton);
        settle();
        EXPECT_EQ(windows().about(), nullptr);
        EXPECT_EQ(openWindows(), "Form1");

        // The main window keeps its list, its boxes and its caption.
        EXPECT_EQ(form->list1()->count(), 1);
        EXPECT_EQ(form->check(1)->checkState(), Qt::Checked);
        EXPECT_EQ(form->windowTitle(), QStringLiteral("Velmoran 3"));
    }

    // Reopened: built afresh, centred, focus on its first control.
    choose("Options");
    OptionsWindow* options = windows().options();
    ASSERT_TRUE(QTest::qWaitForWindowActive(options));
    expectCentred(options);
    EXPECT_EQ(QApplication::focusWidget(), options->cmdCreate());
    EXPECT_EQ(options->size(), QSize(312, 191));
    choose("About");
    AboutWindow* about = windows().about();
    ASSERT_TRUE(QTest::qWaitForWindowActive(about));
    expectCentred(about);
    EXPECT_EQ(QApplication::focusWidget(), about->cmdWhatever());
}

TEST_F(LifecycleTest, ClosingFromTheFrameIsLikeTheOwnButton)
{
    choose("Options");
    choose("About");
    ASSERT_TRUE(windows().options()->close());
    ASSERT_TRUE(windows().about()->close());
    settle();
    EXPECT_EQ(windows().options(), nullptr);
    EXPECT_EQ(windows().about(), nullptr);
    EXPECT_EQ(openWindows(), "Form1");
}

TEST_F(LifecycleTest, OptionsKeepsWorkingAfterTheMainWindowClosed)
{
    choose("Options");
    OptionsWindow* options = windows().options();
    form->findChild<QAction*>(QStringLiteral("Exit"))->trigger();
    settle();
    ASSERT_EQ(controller.mainWindow(), nullptr);
    EXPECT_EQ(openWindows(), "frmCreate");

    QTest::mouseClick(options->cmdCreate(), Qt::LeftButton);
    QTest::mouseClick(options->cmdDelete(), Qt::LeftButton);
    ASSERT_EQ(answerer.seen.size(), 2u);
    EXPECT_EQ(answerer.seen[0].text.toStdString(), " Folders \\data\\global\\excel created ! ");
    EXPECT_EQ(answerer.seen[1].text.toStdString(), " Folders \\data\\global\\excel deleted !");
    EXPECT_FALSE(std::filesystem::exists(prefix.gameFolder() / "data"));
}

// The program ends when its last window closes, whichever that is. Each order of closing
// runs the real event loop with quitting on the last window on, as the program does.
TEST(ProgramEnd, EndsWhenTheLastWindowClosesWhicheverItIs)
{
    std::array<int, 3> order{0, 1, 2}; // 0 main window, 1 Options, 2 About
    do {
        ScratchFolder scratch{"velmoran-end"};
        SamplePrefix prefix{scratch.path()};
        TestPlatform services{prefix.prefix()};
        FixedRegistry registry{prefix.gameFolderWindows()};
        Controller controller{services.with(&registry)};
        MainWindow* form = controller.mainWindow();
        form->show();
        form->findChild<QAction*>(QStringLiteral("Options"))->trigger();
        form->findChild<QAction*>(QStringLiteral("About"))->trigger();

        const std::function<void()> close[] = {
            [&] {
                controller.mainWindow()->findChild<QAction*>(QStringLiteral("Exit"))->trigger();
            },
            [&] {
                QTest::mouseClick(controller.secondaryWindows().options()->cmdDone(),
                                  Qt::LeftButton);
            },
            [&] {
                QTest::mouseClick(controller.secondaryWindows().about()->cmdWhatever(),
                                  Qt::LeftButton);
            },
        };
        std::vector<std::string> log;
        bool running = false;
        std::size_t step = 0;
        QTimer ticks;
        ticks.setInterval(40);
        QObject::connect(&ticks, &QTimer::timeout, [&] {
            if (!running)
                return;
            if (step == order.size()) {
                log.push_back("still running after the last window closed");
                QApplication::exit(2);
                return;
            }
            log.push_back("close " + std::to_string(order[step]) + " of " + openWindows());
            close[order[step++]]();
        });
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [] { QApplication::exit(3); });

        QApplication::setQuitOnLastWindowClosed(true);
        ticks.start();
        guard.start(20000);
        running = true;
        const int result = QApplication::exec();
        running = false;
        QApplication::setQuitOnLastWindowClosed(false);

        const std::string names[] = {"Form1", "frmCreate", "frmAbout"};
        std::vector<std::string> expected;
        std::vector<std::string> open{"Form1", "frmAbout", "frmCreate"};
        for (int closed : order) {
            std::string list;
            for (const std::string& name : open)
                list += (list.empty() ? "" : " ") + name;
            expected.push_back("close " + std::to_string(closed) + " of " + list);
            std::erase(open, names[closed]);
        }
        EXPECT_EQ(result, 0) << "the event loop did not end when the last window closed";
        EXPECT_EQ(log, expected);
        settle();
    } while (std::next_permutation(order.begin(), order.end()));
}

} // namespace
