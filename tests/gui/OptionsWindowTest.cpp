#include "ui/OptionsWindow.h"
#include "MessageBoxAnswerer.h"
#include "WindowDesign.h"
#include "app/Controller.h"
#include "support/Recorders.h"
#include "support/SamplePrefix.h"
#include "support/ScratchFolder.h"
#include "support/TestPlatform.h"
#include "ui/Widgets.h"

#include <QAction>
#include <QPushButton>

#include <filesystem>

using namespace velmoran;
using namespace velmoran::testing;
namespace fs = std::filesystem;

namespace {

const char* const CreateText =
    "The Create button will make the \\data\\global\\excel folders in your D2 folder. if you "
    "then use the -txt option and Launch D2 the bin files will be generated, you can then get "
    "them and insert them in your mpq like you did before. The delete button delete's the bin "
    "files and remove's the \\data\\global\\excel folders. i should note that storm.dll is "
    "copied into the  ..\\data folder please leave it there !!";

class OptionsWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        controller.mainWindow()->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(controller.mainWindow()));
        controller.mainWindow()->findChild<QAction*>(QStringLiteral("Options"))->trigger();
        window = controller.secondaryWindows().options();
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        ASSERT_TRUE(waitFor([&] { return QApplication::activeWindow() == window; }));
    }
    QPushButton* button(const char* name) const
    {
        return window->findChild<QPushButton*>(QString::fromLatin1(name));
    }
    fs::path excel() const { return prefix.gameFolder() / "data" / "global" / "excel"; }

    ScratchFolder scratch{"velmoran-options"};
    SamplePrefix prefix{scratch.path()};
    TestPlatform services{prefix.prefix()};
    FixedRegistry registry{prefix.gameFolderWindows()};
    MessageBoxAnswerer answerer;
    Controller controller{services.with(&registry)};
    OptionsWindow* window = nullptr;
};

TEST_F(OptionsWindowTest, EveryControlIsNamedCaptionedAndPlacedAsDesigned)
{
    const ControlDesign design[] = {
        {"cmdCreate", "Create", 360, 120, 1215, 495},
        {"Picture1", nullptr, 2040, 120, 615, 615},
        {"cmdDelete", "Delete", 3000, 120, 1215, 495},
        {"lblCreate", CreateText, 120, 840, 4335, 1455},
        {"cmdDone", "Done", 1680, 2280, 1215, 495},
    };
    expectDesign(window, design);
    EXPECT_EQ(std::string(CreateText).size(), 402u);
    EXPECT_EQ(window->objectName(), QStringLiteral("frmCreate"));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Velmoran"));
    EXPECT_EQ(window->size(), QSize(312, 191));
    EXPECT_EQ(window->minimumSize(), window->maximumSize()) << "the layout is fixed";
    EXPECT_EQ(window->children().size(), std::size(design)) << "no control beside the design";
    expectCentred(window);
}

TEST_F(OptionsWindowTest, OpensAsDesigned)
{
    EXPECT_EQ(QApplication::focusWidget(), button("cmdCreate"));
    expectTabOrder(window, {"cmdCreate", "cmdDelete", "cmdDone"});

    // The program icon on the title bar and, unscaled at its top-left, in Picture1.
    EXPECT_TRUE(window->testAttribute(Qt::WA_SetWindowIcon));
    EXPECT_EQ(window->windowIcon().pixmap(32, 32).toImage(), programPixmap().toImage());
    auto* picture = window->findChild<QLabel*>(QStringLiteral("Picture1"));
    EXPECT_EQ(picture->pixmap().toImage(), programPixmap().toImage());
    EXPECT_EQ(picture->pixmap().size(), QSize(32, 32));
    EXPECT_EQ(picture->alignment(), Qt::AlignLeft | Qt::AlignTop);

    // Every label lies below every other control: cmdDone overlaps lblCreate's last pixel
    // row and stays whole above it.
    for (const char* control : {"cmdCreate", "cmdDelete", "cmdDone", "Picture1"})
        EXPECT_GT(stackIndex(window, control), stackIndex(window, "lblCreate")) << control;
    EXPECT_EQ(window->childAt(150, 152), button("cmdDone"));

    // Window-modal or owned windows would block or follow the main window.
    EXPECT_EQ(window->parentWidget(), nullptr);
    EXPECT_EQ(window->windowModality(), Qt::NonModal);
    EXPECT_TRUE(controller.mainWindow()->isEnabled());
}

TEST_F(OptionsWindowTest, EnterAndEscapeTriggerNoButton)
{
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    for (const char* name : {"cmdCreate", "cmdDelete"}) {
        button(name)->setFocus();
        QTest::keyClick(button(name), Qt::Key_Return);
        QTest::keyClick(button(name), Qt::Key_Enter);
    }
    QApplication::processEvents();
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(answerer.seen.empty());
    EXPECT_FALSE(fs::exists(prefix.gameFolder() / "data"));
}

TEST_F(OptionsWindowTest, CreateAndDeleteWorkOnTheGameFolderAndReportInTheMessageBox)
{
    for (int round = 0; round < 2; ++round) {
        answerer.seen.clear();
        QTest::mouseClick(button("cmdCreate"), Qt::LeftButton);
        ASSERT_EQ(answerer.seen.size(), 1u);
        EXPECT_EQ(answerer.seen[0].text.toStdString(), " Folders \\data\\global\\excel created ! ");
        EXPECT_EQ(answerer.seen[0].title, QStringLiteral("Velmoran"));
        EXPECT_EQ(answerer.seen[0].icon, QMessageBox::Warning);
        EXPECT_TRUE(answerer.seen[0].modal);
        EXPECT_TRUE(fs::is_regular_file(excel() / "Storm.dll"));

        writeFile(excel() / "armor.bin", "generated by the game");
        QTest::mouseClick(button("cmdDelete"), Qt::LeftButton);
        ASSERT_EQ(answerer.seen.size(), 2u);
        EXPECT_EQ(answerer.seen[1].text.toStdString(), " Folders \\data\\global\\excel deleted !");
        EXPECT_EQ(answerer.seen[1].title, QStringLiteral("Velmoran"));
        EXPECT_FALSE(fs::exists(prefix.gameFolder() / "data"));
        EXPECT_TRUE(window->isVisible()) << "the window stays open";
    }
}

TEST_F(OptionsWindowTest, AFailedStepOrLookupIsOneClearMessage)
{
    QTest::mouseClick(button("cmdDelete"), Qt::LeftButton); // nothing to delete
    ASSERT_EQ(answerer.seen.size(), 1u);
    EXPECT_TRUE(answerer.seen[0].text.contains(QStringLiteral("\\data\\global\\excel\\*.*")))
        << answerer.seen[0].text.toStdString();
    EXPECT_FALSE(answerer.seen[0].text.contains(QStringLiteral("deleted !")));

    registry.value.reset();
    QTest::mouseClick(button("cmdCreate"), Qt::LeftButton);
    QTest::mouseClick(button("cmdDelete"), Qt::LeftButton);
    ASSERT_EQ(answerer.seen.size(), 3u);
    for (std::size_t i = 1; i < 3; ++i) {
        EXPECT_TRUE(answerer.seen[i].text.contains(QStringLiteral("install folder was not found")))
            << answerer.seen[i].text.toStdString();
        EXPECT_EQ(answerer.seen[i].title, QStringLiteral("Velmoran"));
    }
    EXPECT_FALSE(fs::exists(prefix.gameFolder() / "data"));
    EXPECT_TRUE(window->isVisible());
}

} // namespace
