#include "platform/linux/XdgUrlViewer.h"
#include "core/OperationError.h"
#include "core/WebLink.h"
#include "platform/linux/WinePrefix.h"
#include "support/Recorders.h"
#include "support/SamplePrefix.h"
#include "support/ScratchFolder.h"
#include "support/StandInOpener.h"
#include "support/TestPlatform.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace velmoran;
using namespace velmoran::testing;
namespace fs = std::filesystem;

namespace {

struct AddressCase
{
    const char* caption;
    const char* opened;
};

TEST(XdgUrlViewerAddress, AddsASchemeOnlyWhereTheAddressHasNone)
{
    const AddressCase cases[] = {
        {"velmoran.example.org", "http://velmoran.example.org"},
        {"www.velmoran.example.org/a/b.html", "http://www.velmoran.example.org/a/b.html"},
        {"http://velmoran.example.org", "http://velmoran.example.org"},
        {"HTTPS://velmoran.example.org", "HTTPS://velmoran.example.org"},
        {"mailto:orvick@velmoran.example.org", "mailto:orvick@velmoran.example.org"},
        {"velmoran.example.org:8080/x", "http://velmoran.example.org:8080/x"},
        {"localhost:8080", "http://localhost:8080"},
        {"-no-option", "http://-no-option"},
        {":colon", "http://:colon"},
        {"", "http://"},
    };
    for (const AddressCase& c : cases)
        EXPECT_EQ(XdgUrlViewer::openerAddress(c.caption), c.opened) << c.caption;
}

class XdgUrlViewerTest : public ::testing::Test
{
protected:
    XdgUrlViewerTest() { fs::create_directories(application); }

    // Writes a shortcut file the way the link does and returns its path as handed over.
    std::string shortcut(const std::string& name = "TEMP.URL")
    {
        writeFile(application / name, "[InternetShortcut]\r\nURL=velmoran.example.org\r\n");
        return application.string() + "\\TEMP.URL";
    }

    ScratchFolder scratch{"velmoran-xdg"};
    fs::path application = scratch / "app";
    XdgUrlViewer viewer{WinePrefix(scratch / "prefix")};
};

TEST_F(XdgUrlViewerTest, StartsTheOpenerDetachedWithTheAddressAndDeletesTheFile)
{
    StandInOpener opener(scratch / "opener");
    viewer.openShortcut(shortcut(), "velmoran.example.org/a b;$(touch x)'\"");
    EXPECT_FALSE(fs::exists(application / "TEMP.URL"));

    const std::vector<OpenerRun> runs = opener.waitFor(1);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].arguments,
              (std::vector<std::string>{"http://velmoran.example.org/a b;$(touch x)'\""}));
    EXPECT_NE(runs[0].session, std::to_string(::getsid(0))) << "the opener has its own session";
    EXPECT_EQ(runs[0].input, "/dev/null");
    // The opener was started from a grandchild: nothing is left for this process to reap.
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST_F(XdgUrlViewerTest, FindsTheFileWithoutRegardToCase)
{
    StandInOpener opener(scratch / "opener");
    viewer.openShortcut(shortcut("temp.url"), "velmoran.example.org");
    EXPECT_TRUE(fs::is_empty(application));
    EXPECT_EQ(opener.waitFor(1).size(), 1u);
}

TEST_F(XdgUrlViewerTest, MissingOrBrokenOpenerIsAClearFailureAndLeavesNoFile)
{
    ScratchFolder emptyBin{"velmoran-nobin"};
    const char* path = std::getenv("PATH");
    const std::string oldPath = path ? path : "";
    ::setenv("PATH", emptyBin.path().c_str(), 1);
    try {
        viewer.openShortcut(shortcut(), "velmoran.example.org");
        ADD_FAILURE() << "a missing opener must fail";
    } catch (const OperationError& e) {
        EXPECT_NE(std::string(e.what()).find("xdg-open was not found"), std::string::npos)
            << e.what();
        EXPECT_NE(std::string(e.what()).find("velmoran.example.org"), std::string::npos);
    }
    ::setenv("PATH", oldPath.c_str(), 1);
    EXPECT_FALSE(fs::exists(application / "TEMP.URL"));

    // An opener that cannot be executed: its interpreter is missing.
    StandInOpener opener(scratch / "opener");
    writeFile(opener.bin() / "xdg-open", "#!/nonexistent/interpreter\n");
    try {
        viewer.openShortcut(shortcut(), "velmoran.example.org");
        ADD_FAILURE() << "a broken opener must fail";
    } catch (const OperationError& e) {
        EXPECT_NE(std::string(e.what()).find((opener.bin() / "xdg-open").string()),
                  std::string::npos)
            << e.what();
    }
    EXPECT_FALSE(fs::exists(application / "TEMP.URL"));
}

TEST(XdgUrlViewerLink, EveryClickOpensTheAddressAndLeavesNoShortcutBehind)
{
    ScratchFolder scratch{"velmoran-link"};
    SamplePrefix prefix{scratch.path()};
    TestPlatform services{prefix.prefix()};
    StandInOpener opener(scratch / "opener");
    const fs::path application = scratch / "app";
    fs::create_directories(application);
    Platform& real = services.real();
    Platform platform{real.files,
                      real.registry,
                      real.starter,
                      real.drives,
                      real.viewer,
                      application.string(),
                      (scratch / "tmp").string()};
    FakeForm form;
    RecordingMessages messages;
    CommandContext context{platform, form, messages};

    const int clicks = 3;
    for (int i = 0; i < clicks; ++i) {
        form.url = "velmoran.example.org/page" + std::to_string(i);
        openWebsite(context);
        EXPECT_TRUE(fs::is_empty(application)) << "after click " << i;
    }
    std::multiset<std::string> opened;
    for (const OpenerRun& run : opener.waitFor(clicks)) {
        ASSERT_EQ(run.arguments.size(), 1u);
        opened.insert(run.arguments[0]);
    }
    EXPECT_EQ(opened, (std::multiset<std::string>{"http://velmoran.example.org/page0",
                                                  "http://velmoran.example.org/page1",
                                                  "http://velmoran.example.org/page2"}));
    EXPECT_TRUE(messages.shown.empty());
}

} // namespace
