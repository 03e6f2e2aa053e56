// The drive walk's read of one folder: its visible subfolders with their identities and
// the visible files of the name sought, in one pass over the folder's handle.
#include "platform/windows/WindowsFileSystem.h"

#include "core/OperationError.h"
#include "platform/windows/WindowsFolderEntries.h"
#include "platform/windows/WindowsText.h"

#include <cstdint>
#include <vector>

namespace velmoran {

void WindowsFileSystem::scanFolder(const std::string& folder, const std::string& name,
                                   FolderScan& result)
{
    const std::string operation = "read the folder";
    result.clear();
    const std::wstring sought = toWide(name);

    // The folder is read through its handle, in large batches that carry each entry's
    // file identity, so that the walk knows a folder it reaches twice (under Wine, a Unix
    // folder link looks like a plain folder) without opening any subfolder.
    ScopedHandle directory(::CreateFileW(filePath(folder).c_str(), FILE_LIST_DIRECTORY,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                         nullptr));
    if (!directory.valid()) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            throw FolderGone(operation, folder, systemReason(error));
        fail(operation, {folder}, error);
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const std::uint64_t volume =
        ::GetFileInformationByHandle(directory.get(), &info) ? info.dwVolumeSerialNumber : 0;
    // The folder's own identity, so that a link back up to the walk's root is known too; a
    // file system that gives every folder the index 0 gives none (as for its subfolders).
    const std::uint64_t index = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    if (volume != 0 && index != 0)
        result.folder = {volume, index};

    std::vector<std::uint64_t> buffer(64 * 1024 / sizeof(std::uint64_t)); // 8-byte aligned
    const DWORD bufferBytes = static_cast<DWORD>(buffer.size() * sizeof(std::uint64_t));
    FILE_INFO_BY_HANDLE_CLASS request = FileIdBothDirectoryRestartInfo;
    for (;;) {
        if (!::GetFileInformationByHandleEx(directory.get(), request, buffer.data(), bufferBytes)) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_NO_MORE_FILES || error == ERROR_FILE_NOT_FOUND)
                return;
            fail(operation, {folder}, error);
        }
        request = FileIdBothDirectoryInfo;
        const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.data());
        for (;;) {
            const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(bytes);
            const std::wstring entryName(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
            const DWORD a = entry->FileAttributes;
            const bool dot = entryName == L"." || entryName == L"..";
            if (!dot && !(a & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))) {
                if (a & FILE_ATTRIBUTE_DIRECTORY) {
                    // Junctions and folder links are never followed.
                    if (!(a & FILE_ATTRIBUTE_REPARSE_POINT)) {
                        result.subfolders.push_back(toUtf8(entryName));
                        const auto id = static_cast<std::uint64_t>(entry->FileId.QuadPart);
                        result.subfolderIds.push_back(id ? FolderId{volume, id} : FolderId{});
                    }
                } else if (sameNameIgnoringCase(entryName, sought)) {
                    result.matches.push_back(toUtf8(entryName));
                }
            }
            if (entry->NextEntryOffset == 0)
                break;
            bytes += entry->NextEntryOffset;
        }
    }
}

} // namespace velmoran