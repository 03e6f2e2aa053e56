// A small FUSE file system for the tests, run as a program of its own: a few folders with
// stand-in archives, one folder whose listing never answers ("dead-list") and one that never
// opens ("dead-open"), as on a network share that has stopped answering. Usage: mount point.
#define FUSE_USE_VERSION 31
#include <fuse.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Entry
{
    const char* path;
    bool folder;
};
const Entry Tree[] = {{"/", true},
                      {"/Mods", true},
                      {"/Mods/patch_d2.mpq", false},
                      {"/Mods/Median", true},
                      {"/Mods/Median/patch_d2.mpq", false},
                      {"/dead-list", true},
                      {"/dead-list/patch_d2.mpq", false},
                      {"/dead-open", true},
                      {"/dead-open/patch_d2.mpq", false},
                      {"/Z", true},
                      {"/Z/patch_d2.mpq", false}};
const char Contents[] = "stand-in archive";

const Entry* find(const char* path)
{
    for (const Entry& entry : Tree)
        if (std::strcmp(entry.path, path) == 0)
            return &entry;
    return nullptr;
}

void fill(const Entry& entry, struct stat* st)
{
    std::memset(st, 0, sizeof *st);
    st->st_ino = static_cast<ino_t>(&entry - Tree) + 1;
    st->st_mode = entry.folder ? S_IFDIR | 0755 : S_IFREG | 0644;
    st->st_nlink = entry.folder ? 2 : 1;
    st->st_size = entry.folder ? 0 : static_cast<off_t>(sizeof Contents - 1);
}

// The request is never answered: its thread says so on the standard error (the tests wait
// for that line) and waits until the process is killed.
void neverAnswer(const char* request, const char* path)
{
    std::fprintf(stderr, "never answering %s %s\n", request, path);
    for (;;)
        ::pause();
}

void* init(fuse_conn_info*, fuse_config* config)
{
    config->use_ino = 1;
    return nullptr;
}

int getattr(const char* path, struct stat* st, fuse_file_info*)
{
    const Entry* entry = find(path);
    if (!entry)
        return -ENOENT;
    fill(*entry, st);
    return 0;
}

int opendir(const char* path, fuse_file_info*)
{
    if (std::strcmp(path, "/dead-open") == 0)
        neverAnswer("opendir", path);
    return find(path) ? 0 : -ENOENT;
}

int readdir(const char* path, void* buffer, fuse_fill_dir_t filler, off_t, fuse_file_info*,
            fuse_readdir_flags)
{
    if (std::strcmp(path, "/dead-list") == 0)
        neverAnswer("readdir", path);
    filler(buffer, ".", nullptr, 0, fuse_fill_dir_flags{});
    filler(buffer, "..", nullptr, 0, fuse_fill_dir_flags{});
    const std::string prefix = std::strcmp(path, "/") == 0 ? "/" : std::string(path) + "/";
    for (const Entry& entry : Tree) {
        const std::string name = entry.path;
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
            name.find('/', prefix.size()) != std::string::npos)
            continue;
        struct stat st;
        fill(entry, &st);
        filler(buffer, name.c_str() + prefix.size(), &st, 0, fuse_fill_dir_flags{});
    }
    return 0;
}

int open(const char* path, fuse_file_info*)
{
    const Entry* entry = find(path);
    return !entry ? -ENOENT : entry->folder ? -EISDIR : 0;
}

int read(const char*, char* buffer, size_t size, off_t offset, fuse_file_info*)
{
    const auto length = static_cast<off_t>(sizeof Contents - 1);
    if (offset >= length)
        return 0;
    const size_t count = std::min(size, static_cast<size_t>(length - offset));
    std::memcpy(buffer, Contents + offset, count);
    return static_cast<int>(count);
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s MOUNT-POINT\n", argv[0]);
        return 2;
    }
    fuse_operations operations{};
    operations.init = init;
    operations.getattr = getattr;
    operations.opendir = opendir;
    operations.readdir = readdir;
    operations.open = open;
    operations.read = read;
    // In the foreground, with a thread per request, so that the dead folders hold only theirs.
    char foreground[] = "-f", option[] = "-o", name[] = "fsname=velmoran-dead";
    char* args[] = {argv[0], foreground, option, name, argv[1], nullptr};
    return fuse_main(5, args, &operations, nullptr);
}
