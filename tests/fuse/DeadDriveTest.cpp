// The program on a drive that stops answering, for real: a FUSE file system whose folders
// dead-list and dead-open never answer, mounted as drive f: of a sample prefix (and its
// dead-open as drive g:), used through the program's window as a user does.
#include "app/Controller.h"
#include "app/SearchRunner.h"
#include "core/TimeLimitedScanner.h"
#include "support/FuseMount.h"
#include "support/OffscreenMain.h"
#include "support/SampleGame.h"
#include "ui/MainWindow.h"
#include "ui/Widgets.h"

#include <QApplication>
#include <QComboBox>
#include <QListView>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace velmoran;
using namespace velmoran::testing;
using Texts = std::vector<std::string>;

namespace {

class DeadDrive : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!fs::exists("/dev/fuse"))
            GTEST_SKIP() << "there is no /dev/fuse here: a FUSE file system cannot be mounted";
        for (const char* folder : {"Mods", "Mods/Median", "dead-list", "dead-open", "Z"})
            writeFile(scratch / "disk" / folder / "patch_d2.mpq", "stand-in archive");
        mount = std::make_unique<FuseMount>(
            scratch / "disk", scratch / "mnt",
            std::vector<std::string>{"readdir:hang:/dead-list", "opendir:hang:/dead-open"});
        if (!mount->mounted())
            GTEST_SKIP() << "a FUSE file system cannot be mounted here: " << mount->failure();
        const fs::path devices = game.prefix.prefix() / "dosdevices";
        fs::create_directory_symlink(scratch / "mnt", devices / "f:");
        fs::create_directory_symlink(scratch / "mnt" / "dead-open", devices / "g:");
        fs::create_directory_symlink(scratch / "nowhere", devices / "h:");
        controller = std::make_unique<Controller>(game.services.real(), &messages);
        form = controller->mainWindow();
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
    }
    void TearDown() override
    {
        if (mount)
            mount->end(); // the reads that never answered fail now, and their threads end
        EXPECT_EQ(walkThreadsLeft(), 0u);
        controller.reset();
    }
    void selectDrive(const char* letter)
    {
        form->drive1()->setCurrentIndex(form->drive1()->findText(letter, Qt::MatchStartsWith));
    }
    void waitForTheEnd()
    {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !controller->searchRunner()->running(); }, 60000));
    }
    Texts list() const
    {
        Texts entries;
        for (int i = 0; i < form->list1()->model()->rowCount(); ++i)
            entries.push_back(form->list1()->model()->index(i, 0).data().toString().toStdString());
        return entries;
    }

    ScratchFolder scratch{"velmoran-dead-drive"};
    SampleGame game{scratch.path()};
    RecordingMessages messages;
    std::unique_ptr<FuseMount> mount;
    std::unique_ptr<Controller> controller;
    MainWindow* form = nullptr;
};

TEST_F(DeadDrive, FindListsWhatAnswersAndTellsTheFoldersThatDoNot)
{
    controller->searchRunner()->setAnswerLimit(std::chrono::milliseconds(500));
    selectDrive("f:");
    const std::string told = "2 folders could not be read and were passed over. The first:\n\n"
                             "Could not read the folder.\nf:\\dead-list\\\n\n"
                             "Reason: did not answer within 500 ms";
    // The second time, the folders whose reads are still blocked are not tried again.
    for (int find = 0; find < 2; ++find) {
        messages.shown.clear();
        QTest::mouseClick(form->cmdFind(), Qt::LeftButton);
        waitForTheEnd();
        EXPECT_EQ(list(), (Texts{"f:\\Mods\\patch_d2.mpq", "f:\\Mods\\Median\\patch_d2.mpq",
                                 "f:\\Z\\patch_d2.mpq"}));
        ASSERT_EQ(messages.shown.size(), 1u);
        EXPECT_EQ(messages.shown[0].text, told);
        EXPECT_EQ(messages.shown[0].title, "Velmoran");
        EXPECT_EQ(TimeLimitedScanner::blockedReads(), 2u); // dead-list's and dead-open's
    }
}

TEST_F(DeadDrive, NeitherASecondFindNorClosingTheWindowWaitsForAFolderThatNeverAnswers)
{
    controller->searchRunner()->setAnswerLimit(std::chrono::hours(1));
    selectDrive("f:");
    QTest::mouseClick(form->cmdFind(), Qt::LeftButton);
    ASSERT_TRUE(mount->waitUntilAsked("readdir /dead-list")); // which it waits for, for ever
    // Meanwhile the window shows what the walk found: the root's four folders counted.
    EXPECT_TRUE(QTest::qWaitFor([&] { return form->windowTitle() == "4"; }, 20000))
        << form->windowTitle().toStdString();
    QTest::mouseClick(form->cmdFind(), Qt::LeftButton); // returns: the first walk is let go
    EXPECT_TRUE(controller->searchRunner()->running());
    form->close(); // and so does closing the window
    QApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(controller->mainWindow(), nullptr);
    EXPECT_FALSE(controller->searchRunner()->running());
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_GT(ThreadLeftBehind::count(), 0u); // until the file system is killed
}

TEST_F(DeadDrive, ADriveThatNeverAnswersCannotBeReadAndTheWindowGoesOnMeanwhile)
{
    controller->drives().setLimit(std::chrono::milliseconds(500));
    bool ranMeanwhile = false;
    QTimer::singleShot(0, form, [&] { ranMeanwhile = true; });
    selectDrive("g:");
    EXPECT_TRUE(ranMeanwhile);
    const std::string drive = "g: [" + (scratch / "mnt" / "dead-open").string() + "]";
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text, "No Disk was found on drive " + drive);
    EXPECT_EQ(messages.shown[0].title, "Velmoran ");
    EXPECT_EQ(form->drive1()->currentText().left(2), "c:");
    // Asked again while its read still hangs, it is told so without a second read: of the
    // threads that tested drives, only that read stays (the others end when they will).
    selectDrive("g:");
    ASSERT_EQ(messages.shown.size(), 2u);
    EXPECT_EQ(messages.shown[1].text, messages.shown[0].text);
    EXPECT_TRUE(QTest::qWaitFor([] { return ThreadLeftBehind::count() == 1; }))
        << ThreadLeftBehind::count();
    selectDrive("h:"); // a drive that leads nowhere fails by itself, at once
    ASSERT_EQ(messages.shown.size(), 3u);
    EXPECT_EQ(messages.shown[2].text,
              "No Disk was found on drive h: [" + (scratch / "nowhere").string() + "]");
}

} // namespace

int main(int argc, char** argv)
{
    return velmoran::testing::runOffscreenTests(argc, argv);
}
