#include "platform/windows/WindowsRegistryReader.h"

#include "core/OperationError.h"
#include "platform/windows/WindowsText.h"

#include <vector>

namespace velmoran {

namespace {

HKEY rootHandle(RootKey root)
{
    switch (root) {
    case RootKey::LocalMachine:
        return HKEY_LOCAL_MACHINE;
    }
    return HKEY_LOCAL_MACHINE;
}

const char* rootName(RootKey root)
{
    switch (root) {
    case RootKey::LocalMachine:
        return "HKEY_LOCAL_MACHINE";
    }
    return "HKEY_LOCAL_MACHINE";
}

class ScopedKey
{
public:
    ~ScopedKey()
    {
        if (key)
            ::RegCloseKey(key);
    }
    HKEY key = nullptr;
};

} // namespace

std::optional<std::string> WindowsRegistryReader::readString(RootKey root,
                                                             const std::string& keyPath,
                                                             const std::string& valueName)
{
    const auto fail = [&](LSTATUS status) {
        return OperationError("read the registry value",
                              {describeLocation(root, keyPath, valueName)},
                              systemReason(static_cast<DWORD>(status)));
    };

    ScopedKey key;
    LSTATUS status = ::RegOpenKeyExW(rootHandle(root), toWide(keyPath).c_str(), 0,
                                     KEY_QUERY_VALUE | KEY_WOW64_32KEY, &key.key);
    if (status == ERROR_FILE_NOT_FOUND)
        return std::nullopt;
    if (status != ERROR_SUCCESS)
        throw fail(status);

    // REG_SZ, and REG_EXPAND_SZ with its variables expanded, of any length: the size is
    // asked first and asked again while the value grows under us.
    const std::wstring name = toWide(valueName);
    const DWORD flags = RRF_RT_REG_SZ;
    DWORD bytes = 0;
    status = ::RegGetValueW(key.key, nullptr, name.c_str(), flags, nullptr, nullptr, &bytes);
    std::vector<wchar_t> buffer;
    for (int attempt = 0; status == ERROR_SUCCESS || status == ERROR_MORE_DATA; ++attempt) {
        buffer.assign(bytes / sizeof(wchar_t) + 2, L'\0');
        bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
        status =
            ::RegGetValueW(key.key, nullptr, name.c_str(), flags, nullptr, buffer.data(), &bytes);
        if (status == ERROR_SUCCESS) {
            std::wstring text(buffer.data(), bytes / sizeof(wchar_t));
            while (!text.empty() && text.back() == L'\0')
                text.pop_back();
            return toUtf8(text);
        }
        if (status == ERROR_MORE_DATA && attempt < 8)
            continue;
        break;
    }
    // A missing value, or one that holds no text, is not found.
    if (status == ERROR_FILE_NOT_FOUND || status == ERROR_UNSUPPORTED_TYPE)
        return std::nullopt;
    throw fail(status);
}

std::string WindowsRegistryReader::describeLocation(RootKey root, const std::string& keyPath,
                                                    const std::string& valueName) const
{
    return "the value \"" + valueName + "\" of the registry key " + rootName(root) + "\\" +
           keyPath + " (its 32-bit view: under Wow6432Node on 64-bit Windows)";
}

} // namespace velmoran
