// The drive walk through one folder of more than 32,767 subfolders (the most a signed
// 16-bit count holds): times the walk, and checks that every subfolder was read and each
// archive found, the caption's count reaching the number of subfolders.
// Usage: WideFolderBench [subfolders (33000)] [scratch folder (/dev/shm or /tmp)]
#include "core/OperationError.h"
#include "core/PatchSearch.h"
#include "platform/linux/LinuxFileSystem.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace velmoran;
namespace fs = std::filesystem;

namespace {

struct Count : SearchObserver
{
    void subfolderFound(std::uint64_t n) override { largest = std::max(largest, n); }
    void matchFound(const std::string&) override { ++matches; }
    void folderPassedOver(const OperationError&) override { ++passedOver; }
    std::uint64_t largest = 0, matches = 0, passedOver = 0;
};

} // namespace

int main(int argc, char** argv)
{
    const long count = argc > 1 ? std::atol(argv[1]) : 33000;
    const fs::path base = argc > 2                          ? fs::path(argv[2])
                          : ::access("/dev/shm", W_OK) == 0 ? "/dev/shm"
                                                            : "/tmp";
    const fs::path root = base / ("velmoran-wide-" + std::to_string(::getpid()));
    const fs::path big = root / "drive" / "Big";
    fs::create_directories(root / "prefix" / "dosdevices");
    fs::create_directory_symlink(root / "drive", root / "prefix" / "dosdevices" / "c:");
    const auto made = std::chrono::steady_clock::now();
    char name[32];
    for (long i = 0; i < count; ++i) {
        std::snprintf(name, sizeof name, "s%06ld", i);
        fs::create_directories(big / name);
    }
    const long archives[] = {0, 32767, 32768, count - 1};
    for (const long i : archives) {
        std::snprintf(name, sizeof name, "s%06ld", i);
        std::ofstream(big / name / "patch_d2.mpq") << "x";
    }
    LinuxFileSystem files{WinePrefix(root / "prefix")};
    Count seen;
    const auto start = std::chrono::steady_clock::now();
    const SearchSummary summary = FindFiles(files, "c:\\", PatchFileName, seen);
    const auto end = std::chrono::steady_clock::now();
    using ms = std::chrono::milliseconds;
    std::printf("%ld subfolders: made in %lld ms, walked in %lld ms; %llu folders read, largest "
                "count %llu, "
                "%llu matches, %llu passed over\n",
                count, static_cast<long long>(std::chrono::duration_cast<ms>(start - made).count()),
                static_cast<long long>(std::chrono::duration_cast<ms>(end - start).count()),
                static_cast<unsigned long long>(summary.foldersRead),
                static_cast<unsigned long long>(seen.largest),
                static_cast<unsigned long long>(seen.matches),
                static_cast<unsigned long long>(seen.passedOver));
    fs::remove_all(root);
    const bool whole = seen.largest == static_cast<std::uint64_t>(count) && seen.matches == 4 &&
                       summary.foldersRead == static_cast<std::uint64_t>(count) + 2 &&
                       seen.passedOver == 0;
    std::printf("%s\n", whole ? "the folder was walked whole"
                              : "MISMATCH: the folder was not walked whole");
    return whole ? 0 : 1;
}
