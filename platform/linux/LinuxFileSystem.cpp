// The file operations of the Linux file layer: copy, move, delete, folders, attributes,
// text files and comparison on a Wine prefix's files, and the mapping of Windows paths.
#include "platform/linux/LinuxFileSystem.h"

#include "core/AsciiText.h"
#include "core/OperationError.h"
#include "core/PathRules.h"
#include "platform/linux/Cp1252.h"
#include "platform/linux/DosAttributes.h"
#include "platform/linux/LinuxFolderEntries.h"
#include "platform/linux/SafeFiles.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace velmoran {

LinuxFileSystem::LinuxFileSystem(WinePrefix prefix) : m_prefix(std::move(prefix))
{
    for (const fs::path& path :
         {fs::path("/proc"), fs::path("/sys"), fs::path("/dev"), m_prefix.dosDevices()}) {
        Excluded excluded{path.lexically_normal().string(), {}};
        struct stat st
        {
        };
        if (::stat(path.c_str(), &st) == 0)
            excluded.id = {static_cast<std::uint64_t>(st.st_dev),
                           static_cast<std::uint64_t>(st.st_ino)};
        m_excluded.push_back(excluded);
        std::error_code ec;
        const fs::path real = fs::canonical(path, ec);
        if (!ec && real.string() != excluded.path)
            m_excluded.push_back({real.string(), excluded.id});
    }
}

fs::path LinuxFileSystem::unixPath(const std::string& path, const std::string& operation) const
{
    // Names as stored lead straight to the file; others are looked up without regard to case.
    const std::string literal = literalPath(path);
    struct stat st
    {
    };
    if (!literal.empty() && ::lstat(literal.c_str(), &st) == 0)
        return fs::path(literal);
    return m_prefix.toUnix(path, operation);
}

void LinuxFileSystem::copyFile(const std::string& source, const std::string& destination)
{
    const FailureContext context{"copy the file", {source, destination}};
    const fs::path from = unixPath(source, context.operation);
    const fs::path to = unixPath(destination, context.operation);
    SafeFiles::removeStrayTemporaries(to.parent_path());
    SafeFiles::copyFile(from, to, context);
}

bool LinuxFileSystem::moveFile(const std::string& source, const std::string& destination)
{
    const FailureContext context{"move the file", {source, destination}};
    const fs::path from = unixPath(source, context.operation);
    const fs::path to = unixPath(destination, context.operation);
    struct stat sourceStat
    {
    };
    if (::stat(from.c_str(), &sourceStat) != 0)
        raiseErrno(context, errno, "cannot read " + from.string());
    if (S_ISDIR(sourceStat.st_mode))
        raiseFailure(context, from.string() + " is a folder");
    struct stat destinationStat
    {
    };
    if (::stat(to.c_str(), &destinationStat) == 0) {
        if (S_ISDIR(destinationStat.st_mode))
            raiseFailure(context, "a folder of that name exists");
        if (destinationStat.st_dev == sourceStat.st_dev &&
            destinationStat.st_ino == sourceStat.st_ino) {
            // One file: under its own name it stays as it is; another name of it (a hard
            // link) goes, as after a copy and a delete.
            if (resolvedPath(from) == resolvedPath(to))
                return true;
            if (::unlink(from.c_str()) != 0)
                raiseErrno(context, errno, "cannot delete " + from.string());
            SafeFiles::syncFolder(from.parent_path(), context);
            return true;
        }
    }
    SafeFiles::removeStrayTemporaries(to.parent_path());
    if (SafeFiles::renameFreeingLater(from, to) != 0) {
        if (errno == EXDEV)
            return false;
        raiseErrno(context, errno, "cannot rename " + from.string() + " to " + to.string());
    }
    // The new name first: until both folders are on disk, a crash leaves the file under
    // one of its names.
    SafeFiles::syncFolder(to.parent_path(), context);
    if (resolvedPath(from.parent_path()) != resolvedPath(to.parent_path()))
        SafeFiles::syncFolder(from.parent_path(), context);
    return true;
}

void LinuxFileSystem::deleteFiles(const std::string& pattern)
{
    const FailureContext context{"delete the files", {pattern}};
    const SplitPattern split = splitPattern(pattern);
    std::vector<fs::path> victims;
    if (!hasWildcards(split.last)) {
        const fs::path path = unixPath(pattern, context.operation);
        struct stat st
        {
        };
        if (::lstat(path.c_str(), &st) != 0)
            raiseErrno(context, errno, "no file matches");
        struct stat target
        {
        };
        if (::stat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode))
            raiseFailure(context, "no file matches: that name is a folder");
        victims.push_back(path);
    } else {
        const fs::path folder = unixPath(split.folder, context.operation);
        DIR* dir = ::opendir(folder.c_str());
        if (!dir) {
            const int error = errno;
            if (error == ENOENT || error == ENOTDIR)
                raiseFailure(context, "no file matches: the folder does not exist");
            raiseErrno(context, error, "cannot read the folder");
        }
        while (const dirent* entry = ::readdir(dir)) {
            if (isDotOrDotDot(entry->d_name) || !wildcardMatch(split.last, entry->d_name))
                continue;
            const std::string full = joinPath(folder.string(), entry->d_name);
            if (!isFolderEntry(entry->d_type, full))
                victims.emplace_back(full);
        }
        ::closedir(dir);
        if (victims.empty())
            raiseFailure(context, "no file matches");
    }
    for (const fs::path& victim : victims)
        if (SafeFiles::unlinkFreeingLater(victim) != 0)
            raiseErrno(context, errno, "cannot delete " + victim.string());
}

void LinuxFileSystem::makeFolder(const std::string& path)
{
    const FailureContext context{"make the folder", {path}};
    const fs::path folder = unixPath(path, context.operation);
    if (::mkdir(folder.c_str(), 0777) != 0) {
        const int error = errno;
        if (error == EEXIST)
            raiseFailure(context, "it exists already");
        if (error == ENOENT)
            raiseFailure(context, "its parent folder is missing");
        raiseErrno(context, error);
    }
    SafeFiles::syncFolder(folder.parent_path(), context);
}

void LinuxFileSystem::removeFolder(const std::string& path)
{
    const FailureContext context{"remove the folder", {path}};
    const fs::path folder = unixPath(path, context.operation);
    // Copies that a killed run left behind would otherwise keep the folder forever.
    SafeFiles::removeStrayTemporaries(folder);
    if (::rmdir(folder.c_str()) != 0) {
        const int error = errno;
        if (error == ENOENT)
            raiseFailure(context, "the folder does not exist");
        if (error == ENOTEMPTY || error == EEXIST)
            raiseFailure(context, "the folder is not empty");
        if (error == ENOTDIR)
            raiseFailure(context, "it is not a folder");
        raiseErrno(context, error);
    }
}

void LinuxFileSystem::setAttributes(const std::string& path, unsigned value)
{
    const FailureContext context{"set the attributes of", {path}};
    const fs::path file = unixPath(path, context.operation);
    struct stat st
    {
    };
    if (::stat(file.c_str(), &st) != 0)
        raiseErrno(context, errno);
    const std::string name = file.filename().string();
    if (const int error = DosAttributes::write(file.c_str(), name.c_str(), value)) {
        if (error == ENOTSUP || error == EOPNOTSUPP)
            raiseFailure(context, "the file system that holds " + file.string() +
                                      " cannot store the hidden or system attribute: it keeps "
                                      "no user extended attributes (user.DOSATTRIB)");
        raiseErrno(context, error, "cannot store the hidden or system attribute");
    }
    const bool readOnly = (st.st_mode & 0222) == 0;
    const bool wantReadOnly = (value & Attribute::ReadOnly) != 0;
    if (readOnly != wantReadOnly) {
        const mode_t mode =
            wantReadOnly ? (st.st_mode & 07777 & ~0222) : ((st.st_mode & 07777) | S_IWUSR);
        if (::chmod(file.c_str(), mode) != 0)
            raiseErrno(context, errno, "cannot change the read-only attribute");
    }
}

unsigned LinuxFileSystem::fileAttributes(const std::string& path)
{
    const FailureContext context{"read the attributes of", {path}};
    const fs::path file = unixPath(path, context.operation);
    struct stat st
    {
    };
    if (::stat(file.c_str(), &st) != 0)
        raiseErrno(context, errno);
    unsigned attributes = S_ISDIR(st.st_mode) ? Attribute::Directory : Attribute::Archive;
    if ((st.st_mode & 0222) == 0)
        attributes |= Attribute::ReadOnly;
    const std::string name = file.filename().string();
    return attributes | DosAttributes::effective(file.c_str(), name.c_str());
}

void LinuxFileSystem::writeTextFile(const std::string& path, const std::vector<std::string>& lines)
{
    const FailureContext context{"write the text file", {path}};
    const fs::path file = unixPath(path, context.operation);
    std::string bytes;
    for (const std::string& line : lines) {
        bytes += utf8ToCp1252(line);
        bytes += "\r\n";
    }
    SafeFiles::removeStrayTemporaries(file.parent_path());
    SafeFiles::writeFile(file, bytes, context);
}

bool LinuxFileSystem::sameContents(const std::string& first, const std::string& second)
{
    const FailureContext context{"compare the files", {first, second}};
    const fs::path paths[2] = {unixPath(first, context.operation),
                               unixPath(second, context.operation)};
    Descriptor fds[2];
    struct stat st[2]{};
    for (int i = 0; i < 2; ++i) {
        fds[i].reset(::open(paths[i].c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
        if (fds[i].get() < 0 || ::fstat(fds[i].get(), &st[i]) != 0)
            raiseErrno(context, errno, "cannot open " + paths[i].string());
        if (S_ISDIR(st[i].st_mode))
            raiseFailure(context, paths[i].string() + " is a folder");
        if (!S_ISREG(st[i].st_mode))
            raiseFailure(context, paths[i].string() + " is not a regular file");
    }
    if (st[0].st_dev == st[1].st_dev && st[0].st_ino == st[1].st_ino)
        return true;
    if (st[0].st_size != st[1].st_size)
        return false;
    constexpr std::size_t Chunk = 1u << 20;
    std::vector<char> buffers[2] = {std::vector<char>(Chunk), std::vector<char>(Chunk)};
    for (;;) {
        std::size_t got[2] = {0, 0};
        for (int i = 0; i < 2; ++i) {
            while (got[i] < Chunk) {
                const ssize_t n = ::read(fds[i].get(), buffers[i].data() + got[i], Chunk - got[i]);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0)
                    raiseErrno(context, errno, "cannot read " + paths[i].string());
                if (n == 0)
                    break;
                got[i] += static_cast<std::size_t>(n);
            }
        }
        if (got[0] != got[1] || std::memcmp(buffers[0].data(), buffers[1].data(), got[0]) != 0)
            return false;
        if (got[0] < Chunk)
            return true;
    }
}

std::string LinuxFileSystem::literalPath(const std::string& folder) const
{
    const int drive = driveIndex(folder);
    if (drive < 0)
        return std::string();
    const char letter = static_cast<char>('a' + drive);
    std::string path;
    {
        const std::lock_guard<std::mutex> lock(m_driveCacheMutex);
        struct stat st
        {
        };
        const bool haveFolder = ::stat(m_prefix.dosDevices().c_str(), &st) == 0;
        const auto inode = haveFolder ? static_cast<std::uint64_t>(st.st_ino) : 0;
        if (!haveFolder || inode != m_driveCacheInode ||
            st.st_mtim.tv_sec != m_driveCacheTime.tv_sec ||
            st.st_mtim.tv_nsec != m_driveCacheTime.tv_nsec) {
            m_driveKnown.fill(false);
            m_driveCacheInode = inode;
            m_driveCacheTime = haveFolder ? st.st_mtim : timespec{};
        }
        // A change within the last second may not show in the folder's time yet (time
        // stamps are as coarse as the kernel's clock tick): read the link afresh then.
        struct timespec now
        {
        };
        ::clock_gettime(CLOCK_REALTIME, &now);
        const bool settled = haveFolder && now.tv_sec - st.st_mtim.tv_sec >= 2;
        const auto index = static_cast<std::size_t>(drive);
        if (!m_driveKnown[index] || !settled) {
            const std::optional<fs::path> target = m_prefix.driveTarget(letter);
            m_driveTargets[index] = target ? target->string() : std::string();
            m_driveKnown[index] = settled && target;
        }
        path = m_driveTargets[index];
    }
    if (path.empty())
        return std::string();
    return WinePrefix::joinLiterally(std::move(path), folder, 2);
}
} // namespace velmoran
