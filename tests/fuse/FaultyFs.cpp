// A FUSE file system for the tests, run as a program of its own: it hands every request on to
// a backing folder, except those it is told to fail, as a full disk, a failing one or a
// network share that has stopped answering would.
//
// Usage: BACKING MOUNT-POINT [REQUEST:FAULT[:PATH]]...
// REQUEST is a FUSE request ("write", "fsync", "rename", ...). FAULT is an errno name, "short"
// (a write writes half of what it is given), "corrupt" (a write changes the first byte it is
// given, as a failing disk may without a word), "untyped" (a folder's entries come without their
// types, as some network file systems give them) or "hang" (the request is never answered). PATH
// limits the fault to requests on paths that hold it (a rename's path: "FROM TO"). Every fault met
// is told on the standard error ("failing fsync /a with EIO", "never answering readdir
// /dead-list"), for the tests.
#define FUSE_USE_VERSION 31
#include <fuse.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

constexpr int Short = -1, Hang = -2, Untyped = -3, Corrupt = -4;
const std::pair<const char*, int> Errors[] = {
    {"EIO", EIO},     {"ENOSPC", ENOSPC}, {"EACCES", EACCES},   {"EPERM", EPERM},
    {"EXDEV", EXDEV}, {"EBUSY", EBUSY},   {"ENOTSUP", ENOTSUP}, {"EINVAL", EINVAL},
    {"short", Short}, {"hang", Hang},     {"untyped", Untyped}, {"corrupt", Corrupt}};

struct Fault
{
    std::string request, name, path;
    int error = 0;
    std::atomic<bool> told = false;
};
std::deque<Fault> faults;
std::string backing;

std::string real(const char* path)
{
    return backing + path;
}

// The fault planned for this request: an errno, Short, or 0 for none. A hang never returns.
int fault(const char* request, const char* path)
{
    for (Fault& planned : faults) {
        if (planned.request != request ||
            std::string_view(path).find(planned.path) == std::string_view::npos)
            continue;
        if (planned.error == Hang) {
            std::fprintf(stderr, "never answering %s %s\n", request, path);
            for (;;)
                ::pause();
        }
        if (!planned.told.exchange(true)) // once: a program that retries for ever fills no disk
            std::fprintf(stderr, "failing %s %s with %s\n", request, path, planned.name.c_str());
        return planned.error;
    }
    return 0;
}

int result(int value)
{
    return value < 0 ? -errno : value;
}

#define FAIL_IF_PLANNED(request, path)                                                             \
    if (const int planned = fault(request, path); planned > 0)                                     \
    return -planned

// The requests, named as FUSE names them.
namespace request {

void* init(fuse_conn_info*, fuse_config* config)
{
    config->use_ino = 1;
    config->entry_timeout = config->attr_timeout = config->negative_timeout = 0;
    return nullptr;
}

int getattr(const char* path, struct stat* st, fuse_file_info*)
{
    FAIL_IF_PLANNED("getattr", path);
    return result(::lstat(real(path).c_str(), st));
}

int readlink(const char* path, char* buffer, size_t size)
{
    FAIL_IF_PLANNED("readlink", path);
    const ssize_t length = ::readlink(real(path).c_str(), buffer, size - 1);
    if (length < 0)
        return -errno;
    buffer[length] = '\0';
    return 0;
}

int mkdir(const char* path, mode_t mode)
{
    FAIL_IF_PLANNED("mkdir", path);
    return result(::mkdir(real(path).c_str(), mode));
}

int unlink(const char* path)
{
    FAIL_IF_PLANNED("unlink", path);
    return result(::unlink(real(path).c_str()));
}

int rmdir(const char* path)
{
    FAIL_IF_PLANNED("rmdir", path);
    return result(::rmdir(real(path).c_str()));
}

int rename(const char* from, const char* to, unsigned int flags)
{
    const std::string both = std::string(from) + " " + to;
    FAIL_IF_PLANNED("rename", both.c_str());
    return result(::renameat2(AT_FDCWD, real(from).c_str(), AT_FDCWD, real(to).c_str(), flags));
}

int link(const char* from, const char* to)
{
    FAIL_IF_PLANNED("link", to);
    return result(::link(real(from).c_str(), real(to).c_str()));
}

int chmod(const char* path, mode_t mode, fuse_file_info*)
{
    FAIL_IF_PLANNED("chmod", path);
    return result(::chmod(real(path).c_str(), mode));
}

int truncate(const char* path, off_t size, fuse_file_info*)
{
    FAIL_IF_PLANNED("truncate", path);
    return result(::truncate(real(path).c_str(), size));
}

int utimens(const char* path, const struct timespec times[2], fuse_file_info*)
{
    FAIL_IF_PLANNED("utimens", path);
    return result(::utimensat(AT_FDCWD, real(path).c_str(), times, AT_SYMLINK_NOFOLLOW));
}

// Files are read and written directly, so that every write reaches the file system as the
// program made it, and fails there.
int openFile(const char* request, const char* path, int flags, mode_t mode, fuse_file_info* file)
{
    FAIL_IF_PLANNED(request, path);
    const int fd = ::open(real(path).c_str(), flags, mode);
    if (fd < 0)
        return -errno;
    file->fh = static_cast<uint64_t>(fd);
    file->direct_io = 1;
    return 0;
}

int open(const char* path, fuse_file_info* file)
{
    return openFile("open", path, file->flags, 0, file);
}

int create(const char* path, mode_t mode, fuse_file_info* file)
{
    return openFile("create", path, file->flags | O_CREAT, mode, file);
}

int read(const char* path, char* buffer, size_t size, off_t offset, fuse_file_info* file)
{
    FAIL_IF_PLANNED("read", path);
    return result(static_cast<int>(::pread(static_cast<int>(file->fh), buffer, size, offset)));
}

int write(const char* path, const char* buffer, size_t size, off_t offset, fuse_file_info* file)
{
    const int planned = fault("write", path);
    if (planned > 0)
        return -planned;
    if (planned == Short)
        size = std::max<size_t>(1, size / 2);
    std::string changed;
    if (planned == Corrupt && size > 0) {
        changed.assign(buffer, size);
        changed[0] = static_cast<char>(~changed[0]);
        buffer = changed.data();
    }
    return result(static_cast<int>(::pwrite(static_cast<int>(file->fh), buffer, size, offset)));
}

int statfs(const char* path, struct statvfs* st)
{
    FAIL_IF_PLANNED("statfs", path);
    return result(::statvfs(real(path).c_str(), st));
}

int flush(const char* path, fuse_file_info*)
{
    FAIL_IF_PLANNED("flush", path);
    return 0;
}

int release(const char*, fuse_file_info* file)
{
    ::close(static_cast<int>(file->fh));
    return 0;
}

int fsync(const char* path, int, fuse_file_info* file)
{
    FAIL_IF_PLANNED("fsync", path);
    return result(::fsync(static_cast<int>(file->fh)));
}

int fsyncdir(const char* path, int, fuse_file_info*)
{
    FAIL_IF_PLANNED("fsyncdir", path);
    return 0;
}

ssize_t copyFileRange(const char* from, fuse_file_info* in, off_t inOffset, const char* to,
                      fuse_file_info* out, off_t outOffset, size_t size, int flags)
{
    FAIL_IF_PLANNED("copy_file_range", from);
    FAIL_IF_PLANNED("copy_file_range", to);
    const ssize_t copied =
        ::copy_file_range(static_cast<int>(in->fh), &inOffset, static_cast<int>(out->fh),
                          &outOffset, size, static_cast<unsigned>(flags));
    return copied < 0 ? -errno : copied;
}

int setxattr(const char* path, const char* name, const char* value, size_t size, int flags)
{
    FAIL_IF_PLANNED("setxattr", path);
    return result(::lsetxattr(real(path).c_str(), name, value, size, flags));
}

int getxattr(const char* path, const char* name, char* value, size_t size)
{
    FAIL_IF_PLANNED("getxattr", path);
    return result(static_cast<int>(::lgetxattr(real(path).c_str(), name, value, size)));
}

int listxattr(const char* path, char* list, size_t size)
{
    FAIL_IF_PLANNED("listxattr", path);
    return result(static_cast<int>(::llistxattr(real(path).c_str(), list, size)));
}

int removexattr(const char* path, const char* name)
{
    FAIL_IF_PLANNED("removexattr", path);
    return result(::lremovexattr(real(path).c_str(), name));
}

int opendir(const char* path, fuse_file_info*)
{
    FAIL_IF_PLANNED("opendir", path);
    struct stat st;
    if (::stat(real(path).c_str(), &st) != 0)
        return -errno;
    return S_ISDIR(st.st_mode) ? 0 : -ENOTDIR;
}

// A folder's entries, by name, whatever order the backing folder keeps them in.
int readdir(const char* path, void* buffer, fuse_fill_dir_t filler, off_t, fuse_file_info*,
            fuse_readdir_flags)
{
    const int planned = fault("readdir", path);
    if (planned > 0)
        return -planned;
    DIR* folder = ::opendir(real(path).c_str());
    if (!folder)
        return -errno;
    std::vector<std::pair<std::string, struct stat>> entries;
    while (const dirent* entry = ::readdir(folder)) {
        struct stat st = {};
        st.st_ino = entry->d_ino;
        st.st_mode = planned == Untyped ? 0 : static_cast<mode_t>(DTTOIF(entry->d_type));
        entries.emplace_back(entry->d_name, st);
    }
    ::closedir(folder);
    std::ranges::sort(entries, {}, &decltype(entries)::value_type::first);
    for (const auto& [name, st] : entries)
        filler(buffer, name.c_str(), &st, 0, fuse_fill_dir_flags{});
    return 0;
}

} // namespace request
} // namespace

int main(int argc, char* argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s BACKING MOUNT-POINT [REQUEST:FAULT[:PATH]]...\n", argv[0]);
        return 2;
    }
    backing = argv[1];
    for (int i = 3; i < argc; ++i) {
        const std::string_view text = argv[i];
        const std::size_t colon = text.find(':'), second = text.find(':', colon + 1);
        Fault& planned = faults.emplace_back();
        planned.request = text.substr(0, colon);
        planned.name = text.substr(colon + 1, second - colon - 1);
        planned.path = second == text.npos ? "" : text.substr(second + 1);
        const auto known =
            std::ranges::find(Errors, planned.name, &std::pair<const char*, int>::first);
        if (colon == text.npos || known == std::end(Errors)) {
            std::fprintf(stderr, "%s: not a fault: %s\n", argv[0], argv[i]);
            return 2;
        }
        planned.error = known->second;
    }
    fuse_operations operations{};
    operations.init = request::init;
    operations.getattr = request::getattr;
    operations.readlink = request::readlink;
    operations.mkdir = request::mkdir;
    operations.unlink = request::unlink;
    operations.rmdir = request::rmdir;
    operations.rename = request::rename;
    operations.link = request::link;
    operations.chmod = request::chmod;
    operations.truncate = request::truncate;
    operations.utimens = request::utimens;
    operations.open = request::open;
    operations.create = request::create;
    operations.read = request::read;
    operations.write = request::write;
    operations.statfs = request::statfs;
    operations.flush = request::flush;
    operations.release = request::release;
    operations.fsync = request::fsync;
    operations.fsyncdir = request::fsyncdir;
    operations.copy_file_range = request::copyFileRange;
    operations.setxattr = request::setxattr;
    operations.getxattr = request::getxattr;
    operations.listxattr = request::listxattr;
    operations.removexattr = request::removexattr;
    operations.opendir = request::opendir;
    operations.readdir = request::readdir;
    // In the foreground, with a thread per request, so that a hanging request holds only its
    // own; the kernel checks permissions as for any other file system.
    char foreground[] = "-f", option[] = "-o",
         options[] = "fsname=velmoran-faulty,default_permissions";
    char* args[] = {argv[0], foreground, option, options, argv[2], nullptr};
    return fuse_main(5, args, &operations, nullptr);
}
