// The whole swap through the main window, as a user clicks it: pick a drive, Find, select
// an entry, Backup, Replace, Launch D2, Undo; every message answered, the game folder's
// bytes checked at every step.

#include "MessageBoxAnswerer.h"
#include "app/Controller.h"
#include "support/StandInWine.h"
#include "swap/SwapGame.h"
#include "ui/MainWindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <sys/xattr.h>

using namespace velmoran;
using namespace velmoran::testing;
namespace fs = std::filesystem;

namespace {

class PatchSwapEndToEnd : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!wine.available())
            GTEST_SKIP() << "no stand-in wine in " << testHelpersFolder();
        controller = std::make_unique<Controller>(game.platform());
        form = controller->mainWindow();
        form->show();
        QApplication::setActiveWindow(form);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
    }
    void TearDown() override
    {
        controller.reset();
    }

    template <typename T = QWidget> T* control(const char* name)
    {
        return form->findChild<T*>(QString::fromLatin1(name));
    }
    void click(const char* button)
    {
        answerer.seen.clear();
        QTest::mouseClick(control<QAbstractButton>(button), Qt::LeftButton);
        QApplication::processEvents();
    }
    // The messages the last click showed; every one titled "Velmoran", warning icon, OK.
    std::vector<std::string> messages()
    {
        std::vector<std::string> texts;
        for (const auto& seen : answerer.seen) {
            EXPECT_EQ(seen.title, QStringLiteral("Velmoran"));
            EXPECT_EQ(seen.icon, QMessageBox::Warning);
            EXPECT_EQ(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
            texts.push_back(seen.text.toStdString());
        }
        return texts;
    }
    std::vector<std::string> entries()
    {
        std::vector<std::string> list;
        auto* list1 = control<QListWidget>("List1");
        for (int i = 0; i < list1->count(); ++i)
            list.push_back(list1->item(i)->text().toStdString());
        return list;
    }
    ScratchFolder scratch{"velmoran-swap-gui"};
    SwapGame game{scratch.path()};
    fs::path record = scratch / "wine-record.txt";
    StandInWine wine{record};
    MessageBoxAnswerer answerer;
    std::unique_ptr<Controller> controller;
    MainWindow* form = nullptr;
};

TEST_F(PatchSwapEndToEnd, FindBackupReplaceLaunchUndo)
{
    const auto savesAtStart = game.saves();
    ASSERT_EQ(game.layout(), "original | no Backup | no save_Backup");

    // Pick drive d: and Find its two archives.
    auto* drive1 = control<QComboBox>("Drive1");
    int d = -1;
    for (int i = 0; i < drive1->count(); ++i)
        if (drive1->itemText(i).startsWith(QStringLiteral("d:")))
            d = i;
    ASSERT_GE(d, 0) << "Drive1 lists no d:";
    answerer.seen.clear();
    drive1->setCurrentIndex(d);
    QApplication::processEvents();
    EXPECT_TRUE(messages().empty()) << "d: was reported unreadable";
    click("cmdFind");
    const std::set<std::string> expected = {"d:\\Mods\\Median\\patch_d2.mpq",
                                            "d:\\Mods\\Eastern Sun\\PATCH_D2.MPQ"};
    ASSERT_TRUE(waitFor([&] { return entries().size() >= expected.size(); }));
    QTest::qWait(200); // nothing more arrives
    const std::vector<std::string> found = entries();
    EXPECT_EQ(std::set<std::string>(found.begin(), found.end()), expected);
    EXPECT_EQ(found.size(), expected.size());
    EXPECT_EQ(game.layout(), "original | no Backup | no save_Backup");

    // Replace with nothing selected.
    click("cmdReplace");
    EXPECT_EQ(messages(), std::vector<std::string>{"You didn't select a patch_d2"});
    EXPECT_EQ(game.layout(), "original | no Backup | no save_Backup");

    // Backup with the saves; the archive is hidden only once the message is closed.
    control<QCheckBox>("Check1")->setCheckState(Qt::Checked);
    std::vector<bool> hiddenWhileOpen;
    answerer.whileOpen = [&](const MessageBoxAnswerer::Seen&) {
        char value[16];
        const ssize_t n = ::getxattr((game.game() / "Backup" / "patch_d2.mpq").c_str(),
                                     "user.DOSATTRIB", value, sizeof value);
        hiddenWhileOpen.push_back(n > 0 &&
                                  std::string(value, static_cast<std::size_t>(n)) == "0x2");
    };
    click("cmdBackup");
    answerer.whileOpen = nullptr;
    EXPECT_EQ(messages(), std::vector<std::string>{" Backup created !!"});
    EXPECT_EQ(hiddenWhileOpen, std::vector<bool>{false});
    EXPECT_EQ(game.layout(), "- | Backup:original hidden | save_Backup");
    EXPECT_EQ(game.saves("save_Backup/save"), savesAtStart);

    // Select the Eastern Sun archive and Replace.
    auto* list1 = control<QListWidget>("List1");
    const auto chosen =
        std::find(found.begin(), found.end(), "d:\\Mods\\Eastern Sun\\PATCH_D2.MPQ");
    ASSERT_NE(chosen, found.end());
    list1->setCurrentRow(static_cast<int>(chosen - found.begin()));
    click("cmdReplace");
    EXPECT_EQ(messages(), std::vector<std::string>{" The patch_D2 has been replaced "});
    EXPECT_EQ(game.layout(), "Eastern Sun | Backup:original hidden | save_Backup");

    // Launch D2 with -w: the stand-in wine records the game's exe, the switch and the prefix.
    control<QCheckBox>("Check2")->setCheckState(Qt::Checked);
    click("cmdLaunch");
    EXPECT_TRUE(messages().empty());
    EXPECT_EQ(wine.recorded(),
              "cwd=" + game.game().string() + "\nWINEPREFIX=" + game.prefix.prefix().string() +
                  "\narg=" + game.prefix.gameFolderWindows() + "\\Diablo II.exe\narg=-w\n");
    EXPECT_TRUE(form->windowState() & Qt::WindowMinimized);
    form->showNormal();
    EXPECT_EQ(game.layout(), "Eastern Sun | Backup:original hidden | save_Backup");

    // The game was played: a save changed. Undo puts everything back.
    writeFile(game.game() / "save" / "Sorceress.d2s", standInBytes("played", 999));
    click("cmdUndo");
    EXPECT_EQ(messages(), std::vector<std::string>{" All changes are undone !!"});
    EXPECT_EQ(game.layout(), "original | no Backup | no save_Backup");
    EXPECT_EQ(readFile(game.game() / "patch_d2.mpq"), game.versions.at("original"));
    EXPECT_EQ(game.saves(), savesAtStart);

    // A second Undo finds nothing backed up: one clear failure, nothing changed.
    click("cmdUndo");
    const std::vector<std::string> second = messages();
    ASSERT_EQ(second.size(), 1u);
    EXPECT_NE(second[0].find("Backup\\patch_d2.mpq"), std::string::npos) << second[0];
    EXPECT_EQ(game.layout(), "original | no Backup | no save_Backup");
}

} // namespace
