#include "MessageBoxAnswerer.h"
#include "app/Controller.h"
#include "support/SamplePrefix.h"
#include "support/ScratchFolder.h"
#include "support/StandInOpener.h"
#include "support/TestPlatform.h"
#include "ui/MainWindow.h"
#include "ui/Widgets.h"

#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

using namespace velmoran;
using namespace velmoran::testing;
namespace fs = std::filesystem;

namespace {

// A click on lblURL, through the real platform: the shortcut written into the application
// folder, the desktop's opener started with the label's address, the file gone again.
class WebsiteLinkTest : public ::testing::Test
{
protected:
    WebsiteLinkTest() { fs::create_directories(application); }
    void SetUp() override
    {
        form = controller.mainWindow();
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
    }
    void click() { QTest::mouseClick(form->lblURL(), Qt::LeftButton); }

    ScratchFolder scratch{"velmoran-link"};
    SamplePrefix prefix{scratch.path()};
    TestPlatform services{prefix.prefix()};
    fs::path application = scratch / "app";
    Platform platform{services.real().files,     services.real().registry, services.real().starter,
                      services.real().drives,    services.real().viewer,   application.string(),
                      (scratch / "tmp").string()};
    MessageBoxAnswerer answerer;
    Controller controller{platform};
    MainWindow* form = nullptr;
};

TEST_F(WebsiteLinkTest, EveryClickOpensTheLabelsAddressAndLeavesNoFile)
{
    StandInOpener opener(scratch / "opener");
    const std::string address = form->lblURL()->text().toStdString();
    const int clicks = 3;
    for (int i = 0; i < clicks; ++i) {
        click();
        EXPECT_TRUE(fs::is_empty(application)) << "after click " << i;
    }
    const std::vector<OpenerRun> runs = opener.waitFor(clicks);
    ASSERT_EQ(runs.size(), static_cast<std::size_t>(clicks));
    for (const OpenerRun& run : runs)
        EXPECT_EQ(run.arguments, (std::vector<std::string>{"http://" + address}));
    EXPECT_TRUE(answerer.seen.empty()) << "the link shows no message";
}

TEST_F(WebsiteLinkTest, MissingOpenerIsOneClearMessageAndLeavesNoFile)
{
    ScratchFolder emptyBin{"velmoran-nobin"};
    const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", emptyBin.path().c_str(), 1);
    click();
    ::setenv("PATH", oldPath.c_str(), 1);
    ASSERT_EQ(answerer.seen.size(), 1u);
    EXPECT_EQ(answerer.seen[0].title, QStringLiteral("Velmoran"));
    EXPECT_TRUE(answerer.seen[0].text.contains(QStringLiteral("xdg-open was not found")))
        << answerer.seen[0].text.toStdString();
    EXPECT_TRUE(fs::is_empty(application));
}

} // namespace
