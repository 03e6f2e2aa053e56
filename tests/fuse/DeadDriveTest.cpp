// The program on a drive that stops answering, for real: a FUSE file system whose folders
// dead-list and dead-open never answer, mounted as drive f: of a sample prefix (and its
// dead-open as drive g:), used through the program's window as a user does.
#include "app/Controller.h"
#include "app/SearchRunner.h"
#include "core/TimeLimitedScanner.h"
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

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace velmoran;
using namespace velmoran::testing;
using Texts = std::vector<std::string>;

namespace {

// The FUSE file system mounted on a folder while the object lives: its process is killed
// (so that every read it never answered fails at once) and the folder unmounted at the end,
// whatever the test found.
class DeadFolderMount
{
public:
    explicit DeadFolderMount(const fs::path& point)
        : m_point(point), m_log(point.parent_path() / "fuse.log")
    {
        fs::create_directories(point);
        const std::string log = m_log.string();
        struct stat parent = {}, st = {};
        ::stat(point.parent_path().c_str(), &parent);
        m_process = ::fork();
        if (m_process == 0) {
            const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(out, 1);
            ::dup2(out, 2);
            ::execl(VELMORAN_DEAD_FOLDER_FS, VELMORAN_DEAD_FOLDER_FS, point.c_str(), nullptr);
            ::_exit(127);
        }
        // Mounted once the folder lies on a device of its own, unless the program ended first.
        bool ended = false;
        const auto settled = [&] {
            return (::stat(point.c_str(), &st) == 0 && st.st_dev != parent.st_dev) ||
                   (ended = ::waitpid(m_process, nullptr, WNOHANG) == m_process);
        };
        m_mounted = QTest::qWaitFor(settled, 20000) && !ended;
        if (ended) {
            m_process = -1;
            m_failure = readFile(log);
        } else if (!m_mounted) {
            m_failure = "the file system did not come up within 20 s";
        }
    }
    ~DeadFolderMount() { end(); }
    void end()
    {
        if (m_process > 0) {
            ::kill(m_process, SIGKILL);
            ::waitpid(m_process, nullptr, 0);
            m_process = -1;
        }
        const std::string unmount = "fusermount3 -u -z '" + m_point.string() + "' 2>/dev/null";
        if (std::exchange(m_mounted, false) && std::system(unmount.c_str()) != 0)
            ADD_FAILURE() << "could not unmount " << m_point;
    }
    bool mounted() const { return m_mounted; }
    // Waits until the file system has been asked for a request that it never answers, as
    // "readdir /dead-list"; false when it has not within 20 s.
    bool waitUntilAsked(const std::string& request) const
    {
        return QTest::qWaitFor(
            [&] { return readFile(m_log).find("never answering " + request) != std::string::npos; },
            20000);
    }
    const std::string& failure() const { return m_failure; }

private:
    fs::path m_point, m_log;
    pid_t m_process = -1;
    bool m_mounted = false;
    std::string m_failure;
};

class DeadDrive : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!fs::exists("/dev/fuse"))
            GTEST_SKIP() << "there is no /dev/fuse here: a FUSE file system cannot be mounted";
        mount = std::make_unique<DeadFolderMount>(scratch / "mnt");
        if (!mount->mounted())
            GTEST_SKIP() << "a FUSE file system cannot be mounted here: " << mount->failure();
        const fs::path devices = game.prefix.prefix() / "dosdevices";
        fs::create_directory_symlink(scratch / "mnt", devices / "f:");
        fs::create_directory_symlink(scratch / "mnt" / "dead-open", devices / "g:");
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
    std::unique_ptr<DeadFolderMount> mount;
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
}

} // namespace

int main(int argc, char** argv)
{
    return velmoran::testing::runOffscreenTests(argc, argv);
}
