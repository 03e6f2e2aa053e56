// The file operations of the Windows file layer: copy, move, delete, folders, attributes,
// text files and comparison; a copy replaces its destination whole, so a crash leaves the old.
#include "platform/windows/WindowsFileSystem.h"

#include "core/OperationError.h"
#include "platform/windows/WindowsFolderEntries.h"
#include "platform/windows/WindowsText.h"

#include <atomic>
#include <cstdint>
#include <vector>

namespace velmoran {

namespace {

constexpr DWORD ReportedAttributes = KeptAttributes | FILE_ATTRIBUTE_DIRECTORY;
constexpr DWORD CopyChunk = 1u << 20;

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

// Opens the file for reading, with what the system knows of it in `info`.
ScopedHandle openWithInformation(const std::string& path, const std::string& operation,
                                 const std::vector<std::string>& paths,
                                 BY_HANDLE_FILE_INFORMATION& info)
{
    ScopedHandle file = openForReading(path, operation, paths);
    if (!::GetFileInformationByHandle(file.get(), &info))
        fail(operation, paths);
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

// Whether destination names the file open as `in`, under that name or another (a hard link).
bool isSameFileAs(HANDLE in, const std::string& destination)
{
    ScopedHandle existing(::CreateFileW(filePath(destination).c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                        nullptr));
    return existing.valid() && sameFile(in, existing.get());
}

// A read-only destination is not replaced, whatever rights the process has.
void refuseReadOnly(const std::string& destination, const std::string& operation,
                    const std::vector<std::string>& paths)
{
    const DWORD existingAttributes = ::GetFileAttributesW(filePath(destination).c_str());
    if (existingAttributes != INVALID_FILE_ATTRIBUTES &&
        (existingAttributes & FILE_ATTRIBUTE_READONLY))
        fail(operation, paths, ERROR_ACCESS_DENIED);
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

} // namespace

void WindowsFileSystem::copyFile(const std::string& source, const std::string& destination)
{
    const std::string operation = "copy the file";
    const std::vector<std::string> paths{source, destination};
    BY_HANDLE_FILE_INFORMATION info{};
    ScopedHandle in = openWithInformation(source, operation, paths, info);

    // A file copied onto itself stays as it is.
    if (isSameFileAs(in.get(), destination))
        return;

    refuseReadOnly(destination, operation, paths);

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
        BY_HANDLE_FILE_INFORMATION info{};
        ScopedHandle in = openWithInformation(source, operation, paths, info);
        if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            fail(operation, paths, ERROR_ACCESS_DENIED);
        if (isSameFileAs(in.get(), destination)) {
            // One file: under its own name it stays as it is; another name of it (a hard
            // link) goes, as after a copy and a delete.
            const std::wstring from = filePath(source), to = filePath(destination);
            if (::CompareStringOrdinal(from.c_str(), -1, to.c_str(), -1, TRUE) == CSTR_EQUAL)
                return true;
            in.reset();
            if (!::DeleteFileW(from.c_str()))
                fail(operation, paths);
            return true;
        }
    }
    // A read-only destination is not replaced, as with a copy.
    refuseReadOnly(destination, operation, paths);
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

} // namespace velmoran
