// The drive walk's read of one folder: its visible subfolders with their identities and the
// visible files of the name sought, from one getdents64 pass over the open folder.
#include "platform/linux/LinuxFileSystem.h"

#include "core/OperationError.h"
#include "core/PathRules.h"
#include "platform/linux/DosAttributes.h"
#include "platform/linux/LinuxFolderEntries.h"
#include "platform/linux/SafeFiles.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace velmoran {

bool LinuxFileSystem::isExcluded(const std::string& childPath, const FolderId& id) const
{
    for (const Excluded& excluded : m_excluded)
        if ((id.inode != 0 && id == excluded.id) || childPath == excluded.path)
            return true;
    return false;
}

int LinuxFileSystem::openForScan(const std::string& folder, std::string literal,
                                 std::string& path) const
{
    // The walk gives names as they are stored, so the literal path opens at once; only a
    // path that does not (other capitals, "..") goes through the full mapping.
    path = std::move(literal);
    int fd = path.empty() ? -1 : ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 && (path.empty() || errno == ENOENT || errno == ENOTDIR)) {
        path = unixPath(folder, "read the folder").string();
        fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    if (fd < 0 && (errno == ENOENT || errno == ENOTDIR))
        throw FolderGone("read the folder", folder, std::strerror(errno));
    if (fd < 0)
        throw OperationError("read the folder", {folder}, std::strerror(errno));
    return fd;
}

void LinuxFileSystem::scanFolder(const std::string& folder, const std::string& name,
                                 FolderScan& result)
{
    result.clear();
    std::string path;
    const Descriptor fd(openForScan(folder, literalPath(folder), path));
    struct stat folderStat
    {
    };
    if (::fstat(fd.get(), &folderStat) != 0)
        throw OperationError("read the folder", {folder}, std::strerror(errno));
    scanOpenFolder(folder, path, fd.get(),
                   {static_cast<std::uint64_t>(folderStat.st_dev),
                    static_cast<std::uint64_t>(folderStat.st_ino)},
                   name, result);
}

void LinuxFileSystem::scanOpenFolder(const std::string& folder, const std::string& path, int fd,
                                     const FolderId& id, const std::string& name,
                                     FolderScan& result, std::vector<std::string>* linked) const
{
    result.folder = id;
    // One buffer per thread, reused for every folder: one getdents64 call reads a whole
    // ordinary folder.
    thread_local std::vector<char> buffer(256 * 1024);
    std::string child = path;
    if (child.empty() || child.back() != '/')
        child += '/';
    const std::size_t childBase = child.size();

    for (;;) {
        const ssize_t got = ::getdents64(fd, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw OperationError("read the folder", {folder}, std::strerror(errno));
        }
        if (got == 0)
            break;
        for (ssize_t offset = 0; offset < got;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buffer.data() + offset);
            offset += entry->d_reclen;
            const char* entryName = entry->d_name;
            if (isDotOrDotDot(entryName))
                continue;
            const std::size_t length = std::strlen(entryName);
            bool isFolder = entry->d_type == DT_DIR;
            bool isFile = entry->d_type == DT_REG;
            FolderId entryId{id.device, static_cast<std::uint64_t>(entry->d_ino)};
            // No test of the lengths first: a capital may be longer or shorter in UTF-8 than
            // its small letter (U+023A has two bytes, U+2C65 three).
            const bool mayMatch = equalsIgnoreCase(std::string_view(entryName, length), name);
            if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
                // Links count as what they lead to; a link that leads nowhere is passed over.
                struct stat st
                {
                };
                if (::fstatat(fd, entryName, &st, 0) != 0)
                    continue;
                isFolder = S_ISDIR(st.st_mode);
                isFile = S_ISREG(st.st_mode);
                entryId = {static_cast<std::uint64_t>(st.st_dev),
                           static_cast<std::uint64_t>(st.st_ino)};
            }
            if (!isFolder && !(isFile && mayMatch))
                continue;
            child.resize(childBase);
            child.append(entryName, length);
            if (isFolder && isExcluded(child, entryId))
                continue;
            if (DosAttributes::effectiveAt(fd, entryName, child.c_str()) &
                (Attribute::Hidden | Attribute::System))
                continue;
            if (isFolder) {
                result.subfolders.emplace_back(entryName, length);
                result.subfolderIds.push_back(entryId);
                if (linked && entry->d_type != DT_DIR)
                    linked->emplace_back(entryName, length);
            } else {
                result.matches.emplace_back(entryName, length);
            }
        }
    }
    sortForListing(result.subfolders, &result.subfolderIds);
    sortForListing<int>(result.matches, nullptr);
}

} // namespace velmoran
