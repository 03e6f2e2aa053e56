#include "core/GameFolder.h"
#include "core/OperationError.h"
#include "platform/windows/WindowsRegistryReader.h"
#include "platform/windows/WindowsText.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using namespace velmoran;

namespace {

const std::wstring TestRoot = L"SOFTWARE\\Velmoran Tests";

// A key of its own for every test, in HKEY_LOCAL_MACHINE, removed from both registry
// views afterwards.
class WindowsRegistryTest : public ::testing::Test
{
protected:
    WindowsRegistryTest()
        : m_name(L"run " + std::to_wstring(::GetCurrentProcessId()) + L" " +
                 std::to_wstring(++s_counter)),
          keyPath(toUtf8(TestRoot + L"\\" + m_name))
    {
    }
    ~WindowsRegistryTest() override
    {
        for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
            HKEY root = nullptr;
            if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, TestRoot.c_str(), 0, KEY_ALL_ACCESS | view,
                                &root) == ERROR_SUCCESS) {
                ::RegDeleteTreeW(root, m_name.c_str());
                ::RegCloseKey(root);
                ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, TestRoot.c_str(), view, 0);
            }
        }
    }

    // Writes a value with RegSetKeyValueW into the key, opened in the given view.
    void write(REGSAM view, const std::string& valueName, DWORD type, const void* data, DWORD bytes)
    {
        HKEY key = nullptr;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, toWide(keyPath).c_str(), 0, nullptr, 0,
                                    KEY_WRITE | view, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        const LSTATUS status =
            ::RegSetKeyValueW(key, nullptr, toWide(valueName).c_str(), type, data, bytes);
        ::RegCloseKey(key);
        ASSERT_EQ(status, ERROR_SUCCESS) << valueName;
    }
    void writeText(REGSAM view, const std::string& valueName, const std::string& text,
                   DWORD type = REG_SZ)
    {
        const std::wstring wide = toWide(text);
        write(view, valueName, type, wide.c_str(),
              static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
    }
    std::optional<std::string> read(const std::string& valueName)
    {
        return reader.readString(RootKey::LocalMachine, keyPath, valueName);
    }

    static inline int s_counter = 0;
    std::wstring m_name;
    std::string keyPath;
    WindowsRegistryReader reader;
};

std::string expanded(const std::string& text)
{
    const std::wstring wide = toWide(text);
    std::wstring out(32768, L'\0');
    const DWORD length = ::ExpandEnvironmentStringsW(wide.c_str(), out.data(), 32768);
    out.resize(length ? length - 1 : 0);
    return toUtf8(out);
}

TEST_F(WindowsRegistryTest, ReadsTextValuesWrittenInThe32BitView)
{
    struct Case
    {
        const char* name;
        std::string text;
        DWORD type;
        std::string expected;
    };
    const std::string longText = "C:\\" + std::string(20000, 'x') + "\\Diablo II";
    const Case cases[] = {
        {"InstallPath", "C:\\Program Files (x86)\\Diablo II", REG_SZ,
         "C:\\Program Files (x86)\\Diablo II"},
        {"Trailing", "D:\\Games\\Diablo II\\", REG_SZ, "D:\\Games\\Diablo II\\"},
        {"Unicode", "C:\\Spiele\\Diablo II \xE2\x80\x93 \xC3\x84rger \xE6\x97\xA5", REG_SZ,
         "C:\\Spiele\\Diablo II \xE2\x80\x93 \xC3\x84rger \xE6\x97\xA5"},
        {"Empty", "", REG_SZ, ""},
        {"Long", longText, REG_SZ, longText},
        {"Expand", "%SystemRoot%\\Diablo II", REG_EXPAND_SZ, expanded("%SystemRoot%\\Diablo II")},
    };
    for (const Case& c : cases)
        writeText(KEY_WOW64_32KEY, c.name, c.text, c.type);
    for (const Case& c : cases) {
        const std::optional<std::string> value = read(c.name);
        ASSERT_TRUE(value.has_value()) << c.name;
        EXPECT_EQ(*value, c.expected) << c.name;
    }
    // Value names compare without regard to case, as in the registry itself.
    EXPECT_EQ(read("installpath"), std::optional<std::string>(cases[0].expected));
    // The expanded value really was expanded.
    EXPECT_EQ(read("Expand")->find('%'), std::string::npos);
}

TEST_F(WindowsRegistryTest, ValueOnlyInThe64BitViewIsNotFound)
{
    writeText(KEY_WOW64_64KEY, "InstallPath", "C:\\Program Files\\Diablo II");
    EXPECT_EQ(read("InstallPath"), std::nullopt);
    writeText(KEY_WOW64_32KEY, "InstallPath", "C:\\Program Files (x86)\\Diablo II");
    EXPECT_EQ(read("InstallPath"),
              std::optional<std::string>("C:\\Program Files (x86)\\Diablo II"));
}

TEST_F(WindowsRegistryTest, MissingKeyMissingValueAndNonTextAreNotFound)
{
    EXPECT_EQ(read("InstallPath"), std::nullopt); // no key at all
    writeText(KEY_WOW64_32KEY, "Program", "Diablo II.exe");
    EXPECT_EQ(read("InstallPath"), std::nullopt); // key without the value
    const DWORD number = 1;
    write(KEY_WOW64_32KEY, "InstallPath", REG_DWORD, &number, sizeof number);
    EXPECT_EQ(read("InstallPath"), std::nullopt); // a number is no folder
}

TEST_F(WindowsRegistryTest, TheLookupIsMadeAfreshEveryTime)
{
    writeText(KEY_WOW64_32KEY, "InstallPath", "C:\\First");
    EXPECT_EQ(read("InstallPath"), std::optional<std::string>("C:\\First"));
    writeText(KEY_WOW64_32KEY, "InstallPath", "C:\\Second");
    EXPECT_EQ(read("InstallPath"), std::optional<std::string>("C:\\Second"));
}

TEST(WindowsRegistryLocation, NamesTheKeyTheValueAndTheView)
{
    WindowsRegistryReader reader;
    const std::string where =
        reader.describeLocation(RootKey::LocalMachine, GameKeyPath, GameValueName);
    for (const std::string& part : {std::string("HKEY_LOCAL_MACHINE\\") + GameKeyPath,
                                    std::string(GameValueName), std::string("32-bit")})
        EXPECT_NE(where.find(part), std::string::npos) << where << " lacks " << part;
    const GameFolderNotFound error(where);
    EXPECT_NE(std::string(error.what()).find(GameKeyPath), std::string::npos) << error.what();
}

} // namespace
