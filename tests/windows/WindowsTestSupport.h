#pragma once

#include "platform/windows/WindowsText.h"

#include <filesystem>
#include <string>

namespace velmoran::testing {

// A path as the platform layer takes it: a Windows path in UTF-8.
inline std::string windowsPath(const std::filesystem::path& path)
{
    return toUtf8(path.wstring());
}

// The folder that holds this test program (and the stand-in programs built beside it).
inline std::filesystem::path testProgramFolder()
{
    std::wstring self(32768, L'\0');
    self.resize(::GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
    return std::filesystem::path(self).parent_path();
}

inline DWORD win32Attributes(const std::filesystem::path& path)
{
    return ::GetFileAttributesW(path.wstring().c_str());
}

} // namespace velmoran::testing
