// What the Windows file layer's files share: failures, folder entries and paths.
#include "platform/windows/WindowsFolderEntries.h"

#include "core/OperationError.h"

namespace velmoran {

[[noreturn]] void fail(const std::string& operation, std::vector<std::string> paths, DWORD error)
{
    throw OperationError(operation, std::move(paths), systemReason(error));
}

[[noreturn]] void fail(const std::string& operation, std::vector<std::string> paths)
{
    fail(operation, std::move(paths), ::GetLastError());
}

std::string joinPath(std::string_view folder, std::string_view name)
{
    if (folder.empty())
        return std::string(name);
    std::string path(folder);
    if (path.back() != '\\' && path.back() != '/')
        path += '\\';
    return path + std::string(name);
}

bool isDotEntry(const wchar_t* name)
{
    return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

bool sameNameIgnoringCase(std::wstring_view a, std::wstring_view b)
{
    return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                  static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

bool nothingThere(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
           error == ERROR_NO_MORE_FILES;
}

} // namespace velmoran
