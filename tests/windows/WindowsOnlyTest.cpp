// What only the Windows layer has: the registry's 32-bit view, quoting, read-only files.
#include "core/GameFolder.h"
#include "core/OperationError.h"
#include "platform/windows/WindowsFileSystem.h"
#include "platform/windows/WindowsProgramStarter.h"
#include "platform/windows/WindowsRegistryReader.h"
#include "platform/windows/WindowsText.h"
#include "support/ScratchFolder.h"

#include <gtest/gtest.h>

using namespace velmoran;
using namespace velmoran::testing;

namespace {

const std::wstring TestKey =
    L"SOFTWARE\\Velmoran Tests\\run " + std::to_wstring(::GetCurrentProcessId());

void writeValue(REGSAM view, const std::string& name, DWORD type, const std::wstring& text)
{
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, TestKey.c_str(), 0, nullptr, 0,
                                KEY_WRITE | view, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const auto bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    EXPECT_EQ(::RegSetKeyValueW(key, nullptr, toWide(name).c_str(), type, text.c_str(), bytes), 0);
    ::RegCloseKey(key);
}

TEST(WindowsRegistry, ReadsTextFromThe32BitViewAfreshEveryTime)
{
    WindowsRegistryReader reader;
    const std::string key = toUtf8(TestKey);
    auto read = [&](const char* n) { return reader.readString(RootKey::LocalMachine, key, n); };
    EXPECT_EQ(read("InstallPath"), std::nullopt); // no key at all
    writeValue(KEY_WOW64_64KEY, "InstallPath", REG_SZ, L"C:\\Program Files\\Diablo II");
    EXPECT_EQ(read("InstallPath"), std::nullopt); // the 64-bit view is not the game's
    const std::pair<const char*, std::string> rows[] = {
        {"InstallPath", "C:\\Program Files (x86)\\Diablo II"},
        {"Unicode", "C:\\Spiele\\Diablo II \xE2\x80\x93 \xC3\x84rger \xE6\x97\xA5"},
        {"Empty", ""},
        {"Long", "C:\\" + std::string(20000, 'x')}};
    for (const auto& [name, text] : rows) {
        writeValue(KEY_WOW64_32KEY, name, REG_SZ, toWide(text));
        EXPECT_EQ(read(name), std::optional<std::string>(text)) << name;
    }
    EXPECT_EQ(read("installpath"), std::optional<std::string>(rows[0].second));
    writeValue(KEY_WOW64_32KEY, "InstallPath", REG_SZ, L"C:\\Second");
    EXPECT_EQ(read("InstallPath"), std::optional<std::string>("C:\\Second"));
    writeValue(KEY_WOW64_32KEY, "Expand", REG_EXPAND_SZ, L"%SystemRoot%\\Diablo II");
    EXPECT_EQ(read("Expand")->find('%'), std::string::npos);
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY})
        ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, TestKey.c_str(), view, 0);

    const std::string where =
        reader.describeLocation(RootKey::LocalMachine, GameKeyPath, GameValueName);
    for (const std::string& part : {std::string("HKEY_LOCAL_MACHINE\\") + GameKeyPath,
                                    std::string(GameValueName), std::string("32-bit")})
        EXPECT_NE(where.find(part), std::string::npos) << where << " lacks " << part;
}

TEST(WindowsCommandLine, QuotesOnlyWhereNeeded)
{
    const std::pair<std::vector<std::wstring>, const wchar_t*> rows[] = {
        {{}, L"\"C:\\D2\\Diablo II.exe\""},
        {{L"-w", L"-txt"}, L"\"C:\\D2\\Diablo II.exe\" -w -txt"},
        {{L"a b"}, L"\"C:\\D2\\Diablo II.exe\" \"a b\""},
        {{L""}, L"\"C:\\D2\\Diablo II.exe\" \"\""},
        {{L"x\"y"}, L"\"C:\\D2\\Diablo II.exe\" \"x\\\"y\""},
        {{L"a\\\\b c\\"}, L"\"C:\\D2\\Diablo II.exe\" \"a\\\\b c\\\\\""},
    };
    for (const auto& [arguments, expected] : rows)
        EXPECT_EQ(buildCommandLine(L"C:\\D2\\Diablo II.exe", arguments), expected);
}

TEST(WindowsFiles, AReadOnlyDestinationIsNotOverwritten)
{
    ScratchFolder scratch{"velmoran-readonly"};
    writeFile(scratch / "new.mpq", "new");
    writeFile(scratch / "locked.mpq", "locked");
    ::SetFileAttributesW((scratch / "locked.mpq").wstring().c_str(), FILE_ATTRIBUTE_READONLY);
    const std::string locked = toUtf8((scratch / "locked.mpq").wstring());
    EXPECT_THROW(WindowsFileSystem().copyFile(toUtf8((scratch / "new.mpq").wstring()), locked),
                 OperationError);
    EXPECT_EQ(readFile(scratch / "locked.mpq"), "locked");
}

} // namespace
