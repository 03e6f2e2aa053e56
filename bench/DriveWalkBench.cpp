// The Find command's drive walk (the core's FindFiles over the Linux folder scan) on a
// generated drive of about a million entries, beside GNU find (pruning dot-folders) and
// fd (dot-folders skipped, one thread and its default threads). Every tool runs in a
// child process as user 65534, so the locked folder really cannot be read; each is timed
// from start to end, with its peak memory, and its matches are compared with the tree's.
// Warm runs first; cold runs (page cache dropped before each) where this process may.
//
// Velmoran's walk runs three times: as the program runs it (read-ahead threads started once
// folder reads turn slow), on one thread alone, and with the read-ahead from the start.
//
// Usage: DriveWalkBench [entries (1000000)] [warm rounds (3)] [--no-cold] [--keep]
//                       [--readers N (read-ahead threads; the program's own number)]
#include "ChildProcess.h"
#include "WalkTree.h"
#include "core/PatchSearch.h"
#include "platform/linux/LinuxFileSystem.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <map>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace velmoran;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// The child's side of a Velmoran run: walks d:\ of the prefix and prints each match as a
// path relative to the drive, "/" between names.
int walkChild(const char* prefix, unsigned readAhead, long slowRead)
{
    struct Print : SearchObserver
    {
        void subfolderFound(std::uint64_t) override {}
        void matchFound(const std::string& entry) override
        {
            std::string relative = entry.substr(3);
            std::replace(relative.begin(), relative.end(), '\\', '/');
            std::fputs(relative.c_str(), stdout);
            std::fputc('\n', stdout);
        }
        void folderPassedOver(const OperationError&) override {}
    } print;
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    LinuxFileSystem files{WinePrefix(prefix)};
    const SearchSummary summary = FindFiles(files, "d:\\", PatchFileName, print, nullptr, readAhead,
                                            std::chrono::microseconds(slowRead));
    rusage self{}, thread{};
    ::getrusage(RUSAGE_SELF, &self);
    ::getrusage(RUSAGE_THREAD, &thread);
    const auto cpuMs = [](const rusage& u) {
        return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 +
               (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
    };
    // The walking thread's own processor time is the walk's critical path on an idle machine.
    std::fprintf(stderr, "processor ms: walking thread %.0f, all threads %.0f\n", cpuMs(thread),
                 cpuMs(self));
    std::fprintf(stderr, "folders read %llu, passed over %llu, repeats skipped %llu\n",
                 static_cast<unsigned long long>(summary.foldersRead),
                 static_cast<unsigned long long>(summary.foldersPassedOver),
                 static_cast<unsigned long long>(summary.repeatsSkipped));
    return 0;
}

struct Run
{
    double seconds = 0;
    long peakKilobytes = 0;
    std::vector<std::string> matches; // relative, sorted
    std::string errors;
};

// Runs argv as user 65534 and collects its output lines, made relative to `strip`.
Run runAsNobody(const std::vector<std::string>& argv, const std::string& strip)
{
    const bench::ToolRun tool = bench::runTool(argv, true);
    if (tool.exitCode >= 90) {
        std::fprintf(stderr, "could not start %s as user 65534\n", argv[0].c_str());
        std::exit(1);
    }
    Run run;
    run.seconds = tool.ms / 1000.0;
    run.peakKilobytes = tool.peakKilobytes;
    run.errors = tool.err;
    const std::string& text = tool.out;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(at, end - at);
        if (line.rfind(strip, 0) == 0)
            line.erase(0, strip.size());
        if (!line.empty())
            run.matches.push_back(line);
        at = end + 1;
    }
    std::sort(run.matches.begin(), run.matches.end());
    return run;
}

std::string firstLine(const std::string& text)
{
    return text.substr(0, text.find('\n'));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::strcmp(argv[1], "--walk") == 0)
        return walkChild(argv[2], static_cast<unsigned>(std::atoi(argv[3])), std::atol(argv[4]));

    long budget = 1000000;
    int rounds = 3;
    bool cold = true, keep = false;
    unsigned readers = DefaultReadAhead;
    std::vector<long> numbers;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-cold") == 0)
            cold = false;
        else if (std::strcmp(argv[i], "--keep") == 0)
            keep = true;
        else if (std::strcmp(argv[i], "--readers") == 0 && i + 1 < argc)
            readers = static_cast<unsigned>(std::atoi(argv[++i]));
        else
            numbers.push_back(std::atol(argv[i]));
    }
    if (numbers.size() > 0)
        budget = numbers[0];
    if (numbers.size() > 1)
        rounds = static_cast<int>(numbers[1]);
    if (::geteuid() != 0) {
        std::fprintf(stderr, "run as root: each tool runs as user 65534 in a child\n");
        return 1;
    }

    char pattern[] = "/tmp/velmoran-walk-bench-XXXXXX";
    if (!::mkdtemp(pattern)) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path root = pattern;
    ::chmod(root.c_str(), 0755);
    const fs::path drive = root / "drive";
    fs::create_directories(root / "prefix" / "dosdevices");
    fs::create_directory_symlink(drive, root / "prefix" / "dosdevices" / "d:");

    Clock::time_point start = Clock::now();
    const bench::WalkTree tree = bench::WalkTreeMaker(drive, budget).make();
    std::printf("Tree %s: %ld entries (%ld folders), %ld outside dot-folders and the locked "
                "folder, %zu matches to find; made in %.1f s\n",
                drive.c_str(), tree.entries, tree.folders, tree.visibleEntries,
                tree.expected.size(), std::chrono::duration<double>(Clock::now() - start).count());
    double load[3] = {};
    if (::getloadavg(load, 3) == 3)
        std::printf("Load average at start: %.2f %.2f %.2f on %ld processors\n", load[0], load[1],
                    load[2], ::sysconf(_SC_NPROCESSORS_ONLN));

    const std::string self = fs::read_symlink("/proc/self/exe").string();
    const std::string prefix = (root / "prefix").string();
    const std::string strip = drive.string() + "/";
    struct Tool
    {
        const char* name;
        std::vector<std::string> argv;
        std::string strip;
    };
    const std::vector<Tool> tools = {
        {"Velmoran walk",
         {self, "--walk", prefix, std::to_string(readers), std::to_string(DefaultSlowRead.count())},
         ""},
        {"  no read-ahead", {self, "--walk", prefix, "0", "0"}, ""},
        {"  read-ahead always", {self, "--walk", prefix, std::to_string(readers), "0"}, ""},
        {"find (prune .*)",
         {"find", drive.string(), "-name", ".*", "-prune", "-o", "-type", "f", "-iname",
          "patch_d2.mpq", "-print"},
         strip},
        {"fdfind -j1",
         {"fdfind", "-j1", "--no-ignore", "-t", "f", "-i", "^patch_d2\\.mpq$", drive.string()},
         strip},
        {"fdfind",
         {"fdfind", "--no-ignore", "-t", "f", "-i", "^patch_d2\\.mpq$", drive.string()},
         strip},
    };

    auto measure = [&](const char* label, int count, bool dropFirst) {
        std::printf("\n%s (median of %d run%s each, as user 65534):\n", label, count,
                    count == 1 ? "" : "s");
        std::printf("  %-18s %9s %14s %10s %9s  %s\n", "tool", "seconds", "entries/s", "vs ours",
                    "peak MB", "same matches");
        double ours = 0;
        for (const Tool& tool : tools) {
            std::vector<double> times;
            Run last;
            for (int i = 0; i < count; ++i) {
                if (dropFirst && !bench::dropCaches())
                    return false;
                last = runAsNobody(tool.argv, tool.strip);
                times.push_back(last.seconds);
            }
            std::sort(times.begin(), times.end());
            const double median = times[times.size() / 2];
            if (ours == 0)
                ours = median;
            const bool same = last.matches == tree.expected;
            std::printf("  %-18s %9.3f %14.0f %9.2fx %9.1f  %s (%zu)%s%s\n", tool.name, median,
                        static_cast<double>(tree.visibleEntries) / median, median / ours,
                        static_cast<double>(last.peakKilobytes) / 1024.0, same ? "yes" : "NO",
                        last.matches.size(),
                        last.errors.empty() ? "" : "  stderr: ", firstLine(last.errors).c_str());
        }
        return true;
    };

    for (const Tool& tool : tools) // fill the page cache once
        runAsNobody(tool.argv, tool.strip);
    measure("Warm caches", rounds, false);
    if (cold && !measure("Cold caches (page cache dropped before each run)", 1, true))
        std::printf("  (cold runs skipped: the page cache cannot be dropped here)\n");

    if (keep) {
        std::printf("\nTree kept in %s\n", root.c_str());
        return 0;
    }
    // Removing a million names from a busy disk takes minutes: a detached, idle-priority
    // child does it, so that the figures come back now.
    ::chmod(tree.locked.c_str(), 0755);
    std::fflush(stdout);
    if (::fork() == 0) {
        ::setsid();
        if (::fork() == 0) {
            ::execlp("ionice", "ionice", "-c3", "rm", "-rf", root.c_str(), (char*)nullptr);
            ::execlp("rm", "rm", "-rf", root.c_str(), (char*)nullptr);
            ::_exit(1);
        }
        ::_exit(0);
    }
    ::wait(nullptr);
    std::printf("\nTree %s is being removed in the background\n", root.c_str());
    return 0;
}
