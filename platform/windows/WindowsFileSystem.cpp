#include "platform/windows/WindowsFileSystem.h"

#include "core/OperationError.h"
#include "platform/windows/WindowsText.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <vector>

namespace velmoran {

namespace {

constexpr DWORD KeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                 FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
constexpr DWORD ReportedAttributes = KeptAttributes | FILE_ATTRIBUTE_DIRECTORY;
constexpr DWORD CopyChunk = 1u << 20;

[[noreturn]] void fail(const std::string& operation, std::vector<std::string> paths, DWORD error)
{
    throw OperationError(operation, std::move(paths), systemReason(error));
}

[[noreturn]] void fail(const std::string& operation, std::vector<std::string> paths)
{
    fail(operation, std::move(paths), ::GetLastError());
}

// folder + "\" + name, without doubling a separator that is there.
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

bool nothingThere(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
           error == ERROR_NO_MORE_FILES;
}

bool accepts(const WIN32_FIND_DATAW& entry, FindFilter filter)
{
    const DWORD a = entry.dwFileAttributes;
    const bool folder = a & FILE_ATTRIBUTE_DIRECTORY;
    const bool hidden = a & FILE_ATTRIBUTE_HIDDEN;
    const bool system = a & FILE_ATTRIBUTE_SYSTEM;
    switch (filter) {
    case FindFilter::Ordinary:
        return !folder && !hidden && !system;
    case FindFilter::Hidden:
        return !folder && !system;
    case FindFilter::Folder:
        return (folder && isDotEntry(entry.cFileName)) || (!hidden && !system);
    }
    return false;
}

class WindowsListing : public Listing
{
public:
    WindowsListing(std::string pattern, FindFilter filter)
        : m_pattern(std::move(pattern)), m_filter(filter)
    {
        DWORD error = ERROR_SUCCESS;
        m_hasEntry = m_find.open(filePath(m_pattern), m_data, error);
        // A missing folder or no match is an empty listing; anything else (a drive that
        // is not ready, a folder that cannot be read) is a failure.
        if (!m_hasEntry && !nothingThere(error))
            fail("list", {m_pattern}, error);
    }

    std::string next() override
    {
        if (m_ended)
            throw OperationError("continue the listing", {m_pattern},
                                 "the listing has already ended");
        for (;;) {
            if (m_advance) {
                m_advance = false;
                m_hasEntry = m_find.next(m_data, "list", m_pattern);
            }
            if (!m_hasEntry) {
                m_ended = true;
                return {};
            }
            m_advance = true;
            if (accepts(m_data, m_filter))
                return toUtf8(m_data.cFileName);
        }
    }

private:
    std::string m_pattern;
    FindFilter m_filter;
    FindHandle m_find;
    WIN32_FIND_DATAW m_data{};
    bool m_hasEntry = false;
    bool m_advance = false;
    bool m_ended = false;
};

ScopedHandle openForReading(const std::string& path, const std::string& operation,
                            std::vector<std::string> paths)
{
    ScopedHandle file(::CreateFileW(filePath(path).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.valid())
        fail(operation, std::move(paths));
    return file;
}

// Reads up to `size` bytes; fewer only at the end of the file.
DWORD readChunk(HANDLE file, char* buffer, DWORD size, const std::string& operation,
                const std::vector<std::string>& paths)
{
    DWORD total = 0;
    while (total < size) {
        DWORD got = 0;
        if (!::ReadFile(file, buffer + total, size - total, &got, nullptr))
            fail(operation, paths);
        if (got == 0)
            break;
        total += got;
    }
    return total;
}

void writeAll(HANDLE file, const char* data, std::size_t size, const std::string& operation,
              const std::vector<std::string>& paths)
{
    while (size > 0) {
        const DWORD part = size > CopyChunk ? CopyChunk : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!::WriteFile(file, data, part, &written, nullptr))
            fail(operation, paths);
        data += written;
        size -= written;
    }
}

bool sameFile(HANDLE a, HANDLE b)
{
    BY_HANDLE_FILE_INFORMATION ia{}, ib{};
    return ::GetFileInformationByHandle(a, &ia) && ::GetFileInformationByHandle(b, &ib) &&
           ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
           ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

// The folder part of a path, before its last separator ("\" or "/").
std::string_view folderOf(std::string_view path)
{
    const std::size_t separator = path.find_last_of("\\/");
    return separator == std::string_view::npos ? std::string_view() : path.substr(0, separator);
}

// A name for the copy in progress, in the destination's own folder so that the final
// rename stays on one volume.
std::string temporaryBeside(const std::string& destination)
{
    static std::atomic<unsigned> counter{0};
    const std::string name = ".~velmoran-" + std::to_string(::GetCurrentProcessId()) + "-" +
                             std::to_string(++counter) + ".tmp";
    return joinPath(folderOf(destination), name);
}

std::wstring fullPath(const std::string& path)
{
    const std::wstring wide = toWide(path);
    DWORD size = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (size == 0)
        return wide;
    std::wstring full(size, L'\0');
    size = ::GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
    full.resize(size);
    while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/'))
        full.pop_back();
    return full;
}

} // namespace

void WindowsFileSystem::copyFile(const std::string& source, const std::string& destination)
{
    const std::string operation = "copy the file";
    const std::vector<std::string> paths{source, destination};
    ScopedHandle in = openForReading(source, operation, paths);
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(in.get(), &info))
        fail(operation, paths);

    // A file copied onto itself stays as it is.
    {
        ScopedHandle existing(::CreateFileW(filePath(destination).c_str(), FILE_READ_ATTRIBUTES,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                            nullptr));
        if (existing.valid() && sameFile(in.get(), existing.get()))
            return;
    }

    // A read-only destination is not replaced, whatever rights the process has.
    const DWORD existingAttributes = ::GetFileAttributesW(filePath(destination).c_str());
    if (existingAttributes != INVALID_FILE_ATTRIBUTES &&
        (existingAttributes & FILE_ATTRIBUTE_READONLY))
        fail(operation, paths, ERROR_ACCESS_DENIED);

    // Copied to a temporary file beside the destination, flushed to disk, then renamed
    // over the destination in one step: a crash leaves the old file or the new one, never
    // a truncated one.
    const std::string temporary = temporaryBeside(destination);
    const std::wstring temporaryWide = filePath(temporary);
    ScopedHandle out(::CreateFileW(temporaryWide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!out.valid())
        fail(operation, paths);
    try {
        std::vector<char> buffer(CopyChunk);
        for (;;) {
            const DWORD got = readChunk(in.get(), buffer.data(), CopyChunk, operation, paths);
            writeAll(out.get(), buffer.data(), got, operation, paths);
            if (got < CopyChunk)
                break;
        }
        ::SetFileTime(out.get(), nullptr, nullptr, &info.ftLastWriteTime);
        if (!::FlushFileBuffers(out.get()))
            fail(operation, paths);
        out.reset();
        const DWORD attributes = info.dwFileAttributes & KeptAttributes;
        if (attributes != 0)
            ::SetFileAttributesW(temporaryWide.c_str(), attributes);
        if (!::MoveFileExW(temporaryWide.c_str(), filePath(destination).c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            fail(operation, paths);
    } catch (...) {
        out.reset();
        ::SetFileAttributesW(temporaryWide.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(temporaryWide.c_str());
        throw;
    }
}

bool WindowsFileSystem::moveFile(const std::string& source, const std::string& destination)
{
    const std::string operation = "move the file";
    const std::vector<std::string> paths{source, destination};
    {
        ScopedHandle in = openForReading(source, operation, paths);
        BY_HANDLE_FILE_INFORMATION info{};
        if (!::GetFileInformationByHandle(in.get(), &info))
            fail(operation, paths);
        if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            fail(operation, paths, ERROR_ACCESS_DENIED);
        ScopedHandle existing(::CreateFileW(filePath(destination).c_str(), FILE_READ_ATTRIBUTES,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                            nullptr));
        if (existing.valid() && sameFile(in.get(), existing.get())) {
            // One file: under its own name it stays as it is; another name of it (a hard
            // link) goes, as after a copy and a delete.
            const std::wstring from = filePath(source), to = filePath(destination);
            if (::CompareStringOrdinal(from.c_str(), -1, to.c_str(), -1, TRUE) == CSTR_EQUAL)
                return true;
            in.reset();
            existing.reset();
            if (!::DeleteFileW(from.c_str()))
                fail(operation, paths);
            return true;
        }
    }
    // A read-only destination is not replaced, as with a copy.
    const DWORD existingAttributes = ::GetFileAttributesW(filePath(destination).c_str());
    if (existingAttributes != INVALID_FILE_ATTRIBUTES &&
        (existingAttributes & FILE_ATTRIBUTE_READONLY))
        fail(operation, paths, ERROR_ACCESS_DENIED);
    // Without MOVEFILE_COPY_ALLOWED: within a volume only, as one rename.
    if (!::MoveFileExW(filePath(source).c_str(), filePath(destination).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_NOT_SAME_DEVICE)
            return false;
        fail(operation, paths, error);
    }
    return true;
}

void WindowsFileSystem::deleteFiles(const std::string& pattern)
{
    const std::string operation = "delete the files";
    std::vector<std::string> files;
    {
        FindHandle find;
        WIN32_FIND_DATAW data{};
        DWORD error = ERROR_SUCCESS;
        if (find.open(filePath(pattern), data, error)) {
            do {
                if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                    files.push_back(joinPath(folderOf(pattern), toUtf8(data.cFileName)));
            } while (find.next(data, operation, pattern));
        } else if (!nothingThere(error)) {
            fail(operation, {pattern}, error);
        }
    }
    if (files.empty())
        throw OperationError(operation, {pattern}, "no file matches");
    for (const std::string& file : files)
        if (!::DeleteFileW(filePath(file).c_str()))
            fail(operation, {file});
}

void WindowsFileSystem::makeFolder(const std::string& path)
{
    if (!::CreateDirectoryW(filePath(path).c_str(), nullptr))
        fail("make the folder", {path});
}

void WindowsFileSystem::removeFolder(const std::string& path)
{
    if (!::RemoveDirectoryW(filePath(path).c_str()))
        fail("remove the folder", {path});
}

void WindowsFileSystem::setAttributes(const std::string& path, unsigned value)
{
    const DWORD attributes = value & KeptAttributes;
    if (!::SetFileAttributesW(filePath(path).c_str(),
                              attributes ? attributes : FILE_ATTRIBUTE_NORMAL))
        fail("set the attributes of", {path});
}

unsigned WindowsFileSystem::fileAttributes(const std::string& path)
{
    const DWORD attributes = ::GetFileAttributesW(filePath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        fail("read the attributes of", {path});
    return attributes & ReportedAttributes;
}

std::unique_ptr<Listing> WindowsFileSystem::findFile(const std::string& pattern, FindFilter filter)
{
    return std::make_unique<WindowsListing>(pattern, filter);
}

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

void WindowsFileSystem::writeTextFile(const std::string& path,
                                      const std::vector<std::string>& lines)
{
    const std::string operation = "write the text file";
    // 8-bit text in the system's ANSI code page; a character it lacks becomes its
    // default character, as Windows' own text output does.
    std::string bytes;
    for (const std::string& line : lines) {
        const std::wstring wide = toWide(line);
        if (!wide.empty()) {
            const int size = static_cast<int>(wide.size());
            const int length =
                ::WideCharToMultiByte(CP_ACP, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
            const std::size_t start = bytes.size();
            bytes.resize(start + static_cast<std::size_t>(length));
            ::WideCharToMultiByte(CP_ACP, 0, wide.data(), size, bytes.data() + start, length,
                                  nullptr, nullptr);
        }
        bytes += "\r\n";
    }
    ScopedHandle file(::CreateFileW(filePath(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid())
        fail(operation, {path});
    writeAll(file.get(), bytes.data(), bytes.size(), operation, {path});
    if (!::CloseHandle(file.release()))
        fail(operation, {path});
}

bool WindowsFileSystem::sameContents(const std::string& first, const std::string& second)
{
    const std::string operation = "compare the files";
    const std::vector<std::string> paths{first, second};
    ScopedHandle a = openForReading(first, operation, paths);
    ScopedHandle b = openForReading(second, operation, paths);
    LARGE_INTEGER sizeA{}, sizeB{};
    if (!::GetFileSizeEx(a.get(), &sizeA) || !::GetFileSizeEx(b.get(), &sizeB))
        fail(operation, paths);
    if (sizeA.QuadPart != sizeB.QuadPart)
        return false;
    constexpr DWORD Chunk = 256 * 1024;
    std::vector<char> bufferA(Chunk), bufferB(Chunk);
    for (;;) {
        const DWORD gotA = readChunk(a.get(), bufferA.data(), Chunk, operation, paths);
        const DWORD gotB = readChunk(b.get(), bufferB.data(), Chunk, operation, paths);
        if (gotA != gotB || !std::equal(bufferA.begin(), bufferA.begin() + gotA, bufferB.begin()))
            return false;
        if (gotA < Chunk)
            return true;
    }
}

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
    // The folder's own identity, so that a link back up to the walk's root is known too.
    if (volume != 0)
        result.folder = {volume, (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};

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
