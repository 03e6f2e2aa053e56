#include "platform/windows/WindowsUrlViewer.h"
#include "WindowsTestSupport.h"
#include "core/OperationError.h"
#include "support/ScratchFolder.h"

#include <gtest/gtest.h>

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

} // namespace
