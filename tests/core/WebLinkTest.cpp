#include "core/WebLink.h"
#include "core/OperationError.h"
#include "support/Recorders.h"
#include "support/SamplePrefix.h"
#include "support/ScratchFolder.h"
#include "support/TestPlatform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

using namespace velmoran;
using namespace velmoran::testing;
namespace fs = std::filesystem;

namespace {

// A Unix folder + "\NAME" as the program builds it -> the Unix path.
fs::path unixPath(std::string path)
{
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

// Records what it was asked to open, and the shortcut's bytes at that moment: the file
// must be complete and closed before the viewer starts.
class RecordingViewer : public UrlViewer
{
public:
    void openShortcut(const std::string& shortcutFile, const std::string& address) override
    {
        files.push_back(shortcutFile);
        addresses.push_back(address);
        contents.push_back(readFile(unixPath(shortcutFile)));
    }
    std::vector<std::string> files;
    std::vector<std::string> addresses;
    std::vector<std::string> contents;
};

class WebLinkTest : public ::testing::Test
{
protected:
    WebLinkTest()
    {
        fs::create_directories(application);
        fs::create_directories(temporary);
    }

    Platform platformWith(const fs::path& applicationFolder)
    {
        Platform& real = services.real();
        return Platform{real.files,        real.registry, real.starter,
                        real.drives,       viewer,        applicationFolder.string(),
                        temporary.string()};
    }

    ScratchFolder scratch{"velmoran-weblink"};
    SamplePrefix prefix{scratch.path()};
    TestPlatform services{prefix.prefix()};
    fs::path application = scratch / "app";
    fs::path temporary = scratch / "tmp";
    RecordingViewer viewer;
    FakeForm form;
    RecordingMessages messages;
};

TEST_F(WebLinkTest, WritesExactlyTheTwoShortcutLinesAndHandsThemToTheViewer)
{
    struct Case
    {
        std::string caption;
        std::string written; // the second line's text, as 8-bit Windows text
    };
    const Case cases[] = {
        {"velmoran.example.org", "velmoran.example.org"},
        {"www.velmoran.example.org/downloads/index.html",
         "www.velmoran.example.org/downloads/index.html"},
        {"https://velmoran.example.org/?a=b&c=d", "https://velmoran.example.org/?a=b&c=d"},
        {"  blanks kept , nothing trimmed  ", "  blanks kept , nothing trimmed  "},
        {"velmoran.example.org/caf\xC3\xA9", "velmoran.example.org/caf\xE9"},
        {"", ""},
    };
    // An older, longer file of the same name is emptied, never appended to.
    writeFile(application / "TEMP.URL", std::string(300, 'x') + "\r\n[InternetShortcut]\r\n");
    Platform platform = platformWith(application);
    CommandContext context{platform, form, messages};
    std::size_t clicks = 0;
    for (const Case& c : cases) {
        form.url = c.caption;
        openWebsite(context);
        ++clicks;
        ASSERT_EQ(viewer.files.size(), clicks);
        EXPECT_EQ(viewer.files.back(), application.string() + "\\TEMP.URL");
        EXPECT_EQ(viewer.addresses.back(), c.caption);
        EXPECT_EQ(viewer.contents.back(), "[InternetShortcut]\r\nURL=" + c.written + "\r\n")
            << c.caption;
    }
    EXPECT_TRUE(messages.shown.empty()) << "the link shows no message";
}

TEST_F(WebLinkTest, UsesTheTemporaryFolderWhereTheApplicationFolderCannotBeWritten)
{
    // Root writes into any folder whatever its permission bits, so the click runs in a
    // child that has dropped to the unprivileged "nobody" account first.
    fs::permissions(scratch.path(),
                    fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    fs::permissions(application, fs::perms::owner_read | fs::perms::owner_exec |
                                     fs::perms::group_exec | fs::perms::others_exec);
    fs::permissions(temporary, fs::perms::all);
    form.url = "velmoran.example.org";

    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(pipeFds[0]);
        std::string report;
        int code = 0;
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            report = "cannot drop to uid 65534";
            code = 3;
        } else {
            try {
                Platform platform = platformWith(application);
                CommandContext context{platform, form, messages};
                openWebsite(context);
                report = viewer.files.empty() ? "" : viewer.files.back();
            } catch (const std::exception& e) {
                report = e.what();
                code = 1;
            }
        }
        [[maybe_unused]] ssize_t n = ::write(pipeFds[1], report.data(), report.size());
        ::_exit(code);
    }
    ::close(pipeFds[1]);
    std::string report;
    char buffer[4096];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        report.append(buffer, static_cast<std::size_t>(n));
    ::close(pipeFds[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 3)
        GTEST_SKIP() << report;
    ASSERT_EQ(WEXITSTATUS(status), 0) << report;
    EXPECT_EQ(report, temporary.string() + "\\TEMP.URL");
    EXPECT_EQ(readFile(temporary / "TEMP.URL"),
              "[InternetShortcut]\r\nURL=velmoran.example.org\r\n");
    EXPECT_TRUE(fs::is_empty(application));
}

TEST_F(WebLinkTest, UsesTheTemporaryFolderWhereTheApplicationFolderIsGone)
{
    Platform platform = platformWith(scratch / "removed");
    CommandContext context{platform, form, messages};
    openWebsite(context);
    ASSERT_EQ(viewer.files.size(), 1u);
    EXPECT_EQ(viewer.files[0], temporary.string() + "\\TEMP.URL");
    EXPECT_EQ(viewer.contents[0], "[InternetShortcut]\r\nURL=" + form.url + "\r\n");
    EXPECT_FALSE(fs::exists(scratch / "removed"));
}

TEST_F(WebLinkTest, FailsClearlyWhenNoFolderCanBeWritten)
{
    fs::remove(temporary);
    Platform platform = platformWith(scratch / "removed");
    CommandContext context{platform, form, messages};
    try {
        openWebsite(context);
        FAIL() << "the click should fail";
    } catch (const OperationError& e) {
        EXPECT_NE(std::string(e.what()).find(temporary.string()), std::string::npos) << e.what();
    }
    EXPECT_TRUE(viewer.files.empty()) << "nothing to open";
}

} // namespace
