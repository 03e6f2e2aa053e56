#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace velmoran {

// The core speaks UTF-8; Win32 is called with UTF-16 only. These convert at the boundary.
std::wstring toWide(std::string_view utf8);
std::string toUtf8(std::wstring_view wide);

// The system's text for an error code, as in "Access is denied. (error 5)".
std::string systemReason(DWORD error);

// The full path that GetFullPathNameW makes of a path; nothing when it cannot.
std::optional<std::wstring> fullPathName(const std::wstring& path);

// A path for the wide file functions: long paths (from MAX_PATH on) get the "\\?\"
// prefix, so that they work whatever the system's path length limit.
std::wstring filePath(std::string_view path);
std::wstring filePath(std::wstring path);

// Closes a Win32 handle when it goes.
class ScopedHandle
{
public:
    explicit ScopedHandle(HANDLE handle = INVALID_HANDLE_VALUE) : m_handle(handle) {}
    ~ScopedHandle() { reset(); }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    ScopedHandle(ScopedHandle&& other) noexcept : m_handle(other.release()) {}

    HANDLE get() const { return m_handle; }
    bool valid() const { return m_handle != INVALID_HANDLE_VALUE && m_handle != nullptr; }
    HANDLE release()
    {
        HANDLE handle = m_handle;
        m_handle = INVALID_HANDLE_VALUE;
        return handle;
    }
    void reset(HANDLE handle = INVALID_HANDLE_VALUE)
    {
        if (valid())
            ::CloseHandle(m_handle);
        m_handle = handle;
    }

private:
    HANDLE m_handle;
};

} // namespace velmoran
