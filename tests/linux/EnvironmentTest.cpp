// What the program takes from its environment: the home, the prefix and Wine the user named,
// the XDG base folders (absolute ones only) and the folder for temporary files.
#include "core/Platform.h"
#include "platform/linux/LinuxEnvironment.h"
#include "platform/linux/LinuxFileSystem.h"
#include "platform/linux/LinuxPlatform.h"
#include "support/Recorders.h"
#include "support/ScratchFolder.h"
#include "support/StandIns.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>

using namespace velmoran;
using namespace velmoran::testing;
using Value = std::optional<std::string>;

TEST(Environment, IsReadAsTheXdgRulesSay)
{
    ScratchFolder scratch("velmoran-environment");
    const std::string prefix = (scratch / "prefix").string();
    fs::create_directories(prefix);
    struct Row
    {
        Value home, winePrefix, wine, data, config, tmp;
        std::string expectedHome, expectedData, expectedConfig, expectedTemporary;
    };
    const Row rows[] = {
        {"/h", prefix, "/w/wine", "/d", "/c/", "/t", "/h", "/d", "/c/", "/t"},
        {"/h", prefix, "", "d", "", "/t//", "/h", "/h/.local/share", "/h/.config", "/t"},
        {"", prefix, std::nullopt, "", "c", "t", "/", "/.local/share", "/.config", "/tmp"},
        {std::nullopt, prefix, "wine", "//d", "//", "/", "/", "//d", "//", "/"},
        {"/h", prefix, "wine", std::nullopt, std::nullopt, std::nullopt, "/h", "/h/.local/share",
         "/h/.config", "/tmp"}};
    for (const Row& row : rows) {
        const ScopedVariable home("HOME", row.home), winePrefix("WINEPREFIX", row.winePrefix),
            wine("WINE", row.wine), data("XDG_DATA_HOME", row.data),
            config("XDG_CONFIG_HOME", row.config), tmp("TMPDIR", row.tmp);
        const LinuxEnvironment environment = LinuxEnvironment::fromProcess();
        const std::string at = row.data.value_or("-") + " " + row.tmp.value_or("-");
        EXPECT_EQ(environment.home, row.expectedHome) << at;
        EXPECT_EQ(environment.winePrefix, row.winePrefix) << at;
        EXPECT_EQ(environment.wine, row.wine && !row.wine->empty() ? row.wine : std::nullopt);
        EXPECT_EQ(environment.userData(), row.expectedData) << at;
        EXPECT_EQ(environment.userConfig(), row.expectedConfig) << at;
        const auto services = createLinuxPlatformServices(environment);
        EXPECT_EQ(services->platform().temporaryFolder, row.expectedTemporary) << at;
        EXPECT_EQ(services->platform().applicationFolder,
                  fs::read_symlink("/proc/self/exe").parent_path());
    }
}

// Wine refuses a relative WINEPREFIX, so every file operation fails with that reason, even
// where a prefix of that name lies in the current folder.
TEST(Environment, ARelativeWinePrefixIsRefusedEvenWhereItsFolderExists)
{
    ScratchFolder scratch("velmoran-relative");
    fs::create_directories(scratch / "rel" / "dosdevices");
    fs::create_directory_symlink("/", scratch / "rel" / "dosdevices" / "z:");
    const fs::path started = fs::current_path();
    const std::shared_ptr<void> back(nullptr, [&](void*) { fs::current_path(started); });
    fs::current_path(scratch.path());
    LinuxEnvironment environment;
    environment.winePrefix = "rel";
    LinuxFileSystem files{WinePrefix::fromEnvironment(environment)};
    FolderScan scan;
    const std::string reason = "WINEPREFIX is set to \"rel\", which is not an absolute path";
    EXPECT_TRUE(failsWith([&] { files.scanFolder("z:\\tmp", "x", scan); }, {reason}));
    EXPECT_TRUE(failsWith([&] { files.makeFolder("z:\\tmp\\x"); }, {reason}));
}
