#include "platform/linux/SafeFiles.h"

#include "core/OperationError.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace velmoran {

void raiseFailure(const FailureContext& context, const std::string& reason)
{
    throw OperationError(context.operation, context.paths, reason);
}

void raiseErrno(const FailureContext& context, int error, const std::string& detail)
{
    const std::string system = std::strerror(error);
    raiseFailure(context, detail.empty() ? system : detail + ": " + system);
}

namespace SafeFiles {

namespace {

constexpr std::string_view TemporaryPrefix = ".velmoran-copy-";
constexpr std::string_view TemporarySuffix = ".tmp";

// Files held open until they are freed, each by a thread of its own; the program waits for
// them when it ends.
class Freeing
{
public:
    static Freeing& instance()
    {
        static Freeing freeing;
        return freeing;
    }
    // A few seconds at most: a process forked meanwhile has the count but not the threads.
    ~Freeing()
    {
        std::unique_lock lock(m_mutex);
        m_done.wait_for(lock, std::chrono::seconds(10), [this] { return m_pending == 0; });
    }

    // Holds the file open, if it is a big file with this one name left, so that removing the
    // name leaves the freeing to release(); -1 for any other.
    static int hold(const fs::path& path)
    {
        const int fd = ::open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
        struct stat st
        {
        };
        if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 ||
                        st.st_size < BigFile)) {
            ::close(fd);
            return -1;
        }
        return fd;
    }

    // Runs call(), which takes the file's name away, with a big file held open meanwhile so
    // that it is freed afterwards; returns what call() returned, with its errno.
    template <typename Call> int takingName(const fs::path& path, Call call)
    {
        const int held = hold(path);
        const int result = call();
        const int error = errno;
        release(held);
        errno = error;
        return result;
    }

    void release(int fd)
    {
        if (fd < 0)
            return;
        {
            const std::lock_guard lock(m_mutex);
            ++m_pending;
        }
        try {
            std::thread([this, fd] {
                ::close(fd);
                done();
            }).detach();
        } catch (const std::system_error&) {
            ::close(fd);
            done();
        }
    }

    void waitUntilDone()
    {
        std::unique_lock lock(m_mutex);
        m_done.wait(lock, [this] { return m_pending == 0; });
    }

private:
    static constexpr off_t BigFile = 1 << 20;

    void done()
    {
        const std::lock_guard lock(m_mutex);
        --m_pending;
        m_done.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_done;
    int m_pending = 0;
};

// A temporary file in the destination's folder, removed again unless it was renamed.
class TemporaryFile
{
public:
    TemporaryFile(const fs::path& folder, const FailureContext& context)
    {
        static std::atomic<unsigned> counter{0};
        for (int attempt = 0; attempt < 100; ++attempt) {
            const auto ticks = static_cast<unsigned long long>(
                std::chrono::steady_clock::now().time_since_epoch().count());
            char name[96];
            std::snprintf(name, sizeof name, "%.*s%d-%llx%x%.*s",
                          static_cast<int>(TemporaryPrefix.size()), TemporaryPrefix.data(),
                          static_cast<int>(::getpid()), ticks & 0xFFFFFFFFFFull,
                          counter.fetch_add(1), static_cast<int>(TemporarySuffix.size()),
                          TemporarySuffix.data());
            m_path = folder / name;
            const int fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (fd >= 0) {
                m_fd = fd;
                return;
            }
            if (errno != EEXIST) {
                const int error = errno;
                m_path.clear();
                raiseErrno(context, error,
                           "cannot create a new file in the folder " + folder.string());
            }
        }
        m_path.clear();
        raiseFailure(context, "cannot find a free temporary name in the folder " + folder.string());
    }
    ~TemporaryFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        if (!m_path.empty())
            ::unlink(m_path.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    int fd() const { return m_fd; }
    const fs::path& path() const { return m_path; }

    // Flushes, closes and renames the file over the destination.
    void commit(const fs::path& destination, const FailureContext& context)
    {
        if (::fsync(m_fd) != 0)
            raiseErrno(context, errno, "cannot flush the new file to disk");
        const int fd = m_fd;
        m_fd = -1;
        if (::close(fd) != 0)
            raiseErrno(context, errno, "cannot close the new file");
        if (renameFreeingLater(m_path, destination) != 0)
            raiseErrno(context, errno,
                       "cannot put the new file in place of " + destination.string());
        m_path.clear();
    }

private:
    int m_fd = -1;
    fs::path m_path;
};

void writeAll(int fd, const char* data, std::size_t size, const FailureContext& context)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            raiseErrno(context, errno, "cannot write the new file");
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

void copyBytes(int in, int out, const FailureContext& context)
{
    // The kernel copies without bringing the bytes through user space where it can.
    bool kernelCopy = true;
    bool copiedAny = false;
    while (kernelCopy) {
        const ssize_t copied = ::copy_file_range(in, nullptr, out, nullptr, 8u << 20, 0);
        if (copied > 0) {
            copiedAny = true;
            continue;
        }
        if (copied == 0)
            return;
        if (errno == EINTR)
            continue;
        if (!copiedAny && (errno == EXDEV || errno == ENOSYS || errno == EINVAL ||
                           errno == EOPNOTSUPP || errno == EBADF || errno == EPERM))
            kernelCopy = false;
        else
            raiseErrno(context, errno, "cannot copy the file's bytes");
    }
    std::vector<char> buffer(1u << 20);
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR)
                continue;
            raiseErrno(context, errno, "cannot read the source");
        }
        if (got == 0)
            return;
        writeAll(out, buffer.data(), static_cast<std::size_t>(got), context);
    }
}

} // namespace

void copyFile(const fs::path& source, const fs::path& destination, const FailureContext& context,
              FolderSync sync)
{
    // Non-blocking, so that a named pipe in the source's place is refused, not waited on.
    Descriptor in(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (in.get() < 0)
        raiseErrno(context, errno, "cannot open the source");
    struct stat sourceStat
    {
    };
    if (::fstat(in.get(), &sourceStat) != 0)
        raiseErrno(context, errno, "cannot read the source's details");
    if (S_ISDIR(sourceStat.st_mode))
        raiseFailure(context, "the source is a folder, not a file");
    if (!S_ISREG(sourceStat.st_mode))
        raiseFailure(context, "the source is not a regular file");

    struct stat destinationStat
    {
    };
    if (::stat(destination.c_str(), &destinationStat) == 0) {
        if (destinationStat.st_dev == sourceStat.st_dev &&
            destinationStat.st_ino == sourceStat.st_ino)
            return; // the same file under two names: nothing to do
        if (S_ISDIR(destinationStat.st_mode))
            raiseFailure(context, "the destination is a folder");
    } else if (errno != ENOENT) {
        raiseErrno(context, errno, "cannot reach the destination");
    }

    fs::path folder = destination.parent_path();
    if (folder.empty())
        folder = ".";
    TemporaryFile temporary(folder, context);
    copyBytes(in.get(), temporary.fd(), context);
    // The copy carries the source's permission bits, DOS attributes and write time, as a
    // Windows copy does.
    if (::fchmod(temporary.fd(), sourceStat.st_mode & 07777) != 0)
        raiseErrno(context, errno, "cannot set the new file's permissions");
    char attribute[256];
    const ssize_t length = ::fgetxattr(in.get(), "user.DOSATTRIB", attribute, sizeof attribute);
    if (length > 0 &&
        ::fsetxattr(temporary.fd(), "user.DOSATTRIB", attribute, static_cast<std::size_t>(length),
                    0) != 0 &&
        errno != ENOTSUP)
        raiseErrno(context, errno, "cannot set the new file's attributes");
    const struct timespec times[2] = {sourceStat.st_atim, sourceStat.st_mtim};
    ::futimens(temporary.fd(), times); // a time that cannot be kept loses no data
    temporary.commit(destination, context);
    if (sync == FolderSync::Now)
        syncFolder(folder, context);
}

void writeFile(const fs::path& destination, std::string_view bytes, const FailureContext& context)
{
    struct stat existing
    {
    };
    mode_t mode = 0666;
    if (::stat(destination.c_str(), &existing) == 0) {
        if (S_ISDIR(existing.st_mode))
            raiseFailure(context, "a folder of that name exists");
        mode = existing.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode &= ~mask;
    }
    fs::path folder = destination.parent_path();
    if (folder.empty())
        folder = ".";
    TemporaryFile temporary(folder, context);
    writeAll(temporary.fd(), bytes.data(), bytes.size(), context);
    if (::fchmod(temporary.fd(), mode) != 0)
        raiseErrno(context, errno, "cannot set the new file's permissions");
    temporary.commit(destination, context);
    syncFolder(folder, context);
}

int renameFreeingLater(const fs::path& from, const fs::path& to)
{
    return Freeing::instance().takingName(to, [&] { return ::rename(from.c_str(), to.c_str()); });
}

int unlinkFreeingLater(const fs::path& path)
{
    return Freeing::instance().takingName(path, [&] { return ::unlink(path.c_str()); });
}

void waitUntilFreed()
{
    Freeing::instance().waitUntilDone();
}

void syncFolder(const fs::path& folder, const FailureContext& context)
{
    Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0)
        raiseErrno(context, errno, "cannot open the folder " + folder.string() + " to flush it");
    // Some file systems cannot flush a folder (EINVAL); their entries are as safe as they get.
    if (::fsync(fd.get()) != 0 && errno != EINVAL && errno != EROFS)
        raiseErrno(context, errno, "cannot flush the folder " + folder.string());
}

bool isTemporaryName(std::string_view name)
{
    if (!name.starts_with(TemporaryPrefix) || !name.ends_with(TemporarySuffix))
        return false;
    const std::string_view middle = name.substr(
        TemporaryPrefix.size(), name.size() - TemporaryPrefix.size() - TemporarySuffix.size());
    const std::size_t dash = middle.find('-');
    if (dash == 0 || dash == std::string_view::npos)
        return false;
    for (std::size_t i = 0; i < dash; ++i)
        if (middle[i] < '0' || middle[i] > '9')
            return false;
    return true;
}

void removeStrayTemporaries(const fs::path& folder)
{
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (!isTemporaryName(name))
            continue;
        const long pid = std::strtol(entry->d_name + TemporaryPrefix.size(), nullptr, 10);
        // Left by a process that is gone: it was interrupted before its rename.
        if (pid > 0 && pid != ::getpid() && ::kill(static_cast<pid_t>(pid), 0) != 0 &&
            errno == ESRCH)
            ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
    ::closedir(dir);
}

} // namespace SafeFiles

} // namespace velmoran
