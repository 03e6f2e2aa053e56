#include "platform/windows/WindowsUrlViewer.h"
#include "WindowsTestSupport.h"
#include "core/OperationError.h"
#include "support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

using namespace velmoran;
using namespace velmoran::testing;
namespace fs = std::filesystem;

namespace {

// Opening a real shortcut would start the desktop's browser, so only the failing hand-over
// is run here: it is reported with the file's path, and the file does not stay behind.
TEST(WindowsUrlViewer, AFailedHandOverNamesTheFileAndDeletesIt)
{
    ScratchFolder scratch{"velmoran-url"};
    const fs::path shortcut = scratch / "TEMP.velmoran-no-such-type";
    writeFile(shortcut, "[InternetShortcut]\r\nURL=velmoran.example.org\r\n");
    WindowsUrlViewer viewer;
    try {
        viewer.openShortcut(windowsPath(shortcut), "velmoran.example.org");
        ADD_FAILURE() << "no error";
    } catch (const OperationError& error) {
        EXPECT_NE(std::string(error.what()).find(windowsPath(shortcut)), std::string::npos)
            << error.what();
        EXPECT_NE(std::string(error.what()).find("velmoran.example.org"), std::string::npos)
            << error.what();
    }
    EXPECT_FALSE(fs::exists(shortcut));
}

// A file type of this test's own whose viewer is the stand-in program, registered for the
// machine (Wine's file types have no per-user part) and removed again.
class StandInViewerType
{
public:
    explicit StandInViewerType(const fs::path& viewer)
        : m_extension(L".velmoran" + std::to_wstring(::GetCurrentProcessId())),
          m_type(L"Velmoran.Test" + std::to_wstring(::GetCurrentProcessId()))
    {
        const std::wstring command = L"\"" + viewer.wstring() + L"\" \"%1\"";
        set(L"Software\\Classes\\" + m_extension, m_type);
        set(L"Software\\Classes\\" + m_type + L"\\shell\\open\\command", command);
    }
    ~StandInViewerType()
    {
        for (const std::wstring& key : {m_extension, m_type})
            ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, (L"Software\\Classes\\" + key).c_str());
    }
    std::string extension() const { return toUtf8(m_extension); }
    bool registered = true;

private:
    void set(const std::wstring& key, const std::wstring& text)
    {
        registered = registered &&
                     ::RegSetKeyValueW(
                         HKEY_LOCAL_MACHINE, key.c_str(), nullptr, REG_SZ, text.c_str(),
                         static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    }
    std::wstring m_extension;
    std::wstring m_type;
};

bool waitFor(const std::function<bool()>& condition)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

TEST(WindowsUrlViewer, TheViewerReadsTheWholeShortcutWhichIsThenDeleted)
{
    ScratchFolder scratch{"velmoran-url"};
    const fs::path viewerProgram = scratch / "viewer.exe";
    fs::copy_file(testProgramFolder() / VELMORAN_RECORDER, viewerProgram);
    StandInViewerType type(viewerProgram);
    if (!type.registered)
        GTEST_SKIP() << "a file type cannot be registered here (no administrator rights)";

    const std::string content = "[InternetShortcut]\r\nURL=velmoran.example.org\r\n";
    fs::path record = viewerProgram, input = viewerProgram;
    record += ".txt";
    input += ".input";
    WindowsUrlViewer viewer;
    for (int click = 1; click <= 2; ++click) {
        const fs::path shortcut = scratch / ("TEMP" + type.extension());
        writeFile(shortcut, content);
        viewer.openShortcut(windowsPath(shortcut), "velmoran.example.org");
        ASSERT_TRUE(waitFor([&] { return fs::exists(record); })) << "click " << click;
        EXPECT_EQ(readFile(input), content) << "click " << click;
        EXPECT_NE(readFile(record).find(windowsPath(shortcut)), std::string::npos)
            << readFile(record);
        EXPECT_TRUE(waitFor([&] { return !fs::exists(shortcut); }))
            << "click " << click << ": the shortcut stayed";
        fs::remove(record);
        fs::remove(input);
    }
}

} // namespace
