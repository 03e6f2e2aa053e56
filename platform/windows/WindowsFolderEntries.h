// What the Windows file layer's files share: the failure that carries the system's reason,
// folder entries and paths (dot entries, names without regard to case, joining), and the
// FindFirstFileExW search that lists a folder.
#pragma once

#include "platform/windows/WindowsText.h"

#include <string>
#include <string_view>
#include <vector>

namespace velmoran {

constexpr DWORD KeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                 FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

[[noreturn]] void fail(const std::string& operation, std::vector<std::string> paths, DWORD error);
[[noreturn]] void fail(const std::string& operation, std::vector<std::string> paths);

// folder + "\" + name, without doubling a separator that is there.
std::string joinPath(std::string_view folder, std::string_view name);

bool isDotEntry(const wchar_t* name);

bool sameNameIgnoringCase(std::wstring_view a, std::wstring_view b);

// Whether a failed search found nothing, as opposed to failing to read.
bool nothingThere(DWORD error);

// One open FindFirstFileExW search, closed when it goes.
class FindHandle
{
public:
    FindHandle() = default;
    ~FindHandle() { close(); }
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;

    // false when nothing matches or the folder is missing (error code in `error`).
    bool open(const std::wstring& pattern, WIN32_FIND_DATAW& data, DWORD& error)
    {
        m_handle = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data,
                                      FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
        error = m_handle == INVALID_HANDLE_VALUE ? ::GetLastError() : ERROR_SUCCESS;
        return m_handle != INVALID_HANDLE_VALUE;
    }
    // false at the end of the listing; raises on any other failure.
    bool next(WIN32_FIND_DATAW& data, const std::string& operation, const std::string& path)
    {
        if (::FindNextFileW(m_handle, &data))
            return true;
        const DWORD error = ::GetLastError();
        close();
        if (error != ERROR_NO_MORE_FILES)
            fail(operation, {path}, error);
        return false;
    }
    void close()
    {
        if (m_handle != INVALID_HANDLE_VALUE)
            ::FindClose(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE m_handle = INVALID_HANDLE_VALUE;
};

} // namespace velmoran
