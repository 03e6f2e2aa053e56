// The copy of a whole folder tree (the save folder's backup): files first, then subfolders,
// never into itself and never round a folder link that leads back up.
#include "platform/windows/WindowsFileSystem.h"

#include "core/OperationError.h"
#include "platform/windows/WindowsFolderEntries.h"
#include "platform/windows/WindowsText.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

namespace velmoran {

namespace {

std::wstring fullPath(const std::string& path)
{
    const std::wstring wide = toWide(path);
    std::optional<std::wstring> named = fullPathName(wide);
    if (!named)
        return wide;
    std::wstring full = std::move(*named);
    while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/'))
        full.pop_back();
    return full;
}

} // namespace

void WindowsFileSystem::copyFolderTree(const std::string& source, const std::string& destination)
{
    std::vector<FileIdentity> ancestors;
    copyTree(source, destination, ancestors);
}

void WindowsFileSystem::copyTree(const std::string& source, const std::string& destination,
                                 std::vector<FileIdentity>& ancestors)
{
    const std::string operation = "copy the folder";
    const DWORD attributes = ::GetFileAttributesW(filePath(source).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        fail(operation, {source, destination});
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        fail(operation, {source, destination}, ERROR_DIRECTORY);

    // A folder copied into itself would grow without end.
    const std::wstring from = fullPath(source);
    const std::wstring to = fullPath(destination);
    if (sameNameIgnoringCase(to.substr(0, from.size()), from) &&
        (to.size() == from.size() || to[from.size()] == L'\\'))
        throw OperationError(operation, {source, destination},
                             "the destination lies inside the folder being copied");

    // A folder link that leads back to a folder being copied would never end either.
    FileIdentity identity;
    {
        ScopedHandle folder(::CreateFileW(filePath(source).c_str(), FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                          nullptr));
        BY_HANDLE_FILE_INFORMATION info{};
        if (folder.valid() && ::GetFileInformationByHandle(folder.get(), &info))
            identity = {info.dwVolumeSerialNumber,
                        (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) |
                            info.nFileIndexLow};
    }
    if (!(identity == FileIdentity{}) &&
        std::find(ancestors.begin(), ancestors.end(), identity) != ancestors.end())
        throw OperationError(operation, {source, destination},
                             "a folder link leads back to a folder being copied");

    const DWORD existing = ::GetFileAttributesW(filePath(destination).c_str());
    if (existing == INVALID_FILE_ATTRIBUTES) {
        if (!::CreateDirectoryW(filePath(destination).c_str(), nullptr))
            fail(operation, {source, destination});
        if (attributes & KeptAttributes)
            ::SetFileAttributesW(filePath(destination).c_str(), attributes & KeptAttributes);
    } else if (!(existing & FILE_ATTRIBUTE_DIRECTORY)) {
        fail(operation, {source, destination}, ERROR_ALREADY_EXISTS);
    }

    std::vector<std::string> files;
    std::vector<std::string> folders;
    {
        FindHandle find;
        WIN32_FIND_DATAW data{};
        DWORD error = ERROR_SUCCESS;
        if (find.open(filePath(joinPath(source, "*")), data, error)) {
            do {
                if (isDotEntry(data.cFileName))
                    continue;
                (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? folders : files)
                    .push_back(toUtf8(data.cFileName));
            } while (find.next(data, operation, source));
        } else if (error != ERROR_FILE_NOT_FOUND) {
            fail(operation, {source}, error);
        }
    }
    for (const std::string& name : files)
        copyFile(joinPath(source, name), joinPath(destination, name));
    ancestors.push_back(identity);
    for (const std::string& name : folders)
        copyTree(joinPath(source, name), joinPath(destination, name), ancestors);
    ancestors.pop_back();
}

} // namespace velmoran
