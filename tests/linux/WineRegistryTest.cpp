#include "core/GameFolder.h"
#include "core/OperationError.h"
#include "platform/linux/WineRegistry.h"
#include "support/SamplePrefix.h"
#include "support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using namespace velmoran;
using namespace velmoran::testing;

namespace {

const char* const Key = "SOFTWARE\\Blizzard Entertainment\\Diablo II";

std::string registryFile(const std::string& arch, const std::string& body)
{
    return "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n" + arch + "\n\n" +
           body;
}

const std::string Plain = "[Software\\\\Blizzard Entertainment\\\\Diablo II] 1700000000\n"
                          "#time=1d9e0fdd1c0d2a0\n";
const std::string Wow = "[Software\\\\Wow6432Node\\\\Blizzard Entertainment\\\\Diablo II] 1700000000\n"
                        "#time=1d9e0fdd1c0d2a0\n";

struct ParseCase
{
    const char* what;
    std::string file;
    std::optional<std::string> expected;
};

TEST(WineRegistryText, FindsTheInstallPathAsWineReadsIt)
{
    const ParseCase cases[] = {
        {"plain win32", registryFile("#arch=win32", Plain + "\"InstallPath\"=\"C:\\\\Games\\\\Diablo II\"\n"),
         "C:\\Games\\Diablo II"},
        {"win64 prefers the 32-bit view",
         registryFile("#arch=win64", Plain + "\"InstallPath\"=\"C:\\\\Native\"\n\n" + Wow +
                                         "\"InstallPath\"=\"C:\\\\Wow\"\n"),
         "C:\\Wow"},
        {"win64 falls back to the plain key",
         registryFile("#arch=win64", Plain + "\"InstallPath\"=\"C:\\\\Native\"\n"), "C:\\Native"},
        {"win32 ignores Wow6432Node",
         registryFile("#arch=win32", Wow + "\"InstallPath\"=\"C:\\\\Wow\"\n"), std::nullopt},
        {"key and value names without regard to case",
         registryFile("#arch=win32", "[software\\\\BLIZZARD ENTERTAINMENT\\\\diablo ii]\n"
                                     "\"installpath\"=\"D:\\\\D2\"\n"),
         "D:\\D2"},
        {"CR LF line ends",
         "WINE REGISTRY Version 2\r\n#arch=win32\r\n\r\n[Software\\\\Blizzard Entertainment\\\\"
         "Diablo II] 1\r\n\"InstallPath\"=\"C:\\\\D2\"\r\n",
         "C:\\D2"},
        {"escapes", registryFile("#arch=win32", Plain + "\"InstallPath\"=\"C:\\\\a\\\"b\\x44\\x00e9\\101\\q\\n\"\n"),
         std::string("C:\\a\"bD\xC3\xA9" "Aq\n")},
        {"surrogate pair", registryFile("#arch=win32", Plain + "\"InstallPath\"=\"\\xd83d\\xde00\"\n"),
         std::string("\xF0\x9F\x98\x80")},
        {"raw UTF-8", registryFile("#arch=win32", Plain + "\"InstallPath\"=\"C:\\\\Spiele\\\\Diablo \xC3\xBC\"\n"),
         std::string("C:\\Spiele\\Diablo \xC3\xBC")},
        {"REG_EXPAND_SZ", registryFile("#arch=win32", Plain + "\"InstallPath\"=str(2):\"C:\\\\E\"\n"),
         "C:\\E"},
        {"a dword is no string", registryFile("#arch=win32", Plain + "\"InstallPath\"=dword:00000001\n"),
         std::nullopt},
        {"trailing backslash kept", registryFile("#arch=win32", Plain + "\"InstallPath\"=\"C:\\\\D2\\\\\"\n"),
         "C:\\D2\\"},
        {"continued hex value before it",
         registryFile("#arch=win32", Plain + "\"Blob\"=hex:01,02,\\\n  03,04\n\"InstallPath\"=\"C:\\\\H\"\n"),
         "C:\\H"},
        {"value in another key", registryFile("#arch=win32", "[Software\\\\Other]\n\"InstallPath\"=\"C:\\\\X\"\n"),
         std::nullopt},
        {"missing value", registryFile("#arch=win32", Plain + "\"Program\"=\"Diablo II.exe\"\n"), std::nullopt},
        {"missing header", "[Software\\\\Blizzard Entertainment\\\\Diablo II]\n\"InstallPath\"=\"C:\\\\D2\"\n",
         std::nullopt},
        {"wrong version", "WINE REGISTRY Version 3\n" + Plain + "\"InstallPath\"=\"C:\\\\D2\"\n", std::nullopt},
        {"truncated inside the value", registryFile("#arch=win32", Plain + "\"InstallPath\"=\"C:\\\\Ga"),
         std::nullopt},
        {"truncated inside an escape", registryFile("#arch=win32", Plain + "\"InstallPath\"=\"C:\\"),
         std::nullopt},
        {"empty file", "", std::nullopt},
    };
    for (const ParseCase& c : cases)
        EXPECT_EQ(findWineRegistryString(c.file, Key, "InstallPath"), c.expected) << c.what;
}

class WineRegistryReaderTest : public ::testing::Test
{
protected:
    ScratchFolder scratch;
};

TEST_F(WineRegistryReaderTest, ReadsTheSamplePrefixAfreshEveryTime)
{
    SamplePrefix prefix(scratch.path());
    WineRegistryReader reader{WinePrefix(prefix.prefix())};
    EXPECT_EQ(lookupGameFolder(reader), "C:\\Program Files (x86)\\Diablo II");
    const std::string moved = "D:\\Other Place";
    prefix.writeRegistry(&moved);
    EXPECT_EQ(lookupGameFolder(reader), moved);
    prefix.writeRegistry(nullptr);
    EXPECT_EQ(lookupGameFolder(reader), std::nullopt);
}

TEST_F(WineRegistryReaderTest, MissingPrefixIsNotFoundAndTheMessageSaysWhere)
{
    WineRegistryReader reader{WinePrefix(scratch / "no-such-prefix")};
    EXPECT_EQ(lookupGameFolder(reader), std::nullopt);
    try {
        requireGameFolder(reader);
        FAIL() << "no error raised";
    } catch (const GameFolderNotFound& e) {
        const std::string text = e.what();
        EXPECT_NE(text.find("install folder was not found"), std::string::npos) << text;
        EXPECT_NE(text.find((scratch / "no-such-prefix" / "system.reg").string()), std::string::npos)
            << text;
        EXPECT_NE(text.find("Blizzard Entertainment\\Diablo II"), std::string::npos) << text;
    }
}

TEST_F(WineRegistryReaderTest, RelativeWinePrefixIsReported)
{
    ::setenv("WINEPREFIX", "relative/prefix", 1);
    const WinePrefix prefix = WinePrefix::fromEnvironment();
    ::unsetenv("WINEPREFIX");
    WineRegistryReader reader{prefix};
    EXPECT_EQ(lookupGameFolder(reader), std::nullopt);
    EXPECT_NE(reader.describeLocation(RootKey::LocalMachine, Key, "InstallPath").find("absolute"),
              std::string::npos);
}

} // namespace
