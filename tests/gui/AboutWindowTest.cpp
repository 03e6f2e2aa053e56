#include "ui/AboutWindow.h"
#include "WindowDesign.h"
#include "app/Controller.h"
#include "support/Recorders.h"
#include "support/SamplePrefix.h"
#include "support/ScratchFolder.h"
#include "support/TestPlatform.h"
#include "ui/Widgets.h"

#include <QAction>
#include <QPushButton>

using namespace velmoran;
using namespace velmoran::testing;

namespace {

const char* const CreditsText =
    "This program will let you Launch any mod , or test your mods , it can generate bin files "
    "using the -txt and -direct options , or you can run Diablo II in a window using the -w "
    "option. i would like to thank Brindlecove , Ostrevin  , Quorvane and Halmerick thanks to "
    "Plenwick for helping me with registry issue and Varnhoe for all the testing , you should "
    "use this tool at own risk!!";

class AboutWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        controller.mainWindow()->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(controller.mainWindow()));
        controller.mainWindow()->findChild<QAction*>(QStringLiteral("About"))->trigger();
        window = controller.secondaryWindows().about();
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    }

    ScratchFolder scratch{"velmoran-about"};
    SamplePrefix prefix{scratch.path()};
    TestPlatform services{prefix.prefix()};
    FixedRegistry registry{prefix.gameFolderWindows()};
    Controller controller{services.with(&registry)};
    AboutWindow* window = nullptr;
};

TEST_F(AboutWindowTest, EveryControlIsNamedCaptionedAndPlacedAsDesigned)
{
    const ControlDesign design[] = {
        {"Picture1", nullptr, 480, 120, 615, 495},
        {"Label1", "Orvick's Velmoran", 1080, 240, 2535, 375},
        {"Picture2", nullptr, 3600, 120, 615, 495},
        {"Label3", "Version 1.0.4", 1680, 480, 1215, 375},
        {"Label2", CreditsText, 120, 960, 4455, 1335},
        {"cmdWhatever", "Whatever", 2880, 2280, 1215, 495},
        {"Label4", "Later All , Orvick", 1320, 2400, 1215, 495},
    };
    expectDesign(window, design);
    EXPECT_EQ(window->objectName(), QStringLiteral("frmAbout"));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("About Orvick's Velmoran"));
    EXPECT_EQ(window->size(), QSize(312, 190));
    EXPECT_EQ(window->minimumSize(), window->maximumSize()) << "the layout is fixed";
    EXPECT_EQ(window->children().size(), std::size(design)) << "no control beside the design";
    expectCentred(window);
}

TEST_F(AboutWindowTest, ShowsTheBuildsOwnVersion)
{
    // The version is set once, as the build's project version, and shown from there.
    EXPECT_EQ(std::string(VELMORAN_VERSION), "1.0.4");
    EXPECT_EQ(versionCaption(), QStringLiteral("Version " VELMORAN_VERSION));
    EXPECT_EQ(window->findChild<QLabel*>(QStringLiteral("Label3"))->text(), versionCaption());
}

TEST_F(AboutWindowTest, OpensAsDesigned)
{
    // The picture boxes take no focus: the only button has it, and Tab keeps it there.
    EXPECT_EQ(QApplication::focusWidget(), window->cmdWhatever());
    expectTabOrder(window, {"cmdWhatever"});

    // No icon of its own; both pictures show the program icon unscaled at their top-left.
    EXPECT_FALSE(window->testAttribute(Qt::WA_SetWindowIcon));
    for (const char* name : {"Picture1", "Picture2"}) {
        auto* picture = window->findChild<QLabel*>(QString::fromLatin1(name));
        EXPECT_EQ(picture->pixmap().toImage(), programPixmap().toImage()) << name;
        EXPECT_EQ(picture->alignment(), Qt::AlignLeft | Qt::AlignTop) << name;
        EXPECT_EQ(picture->focusPolicy(), Qt::NoFocus) << name;
    }

    // Stacking: Label3 above Label1, the pictures and the button above every label.
    EXPECT_GT(stackIndex(window, "Label3"), stackIndex(window, "Label1"));
    for (const char* control : {"Picture1", "Picture2", "cmdWhatever"})
        for (const char* label : {"Label1", "Label2", "Label3", "Label4"})
            EXPECT_GT(stackIndex(window, control), stackIndex(window, label))
                << control << " over " << label;
    EXPECT_EQ(window->childAt(72, 20)->objectName(), QStringLiteral("Picture1"));
    EXPECT_EQ(window->childAt(240, 20)->objectName(), QStringLiteral("Picture2"));
    EXPECT_EQ(window->childAt(150, 35)->objectName(), QStringLiteral("Label3"));
    // Label1's one line stays clear of Label3.
    auto* label1 = window->findChild<QLabel*>(QStringLiteral("Label1"));
    EXPECT_LE(label1->y() + QFontMetrics(label1->font()).height(),
              window->findChild<QLabel*>(QStringLiteral("Label3"))->y());

    EXPECT_EQ(window->parentWidget(), nullptr);
    EXPECT_EQ(window->windowModality(), Qt::NonModal);
}

TEST_F(AboutWindowTest, EnterAndEscapeDoNotCloseIt)
{
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter);
    QApplication::processEvents();
    EXPECT_TRUE(window->isVisible());
}

} // namespace
