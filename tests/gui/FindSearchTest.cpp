#include "MessageBoxAnswerer.h"
#include "app/Controller.h"
#include "app/SearchRunner.h"
#include "core/FindCommand.h"
#include "support/Recorders.h"
#include "support/ScratchFolder.h"
#include "support/SearchDrives.h"
#include "support/TestPlatform.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

using namespace velmoran;
using namespace velmoran::testing;
namespace fs = std::filesystem;

namespace {

// A scratch folder in memory where there is a tmpfs: big trees are made and removed there
// in a moment, whatever the disk is doing.
std::unique_ptr<ScratchFolder> memoryScratch()
{
    const char* old = std::getenv("TMPDIR");
    const std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
    if (fs::is_directory("/dev/shm"))
        ::setenv("TMPDIR", "/dev/shm", 1);
    auto folder = std::make_unique<ScratchFolder>("velmoran-gui-search");
    if (saved)
        ::setenv("TMPDIR", saved->c_str(), 1);
    else
        ::unsetenv("TMPDIR");
    return folder;
}

std::vector<std::string> listEntries(QListWidget* list)
{
    std::vector<std::string> entries;
    for (int i = 0; i < list->count(); ++i)
        entries.push_back(list->item(i)->text().toStdString());
    return entries;
}

int threadCount()
{
    int count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/task"))
        ++count;
    return count;
}

class FindSearchTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        form = controller.mainWindow();
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
    }
    fs::path c(const fs::path& relative = {}) const { return drives.drive('c') / relative; }
    void archive(const fs::path& relative) const { writeFile(c(relative), "archive"); }
    // 30,000 folders, a match in every hundredth: a walk that takes a while.
    void bigTree() const
    {
        char name[32];
        for (int m = 0; m < 300; ++m)
            for (int v = 0; v < 100; ++v) {
                std::snprintf(name, sizeof name, "Mods/m%03d/v%02d", m, v);
                fs::create_directories(c(name));
                if (v == 0)
                    writeFile(c(name) / "patch_d2.mpq", name);
            }
    }
    std::vector<std::string> quietWalk()
    {
        struct Entries : SearchObserver
        {
            void subfolderFound(std::uint64_t) override {}
            void matchFound(const std::string& e) override { entries.push_back(e); }
            void folderPassedOver(const OperationError&) override {}
            std::vector<std::string> entries;
        } seen;
        FindFiles(services.real().files, "c:\\", PatchFileName, seen);
        return seen.entries;
    }
    void clickFind() { QTest::mouseClick(form->cmdFind(), Qt::LeftButton); }
    QString caption() const { return form->windowTitle(); }
    // The search has ended when the end rules have run: until then the caption is a count.
    void settle(int ms = 300) { QTest::qWait(ms); }

    std::unique_ptr<ScratchFolder> scratch = memoryScratch();
    SearchDrives drives{scratch->path()};
    TestPlatform services{drives.prefix()};
    MessageBoxAnswerer answerer;
    Controller controller{services.real()};
    MainWindow* form = nullptr;
};

TEST_F(FindSearchTest, TheExampleDriveFillsList1AndLeavesTheLastCount)
{
    archive("patch_d2.mpq");
    archive("A/patch_d2.mpq");
    archive("B/C/patch_d2.mpq");
    form->list1()->addItem(QStringLiteral("from an earlier search"));
    const std::vector<std::string> expected = quietWalk();
    ASSERT_EQ(expected.size(), 3u);

    clickFind();
    ASSERT_TRUE(waitFor([&] { return form->list1()->count() == 3; }));
    settle();
    EXPECT_EQ(listEntries(form->list1()), expected);
    EXPECT_EQ(caption(), QStringLiteral("1"));
    EXPECT_TRUE(answerer.seen.empty());
}

TEST_F(FindSearchTest, NoneAndOneMatchEndWithTheDesignedCaptionAndMessage)
{
    clickFind();
    ASSERT_TRUE(waitFor([&] { return answerer.seen.size() == 1; }));
    EXPECT_EQ(answerer.seen[0].text, QString::fromLatin1(NothingFoundMessage));
    EXPECT_EQ(answerer.seen[0].title, QStringLiteral("Velmoran"));
    EXPECT_EQ(answerer.seen[0].icon, QMessageBox::Warning);
    ASSERT_TRUE(waitFor([&] { return caption() == QStringLiteral(" Velmoran "); }));

    archive("Mods/Only/PATCH_D2.MPQ");
    form->setWindowTitle(QStringLiteral("Velmoran"));
    clickFind();
    ASSERT_TRUE(waitFor([&] { return caption() == QStringLiteral(" Velmoran "); }));
    settle();
    EXPECT_EQ(listEntries(form->list1()), std::vector<std::string>{"c:\\Mods\\Only\\PATCH_D2.MPQ"});
    EXPECT_EQ(answerer.seen.size(), 1u);
}

TEST_F(FindSearchTest, ASecondFindDuringASearchStartsAfresh)
{
    bigTree();
    const std::vector<std::string> expected = quietWalk();
    ASSERT_EQ(expected.size(), 300u);

    // The second click comes while the first walk has only just started.
    clickFind();
    clickFind();
    ASSERT_TRUE(waitFor([&] { return form->list1()->count() >= 300; }, 60000));
    settle();
    EXPECT_EQ(listEntries(form->list1()), expected); // each entry once, in walk order
    EXPECT_TRUE(answerer.seen.empty());

    // And once more, after a search has ended: the earlier entries go first.
    clickFind();
    ASSERT_TRUE(waitFor([&] { return form->list1()->count() < 300; }));
    ASSERT_TRUE(waitFor([&] { return form->list1()->count() >= 300; }, 60000));
    settle();
    EXPECT_EQ(listEntries(form->list1()), expected);
}

TEST_F(FindSearchTest, OtherCommandsAndTheWindowStayLiveDuringASearch)
{
    bigTree();
    clickFind();
    // The click returns at once: the walk goes on away from the window's thread.
    EXPECT_LT(form->list1()->count(), 300);
    // While the walk goes on, the drive list and the check boxes still answer.
    QCheckBox* w = form->check(2);
    QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(6, w->height() / 2));
    EXPECT_EQ(form->check(2)->checkState(), Qt::Checked);
    ASSERT_TRUE(waitFor([&] { return form->list1()->count() >= 300; }, 60000));
}

TEST_F(FindSearchTest, ClosingTheMainWindowStopsTheSearch)
{
    bigTree();
    const int before = threadCount();
    clickFind();
    ASSERT_TRUE(waitFor([&] { return form->list1()->count() > 0; }, 60000));
    form->close();
    ASSERT_TRUE(waitFor([&] { return controller.mainWindow() == nullptr; }));
    EXPECT_EQ(threadCount(), before); // the walk's thread has ended
    settle();
    EXPECT_TRUE(answerer.seen.empty());
}

TEST_F(FindSearchTest, AnUnreadableDriveIsToldAndCIsSelected)
{
    drives.addMissingDrive('a');
    const QStringList names = {QStringLiteral("a:"), QStringLiteral("c:")};
    form->setDrives(names, QStringLiteral("c:")); // as a drive list names a floppy drive
    form->list1()->addItem(QStringLiteral("kept"));
    form->setWindowTitle(QStringLiteral("kept"));

    form->drive1()->setCurrentIndex(0);
    ASSERT_TRUE(waitFor([&] { return answerer.seen.size() == 1; }));
    EXPECT_EQ(answerer.seen[0].text, QStringLiteral("No Disk in drive A:"));
    EXPECT_EQ(answerer.seen[0].title, QStringLiteral(" Velmoran "));
    ASSERT_TRUE(waitFor([&] { return form->drive1()->currentText() == QStringLiteral("c:"); }));
    settle(100);
    EXPECT_EQ(answerer.seen.size(), 1u); // c: can be read: nothing more
    EXPECT_EQ(form->list1()->count(), 1);
    EXPECT_EQ(caption(), QStringLiteral("kept"));

    // With the names this platform gives, a: carries its target: the general message.
    QStringList real;
    for (const std::string& name : services.real().drives.driveNames())
        real << QString::fromStdString(name);
    form->setDrives(real, real.last());
    const int a = form->drive1()->findText(QStringLiteral("a:"), Qt::MatchStartsWith);
    ASSERT_GE(a, 0);
    form->drive1()->setCurrentIndex(a);
    ASSERT_TRUE(waitFor([&] { return answerer.seen.size() == 2; }));
    EXPECT_EQ(answerer.seen[1].text, QStringLiteral("No Disk was found on drive ") + real[a]);
    EXPECT_EQ(answerer.seen[1].title, QStringLiteral("Velmoran "));
    EXPECT_TRUE(form->drive1()->currentText().startsWith(QStringLiteral("c:")));
}

// The runner alone: reports of a stopped walk never arrive.
TEST(SearchRunnerTest, AStoppedOrRestartedWalkReportsNothingMore)
{
    std::unique_ptr<ScratchFolder> scratch = memoryScratch();
    SearchDrives drives{scratch->path()};
    TestPlatform services{drives.prefix()};
    char name[32];
    for (int m = 0; m < 100; ++m)
        for (int v = 0; v < 100; ++v) {
            std::snprintf(name, sizeof name, "m%03d/v%02d", m, v);
            fs::create_directories(drives.drive('c') / name);
        }
    writeFile(drives.drive('c') / "m000" / "patch_d2.mpq", "x");

    std::vector<std::string> entries;
    std::vector<SearchSummary> ends;
    SearchRunner runner(
        services.real().files,
        [&](SearchBatch&& batch) {
            entries.insert(entries.end(), batch.matches.begin(), batch.matches.end());
        },
        [&](const SearchSummary& summary, const std::string& failure) {
            EXPECT_EQ(failure, "");
            ends.push_back(summary);
        });

    runner.start("c:\\");
    runner.start("c:\\"); // the first is stopped before it could report
    EXPECT_TRUE(runner.running());
    ASSERT_TRUE(waitFor([&] { return !ends.empty(); }, 60000));
    QTest::qWait(100);
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(entries, std::vector<std::string>{"c:\\m000\\patch_d2.mpq"});
    EXPECT_EQ(ends[0].foldersRead, 10101u);
    EXPECT_FALSE(ends[0].stopped);
    EXPECT_FALSE(runner.running());

    entries.clear();
    runner.start("c:\\");
    runner.stop();
    EXPECT_FALSE(runner.running());
    QTest::qWait(100);
    EXPECT_EQ(ends.size(), 1u);
    EXPECT_TRUE(entries.empty());
}

} // namespace
