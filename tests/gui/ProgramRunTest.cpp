// The program as a user runs it: windows opened and closed in any order, the swap clicked
// through end to end on a sample prefix, the search on its own thread.
#include "GuiTest.h"
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

#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QPushButton>

#include <algorithm>
#include <array>

using namespace velmoran;
using namespace velmoran::testing;
namespace fs = std::filesystem;
using Texts = std::vector<std::string>;

namespace {

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
        QTimer guard; // only a loop that never ends meets it
        guard.callOnTimeout([] { QApplication::exit(3); });
        guard.start(60000);
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
    game.run("no game");
    game.prefix.writeRegistry(nullptr);
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
