#include "platform/windows/WindowsProgramStarter.h"
#include "WindowsTestSupport.h"
#include "core/LaunchCommand.h"
#include "core/OperationError.h"
#include "support/Recorders.h"
#include "support/ScratchFolder.h"
#include "support/TestPlatform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <thread>

using namespace velmoran;
using namespace velmoran::testing;
namespace fs = std::filesystem;

namespace {

struct Recorded
{
    std::string commandLine;
    std::string currentFolder;
    std::vector<std::string> arguments;
};

// What the stand-in program wrote about how it was started, once it has; nothing when it
// was not started within the wait.
std::optional<Recorded> waitForRecord(const fs::path& program,
                                      std::chrono::seconds longest = std::chrono::seconds(30))
{
    fs::path record = program;
    record += ".txt";
    const auto deadline = std::chrono::steady_clock::now() + longest;
    while (!fs::exists(record)) {
        if (std::chrono::steady_clock::now() > deadline)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::istringstream in(readFile(record));
    fs::remove(record);
    Recorded recorded;
    std::getline(in, recorded.commandLine);
    std::getline(in, recorded.currentFolder);
    for (std::string line; std::getline(in, line);)
        recorded.arguments.push_back(line);
    return recorded;
}

// A game folder whose path holds blanks, with the stand-in "Diablo II.exe" in it, and
// decoys where an unquoted command line would be looked for first:
//   <scratch>\Program.exe, <scratch>\Program Files\Diablo.exe
class WindowsProgramStarterTest : public ::testing::Test
{
protected:
    WindowsProgramStarterTest()
    {
        const fs::path recorder = testProgramFolder() / VELMORAN_RECORDER;
        fs::create_directories(gameFolder);
        for (const fs::path& copy : {gameExe, decoys[0], decoys[1]})
            fs::copy_file(recorder, copy);
    }
    void expectNoDecoyStarted()
    {
        for (const fs::path& decoy : decoys)
            EXPECT_FALSE(waitForRecord(decoy, std::chrono::seconds(0)))
                << windowsPath(decoy) << " was started";
    }

    ScratchFolder scratch{"velmoran-start"};
    fs::path gameFolder = scratch / "Program Files" / "Diablo II";
    fs::path gameExe = gameFolder / "Diablo II.exe";
    fs::path decoys[2] = {scratch / "Program.exe", scratch / "Program Files" / "Diablo.exe"};
};

TEST_F(WindowsProgramStarterTest, LaunchStartsTheGameWithItsSwitchesInOrder)
{
    FixedRegistry registry{windowsPath(gameFolder)};
    TestPlatform services{scratch.path()};
    FakeForm form;
    RecordingMessages messages;
    CommandContext context{services.with(&registry), form, messages};

    struct Case
    {
        std::vector<int> checks;
        std::vector<std::string> arguments;
    };
    const Case cases[] = {
        {{0, 0, 0, 0}, {}},
        {{0, 1, 1, 1}, {"-w", "-txt", "-direct"}},
        {{1, 0, 2, 1}, {"-direct"}},
        {{0, 1, 0, 1}, {"-w", "-direct"}},
    };
    for (const Case& c : cases) {
        form.checks = c.checks;
        launchGame(context);
        const std::optional<Recorded> recorded = waitForRecord(gameExe);
        ASSERT_TRUE(recorded) << windowsPath(gameExe) << " was not started";
        EXPECT_EQ(recorded->arguments, c.arguments) << recorded->commandLine;
        // The program's path is quoted, so that nothing else can be taken for it.
        EXPECT_EQ(recorded->commandLine.rfind("\"" + windowsPath(gameExe) + "\"", 0), 0u)
            << recorded->commandLine;
        EXPECT_EQ(fs::path(toWide(recorded->currentFolder)), gameFolder);
    }
    EXPECT_EQ(form.minimized, static_cast<int>(std::size(cases)));
    expectNoDecoyStarted();
}

TEST_F(WindowsProgramStarterTest, ArgumentsWithBlanksAndQuotesArriveWhole)
{
    const std::vector<std::string> arguments{"-w", "two words", "say \"hi\"", "end\\", ""};
    WindowsProgramStarter starter;
    starter.startProgram(windowsPath(gameExe), arguments, windowsPath(scratch.path()));
    const std::optional<Recorded> recorded = waitForRecord(gameExe);
    ASSERT_TRUE(recorded);
    EXPECT_EQ(recorded->arguments, arguments) << recorded->commandLine;
    EXPECT_EQ(fs::path(toWide(recorded->currentFolder)), scratch.path());
    expectNoDecoyStarted();
}

TEST_F(WindowsProgramStarterTest, AMissingGameIsAFailedStartThatNamesIt)
{
    fs::remove(gameExe);
    WindowsProgramStarter starter;
    const std::string program = windowsPath(gameExe);
    try {
        starter.startProgram(program, {"-w"}, windowsPath(gameFolder));
        ADD_FAILURE() << "no error";
    } catch (const OperationError& error) {
        EXPECT_NE(std::string(error.what()).find(program), std::string::npos) << error.what();
        EXPECT_FALSE(error.reason().empty());
    }
    expectNoDecoyStarted();
}

TEST(WindowsCommandLine, QuotesOnlyWhereNeeded)
{
    struct Case
    {
        std::vector<std::wstring> arguments;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {{}, L"\"C:\\D2\\Diablo II.exe\""},
        {{L"-w", L"-txt"}, L"\"C:\\D2\\Diablo II.exe\" -w -txt"},
        {{L"a b"}, L"\"C:\\D2\\Diablo II.exe\" \"a b\""},
        {{L""}, L"\"C:\\D2\\Diablo II.exe\" \"\""},
        {{L"x\"y"}, L"\"C:\\D2\\Diablo II.exe\" \"x\\\"y\""},
        {{L"a\\\\b c\\"}, L"\"C:\\D2\\Diablo II.exe\" \"a\\\\b c\\\\\""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(buildCommandLine(L"C:\\D2\\Diablo II.exe", c.arguments), c.expected);
}

} // namespace
