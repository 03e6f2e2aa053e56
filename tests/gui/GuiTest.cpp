// The program as a user sees it: each window as designed, opened and closed, clicked through.
#include "app/Controller.h"
#include "app/SearchRunner.h"
#include "support/OffscreenMain.h"
#include "support/SampleGame.h"
#include "support/StandIns.h"
#include "support/TestPlatform.h"
#include "support/UnansweringFiles.h"
#include "ui/AboutWindow.h"
#include "ui/MainWindow.h"
#include "ui/OptionsWindow.h"
#include "ui/QtMainWindowControls.h"
#include "ui/Widgets.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace velmoran;
using namespace velmoran::testing;

namespace {

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
    void choose(const char* menuItem)
    {
        form->findChild<QAction*>(menuItem)->trigger();
        QApplication::processEvents();
    }
    std::string click(QWidget* button) // "<title>: <text>" of the one message it brought, or ""
    {
        messages.shown.clear();
        QTest::mouseClick(button, Qt::LeftButton);
        EXPECT_LE(messages.shown.size(), 1u);
        return messages.shown.empty() ? ""
                                      : messages.shown[0].title + ": " + messages.shown[0].text;
    }

    ScratchFolder scratch{"velmoran-run"};
    SampleGame game{scratch.path()};
    StandInPrograms programs{scratch / "stand-ins"};
    RecordingMessages messages;
    Controller controller{game.services.real(), &messages};
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
    {"List1", "QListView", nullptr, 120, 1800, 4095, 840, 1},
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
    bool icon; // the program's icon, or none
};
const Window Windows[] = {
    {nullptr, "Form1", "Velmoran", {292, 378}, MainDesign, true},
    {"Options", "frmCreate", "Velmoran", {312, 191}, OptionsDesign, true},
    {"About", "frmAbout", "About Orvick's Velmoran", {312, 190}, AboutDesign, false}};

// Every control of `client` as the table has it, stacked in order, Tab going round in order.
void expectDesign(QWidget* client, const std::vector<Control>& design)
{
    std::vector<std::string> stacked, names, tabOrder(design.size());
    for (QObject* child : client->children())
        if (child->isWidgetType() && !child->objectName().startsWith("qt_"))
            stacked.push_back(child->objectName().toStdString());
    for (const Control& c : design) {
        names.push_back(c.name);
        auto* w = client->findChild<QWidget*>(c.name, Qt::FindDirectChildrenOnly);
        ASSERT_NE(w, nullptr) << c.name;
        EXPECT_STREQ(w->metaObject()->className(), c.kind) << c.name;
        EXPECT_EQ(w->geometry(), QRect(c.left / 15, c.top / 15, c.width / 15, c.height / 15))
            << c.name;
        EXPECT_EQ(w->isVisible(), std::string(c.name) != "Dir1") << c.name;
        EXPECT_EQ(w->font().pointSizeF(), 8.25) << c.name;
        EXPECT_EQ(w->property("text").toString().toStdString(), c.caption ? c.caption : "")
            << c.name;
        if (c.tab >= 0)
            tabOrder[static_cast<std::size_t>(c.tab)] = c.name;
        else
            EXPECT_TRUE(qobject_cast<QLabel*>(w) || !(w->focusPolicy() & Qt::TabFocus)) << c.name;
    }
    EXPECT_EQ(stacked, names);
    std::erase(tabOrder, "");
    for (std::size_t i = 0; i <= tabOrder.size(); ++i) {
        if (i > 0)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget()->objectName().toStdString(),
                  tabOrder[i % tabOrder.size()]);
    }
}

TEST_F(ProgramRun, EachWindowAsDesignedWithItsIcon)
{
    for (const Window& w : Windows) {
        SCOPED_TRACE(w.name);
        if (w.menuItem)
            choose(w.menuItem);
        QWidget* window = w.menuItem ? QApplication::activeWindow() : form;
        ASSERT_TRUE(QTest::qWaitForWindowActive(window) && window->objectName() == w.name);
        QWidget* client = w.menuItem ? window : form->centralWidget();
        expectDesign(client, w.design);
        EXPECT_EQ(window->windowTitle(), w.title);
        EXPECT_EQ(client->size(), w.size);
        EXPECT_EQ(window->windowModality(), Qt::NonModal);
        EXPECT_EQ(window->windowIcon().pixmap(32, 32).toImage(),
                  w.icon ? programPixmap().toImage() : QImage());
    }
    EXPECT_EQ(form->list1()->layoutMode(), QListView::Batched); // thousands of entries flow
    EXPECT_EQ(form->lblURL()->cursor().shape(), Qt::BitmapCursor);
}

TEST_F(ProgramRun, EveryButtonAndWindowWorksAndTheProgramEndsWithTheLastWindow)
{
    form->drive1()->setCurrentIndex(form->drive1()->findText("d:", Qt::MatchStartsWith));
    EXPECT_EQ(click(form->cmdFind()), "");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !controller.searchRunner()->running(); }, 20000));
    EXPECT_EQ(form->list1()->model()->rowCount(), 2);
    EXPECT_EQ(form->windowTitle(), "2");
    form->check(1)->setCheckState(Qt::Checked);
    EXPECT_EQ(click(form->cmdBackup()), "Velmoran:  Backup created !!");
    form->list1()->setCurrentIndex(form->list1()->model()->index(0, 0));
    EXPECT_EQ(click(form->cmdReplace()), "Velmoran:  The patch_D2 has been replaced ");
    EXPECT_EQ(game.layout(), "Eastern Sun | Backup:original hidden | save_Backup | copy: "
                             "Barbarian.d2s Sorceress.d2s Sorceress.key");
    form->check(2)->setCheckState(Qt::Checked);
    form->check(3)->setCheckState(Qt::PartiallyChecked);
    EXPECT_EQ(click(form->cmdLaunch()), "");
    EXPECT_EQ(programs.waitFor("wine", 1).at(0).back(), "arg=-w"); // -txt is greyed
    EXPECT_TRUE(form->windowState() & Qt::WindowMinimized);
    EXPECT_EQ(click(form->cmdUndo()), "Velmoran:  All changes are undone !!");
    EXPECT_EQ(game.layout(), "original | no Backup | no save_Backup");
    EXPECT_NE(click(form->cmdUndo()).find("Backup\\patch_d2.mpq"), std::string::npos);
    EXPECT_EQ(click(form->lblURL()), ""); // the desktop's opener gets the link's address
    EXPECT_EQ(programs.waitFor("xdg-open", 1).at(0).back(), "arg=http://velmoran.example.org");
    // Each window opens once and closes alone; Options works on without the main window.
    choose("Options");
    OptionsWindow* options = windows.options();
    ASSERT_TRUE(options && QTest::qWaitForWindowActive(options));
    options->showMinimized();
    choose("About");
    AboutWindow* about = windows.about();
    ASSERT_TRUE(about && QTest::qWaitForWindowActive(about));
    choose("Options"); // the one copy, brought back and to the front where it stands
    EXPECT_EQ(windows.options(), options);
    EXPECT_TRUE(QTest::qWaitForWindowActive(options));
    QTest::mouseClick(options->cmdDone(), Qt::LeftButton);
    EXPECT_EQ(openWindows(), "Form1 frmAbout");
    EXPECT_EQ(windows.options(), nullptr);
    about->close(); // from its frame
    EXPECT_EQ(openWindows(), "Form1");
    EXPECT_EQ(windows.about(), nullptr);
    choose("Options");
    options = windows.options();
    form->findChild<QAction*>("Exit")->trigger();
    EXPECT_EQ(openWindows(), "frmCreate");
    EXPECT_EQ(controller.mainWindow(), nullptr);
    EXPECT_EQ(click(options->cmdCreate()), "Velmoran:  Folders \\data\\global\\excel created ! ");
    EXPECT_EQ(click(options->cmdDelete()), "Velmoran:  Folders \\data\\global\\excel deleted !");
    QTest::mouseClick(options->cmdDone(), Qt::LeftButton);
    EXPECT_EQ(openWindows(), ""); // the program ends
}

TEST(MainWindowControls, AListEntryComesBackByteForByteEvenWhereItIsNotUtf8)
{
    MainWindow form;
    QtMainWindowControls controls(&form);
    std::vector<std::string> entries, back;
    for (int i = 0; i < 20; ++i) // entries share their starts, kept whole every 16 entries
        entries.push_back(i % 3 ? "d:\\caf\xE9\\" + std::to_string(i) + "\\patch_d2.mpq"
                                : "d:\\Caf\xC3\xA9\\patch_d2.mpq");
    controls.appendToList(entries);
    for (int i = 0; i < controls.listCount(); ++i)
        back.push_back(controls.listText(i));
    EXPECT_EQ(back, entries);
}

// A tree without end: every folder holds the archive and one more folder.
struct EndlessTree : ForwardingFiles
{
    using ForwardingFiles::ForwardingFiles;
    void scanFolder(const std::string& folder, const std::string& name, FolderScan& result) override
    {
        result.clear();
        result.subfolders = {"deeper"};
        result.subfolderIds = {{1, folder.size() + 1}};
        result.matches = {name};
        ++scans;
    }
    std::atomic<unsigned> scans = 0;
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
    (void)QTest::qWaitFor([&] { return entries > 0; }, 20000);
    runner.stop(); // does not wait: the walk without end ends by itself
    const std::size_t seen = entries;
    EXPECT_FALSE(runner.running());
    QApplication::processEvents();
    EXPECT_EQ(entries, seen);
    EXPECT_GT(seen, 0u);
    EXPECT_EQ(ends, 0u);
    { // a runner that goes while its walk runs stops it as well
        SearchRunner gone(
            tree, [](SearchBatch&&) {}, [](const SearchSummary&, const std::string&) {});
        gone.start("c:\\");
    }
    EXPECT_EQ(walkThreadsLeft(), 0u); // before `tree` goes
}

// What a walk had sent before a new Find replaced it never reaches the window.
TEST(SearchRunnerTest, WhatAReplacedWalkSentBeforeItsEndIsDropped)
{
    ScratchFolder scratch{"velmoran-replaced"};
    TestPlatform services{scratch.path()};
    EndlessTree tree{services.real().files};
    std::vector<std::string> entries;
    SearchRunner runner(
        tree,
        [&](SearchBatch&& b) { entries.insert(entries.end(), b.matches.begin(), b.matches.end()); },
        [](const SearchSummary&, const std::string&) {});
    runner.setInterval(std::chrono::milliseconds(0)); // a batch for every match
    runner.start("c:\\");
    // Three folders read: their batches wait in the window's queue, which nothing empties yet.
    for (int i = 0; i < 20000 && tree.scans < 3; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    runner.start("d:\\");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !entries.empty(); }, 20000));
    runner.stop();
    EXPECT_EQ(entries.front(), "d:\\patch_d2.mpq");
    EXPECT_EQ(walkThreadsLeft(), 0u); // before `tree` goes
}

TEST(SearchRunnerTest, AWalkStoppedWhileAReadIsBlockedIsNotWaitedForAndReportsNothingLater)
{
    ScratchFolder scratch{"velmoran-blocked"};
    fs::create_directories(scratch / "prefix");
    for (const char* folder : {"A", "Dead", "Z"})
        writeFile(scratch / "tree" / folder / "patch_d2.mpq", "");
    TestPlatform services{scratch / "prefix"};
    UnansweringFiles files(services.real().files, {"\\Dead\\"});
    std::size_t batches = 0, ends = 0;
    {
        SearchRunner runner(
            files, [&](SearchBatch&&) { ++batches; },
            [&](const SearchSummary&, const std::string&) { ++ends; });
        runner.setAnswerLimit(std::chrono::hours(1)); // never reached
        runner.start((scratch / "tree").string());
        files.waitUntilBlocked(1);
        runner.stop(); // at once, though the walk waits for the read of Dead
        runner.start((scratch / "tree").string()); // and a new walk starts at once
        runner.stop();
        QApplication::processEvents();
        batches = ends = 0;
        files.release(); // Dead's read fails now, and the stopped walks go on to Z
        EXPECT_EQ(walkThreadsLeft(), 0u);
        QApplication::processEvents();
    } // the runner is gone as well
    QApplication::processEvents();
    EXPECT_EQ(batches, 0u);
    EXPECT_EQ(ends, 0u);
}

// A layer that runs out of memory on every folder read, move and copy.
struct ExhaustedFiles : ForwardingFiles
{
    using ForwardingFiles::ForwardingFiles;
    void scanFolder(const std::string&, const std::string&, FolderScan&) override
    {
        throw std::bad_alloc();
    }
    bool moveFile(const std::string&, const std::string&) override { throw std::bad_alloc(); }
    void copyFile(const std::string&, const std::string&) override { throw std::bad_alloc(); }
};

TEST(ControllerTest, AFailureNoCommandExpectsIsToldAndEndsThatCommandOnly)
{
    ScratchFolder scratch{"velmoran-exhausted"};
    SampleGame game{scratch.path()};
    ExhaustedFiles files{game.services.real().files};
    RecordingMessages messages;
    Controller controller{game.services.with(nullptr, nullptr, &files), &messages};
    const std::string cause = std::bad_alloc().what();
    QTest::mouseClick(controller.mainWindow()->cmdFind(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !messages.shown.empty(); }, 20000));
    EXPECT_EQ(messages.shown[0].text, "The search ended early.\n\n" + cause); // not "not found"
    EXPECT_EQ(controller.mainWindow()->windowTitle(), " Velmoran ");
    QTest::mouseClick(controller.mainWindow()->cmdBackup(), Qt::LeftButton);
    ASSERT_EQ(messages.shown.size(), 2u);
    EXPECT_EQ(messages.shown[1].text, "Velmoran met an unexpected error and stopped the command; "
                                      "nothing after the failing step was done.\n\n" +
                                          cause);
    EXPECT_EQ(messages.shown[1].title, "Velmoran");
    EXPECT_EQ(readFile(game.game() / "patch_d2.mpq"), game.versions["original"]);
}

} // namespace

int main(int argc, char** argv)
{
    return velmoran::testing::runOffscreenTests(argc, argv);
}
