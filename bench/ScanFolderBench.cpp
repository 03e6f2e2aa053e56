// The drive walk's folder scan on a generated tree: folders and entries per second, beside
// a bare getdents walk (the floor) and the find file / file attributes walk that the scan
// replaces. Usage: ScanFolderBench [folders] [files per folder] [rounds] [tree folder] [cold]
// A given tree folder is kept for the next run; "cold" drops the kernel's caches before
// every round (root only).
#include "core/FileSystem.h"
#include "platform/linux/LinuxFileSystem.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

using namespace velmoran;
namespace fs = std::filesystem;

namespace {

struct Totals
{
    long folders = 0;
    long entries = 0;
    long matches = 0;
};

// A deterministic tree: folders spread over several levels, files in every folder, some
// dot-folders and Wine-hidden folders, matches in several capitalisations.
Totals makeTree(const fs::path& root, long folders, int filesPerFolder)
{
    Totals made;
    std::vector<fs::path> level{root};
    fs::create_directories(root);
    std::uint32_t state = 12345;
    auto random = [&] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    std::size_t next = 0;
    while (made.folders < folders) {
        const fs::path parent = level[next++ % level.size()];
        const int children = 2 + static_cast<int>(random() % 8);
        for (int c = 0; c < children && made.folders < folders; ++c) {
            const std::uint32_t r = random();
            std::string name = r % 50 == 0 ? ".Folder " : "Folder ";
            name += std::to_string(made.folders);
            const fs::path folder = parent / name;
            ::mkdir(folder.c_str(), 0755);
            if (r % 60 == 1)
                ::setxattr(folder.c_str(), "user.DOSATTRIB", "0x2", 3, 0);
            ++made.folders;
            ++made.entries;
            level.push_back(folder);
            for (int f = 0; f < filesPerFolder; ++f) {
                std::string file = "file" + std::to_string(f) + ".dat";
                if (f == 0 && random() % 20 == 0)
                    file = (random() % 2) ? "patch_d2.mpq" : "PATCH_D2.MPQ";
                const int fd = ::open((folder / file).c_str(), O_CREAT | O_WRONLY, 0644);
                if (fd >= 0)
                    ::close(fd);
                ++made.entries;
            }
        }
    }
    return made;
}

// The walk with the scan: one scan per folder.
Totals walkWithScan(FileSystem& files, const std::string& root)
{
    Totals totals;
    std::vector<std::string> pending{root};
    FolderScan scan;
    while (!pending.empty()) {
        const std::string folder = std::move(pending.back());
        pending.pop_back();
        files.scanFolder(folder, "patch_d2.mpq", scan);
        ++totals.folders;
        totals.matches += static_cast<long>(scan.matches.size());
        for (auto it = scan.subfolders.rbegin(); it != scan.subfolders.rend(); ++it)
            pending.push_back(folder + *it + "\\");
    }
    return totals;
}

// The walk as the find file / file attributes operations allow it: a folder listing, the
// attributes of every entry, and a listing by name.
Totals walkWithListings(FileSystem& files, const std::string& root)
{
    Totals totals;
    std::vector<std::string> pending{root};
    while (!pending.empty()) {
        const std::string folder = std::move(pending.back());
        pending.pop_back();
        ++totals.folders;
        auto listing = files.findFile(folder + "*.*", FindFilter::Folder);
        for (std::string name = listing->next(); !name.empty(); name = listing->next()) {
            if (name == "." || name == "..")
                continue;
            if (files.fileAttributes(folder + name) & Attribute::Directory)
                pending.push_back(folder + name + "\\");
        }
        auto matches = files.findFile(folder + "patch_d2.mpq", FindFilter::Ordinary);
        for (std::string name = matches->next(); !name.empty(); name = matches->next())
            ++totals.matches;
    }
    return totals;
}

// The floor: readdir with d_type, nothing else.
Totals walkBare(const std::string& root)
{
    Totals totals;
    std::vector<std::string> pending{root};
    while (!pending.empty()) {
        const std::string folder = std::move(pending.back());
        pending.pop_back();
        DIR* dir = ::opendir(folder.c_str());
        if (!dir)
            continue;
        ++totals.folders;
        while (const dirent* entry = ::readdir(dir)) {
            const char* name = entry->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
                continue;
            ++totals.entries;
            if (name[0] == '.')
                continue;
            if (entry->d_type == DT_DIR)
                pending.push_back(folder + entry->d_name + "/");
            else if (strcasecmp(entry->d_name, "patch_d2.mpq") == 0)
                ++totals.matches;
        }
        ::closedir(dir);
    }
    return totals;
}

bool g_cold = false;

// Empties the page, dentry and inode caches, so that the next walk reads the disk.
void dropCaches()
{
    ::sync();
    if (std::FILE* file = std::fopen("/proc/sys/vm/drop_caches", "w")) {
        std::fputs("3\n", file);
        std::fclose(file);
    }
}

template <typename Walk> void measure(const char* what, int rounds, long entries, Walk&& walk)
{
    double best = 1e30;
    Totals totals;
    for (int round = 0; round < rounds; ++round) {
        if (g_cold)
            dropCaches();
        const auto start = std::chrono::steady_clock::now();
        totals = walk();
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        best = std::min(best, seconds);
    }
    std::printf("%-34s %8.3f s  %10.0f folders/s  %11.0f entries/s  %ld folders, %ld matches\n",
                what, best, static_cast<double>(totals.folders) / best,
                static_cast<double>(entries) / best, totals.folders, totals.matches);
}

} // namespace

int main(int argc, char** argv)
{
    const long folders = argc > 1 ? std::atol(argv[1]) : 20000;
    const int filesPerFolder = argc > 2 ? std::atoi(argv[2]) : 10;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
    const fs::path base = argc > 4 ? fs::path(argv[4])
                                   : fs::temp_directory_path() /
                                         ("velmoran-scan-bench-" + std::to_string(::getpid()));
    const bool keep = argc > 4;
    g_cold = argc > 5 && std::strcmp(argv[5], "cold") == 0;
    if (g_cold && ::access("/proc/sys/vm/drop_caches", W_OK) != 0) {
        std::printf("cold runs need to write /proc/sys/vm/drop_caches (root)\n");
        return 1;
    }
    const fs::path tree = base / "tree";
    Totals made;
    if (!fs::exists(tree)) {
        const auto start = std::chrono::steady_clock::now();
        made = makeTree(tree, folders, filesPerFolder);
        std::printf("made %ld folders and %ld entries in %.1f s under %s\n", made.folders,
                    made.entries,
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                    tree.c_str());
    } else {
        for (auto it = fs::recursive_directory_iterator(tree);
             it != fs::recursive_directory_iterator(); ++it)
            ++made.entries;
        std::printf("using the tree under %s (%ld entries)\n", tree.c_str(), made.entries);
    }

    // The walk goes through a drive letter, as the program's does: d: leads to the tree.
    fs::create_directories(base / "prefix" / "dosdevices");
    std::error_code ec;
    fs::create_directory_symlink(tree, base / "prefix" / "dosdevices" / "d:", ec);
    LinuxFileSystem files{WinePrefix(base / "prefix")};
    const std::string root = tree.string() + "/";
    const std::string drive = "d:\\";
    std::printf("best of %d %s rounds:\n", rounds, g_cold ? "cold" : "warm");
    measure("bare getdents walk (floor)", rounds, made.entries, [&] { return walkBare(root); });
    measure("scanFolder walk", rounds, made.entries, [&] { return walkWithScan(files, drive); });
    measure("findFile + fileAttributes walk", rounds, made.entries,
            [&] { return walkWithListings(files, drive); });
    if (!keep) {
        fs::remove_all(base, ec);
    }
    return 0;
}
