// What a user waits for when they click Find: the program's own window and command binding
// (Controller with its SearchRunner, a real event loop, offscreen) searching drive c: of a
// Wine prefix whose c: is a generated drive of about a million entries, timed from the click
// on Find to the end caption, beside fdfind and GNU find on the same tree in the same run,
// one after the other in every round. Warm, and cold (page cache dropped before every run)
// where this process may drop it; as the current user and as user 65534. Every run is a
// child process of its own; its peak memory is the kernel's count for it.
//
// Printed for Velmoran: the breakdown of one Find (click to the walk's thread running,
// the walk on its thread, last batch handed over to the end caption), the GUI thread's
// busy time and its longest pause while the search runs, the program's memory idle, at its
// peak and after the Find; and the memory after each of ten Finds in a row.
//
// Usage: FindEndToEndBench [entries (1000000)] [rounds (3)] [--no-cold] [--keep]
//                          [--tree FOLDER (an existing drive folder, kept)]
//                          [--other LABEL PROGRAM (another build of this benchmark, timed
//                           beside this one: its --child mode is run)]
#include "../ChildProcess.h"
#include "../WalkTree.h"
#include "BenchMessages.h"
#include "app/Controller.h"
#include "app/SearchRunner.h"
#include "platform/PlatformServices.h"
#include "ui/ListBoxEntries.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QListView>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <malloc.h>
#include <map>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace velmoran;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

long statusKilobytes(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::size_t length = std::strlen(field);
    while (std::getline(status, line))
        if (line.compare(0, length, field) == 0 && line.size() > length && line[length] == ':')
            return std::atol(line.c_str() + length + 1);
    return 0;
}

// The resident kilobytes of every mapping, by its address range and name.
std::map<std::string, long> residentMappings()
{
    std::map<std::string, long> resident;
    std::ifstream smaps("/proc/self/smaps");
    std::string line, current;
    while (std::getline(smaps, line)) {
        if (!line.empty() && std::isxdigit(static_cast<unsigned char>(line[0])) &&
            line.find('-') < line.find(' ')) {
            std::istringstream words(line);
            std::string range, perms, offset, device, inode, name;
            words >> range >> perms >> offset >> device >> inode;
            std::getline(words, name);
            current = range + " " + perms + name;
        } else if (line.rfind("Rss:", 0) == 0) {
            resident[current] = std::atol(line.c_str() + 4);
        }
    }
    return resident;
}

// With VELMORAN_BENCH_MAPS set: on stderr, the mappings whose resident size changed since
// `before` by more than 256 kB, and what the C library's allocator holds.
void printMappingChanges(const std::map<std::string, long>& before, int find)
{
    if (qEnvironmentVariableIsEmpty("VELMORAN_BENCH_MAPS"))
        return;
    for (const auto& [mapping, kb] : residentMappings()) {
        const auto old = before.find(mapping);
        const long change = kb - (old == before.end() ? 0 : old->second);
        if (change > 256 || change < -256)
            std::fprintf(stderr, "find %d: %+ld kB (now %ld kB) %s\n", find, change, kb,
                         mapping.c_str());
    }
#if defined(__GLIBC__)
    struct mallinfo2 info = ::mallinfo2();
    std::fprintf(stderr,
                 "find %d: malloc arena %zu kB, in use %zu kB, free %zu kB, top pad %zu kB, "
                 "mmapped %zu kB\n",
                 find, info.arena / 1024, info.uordblks / 1024, info.fordblks / 1024,
                 info.keepcost / 1024, info.hblkhd / 1024);
    ::malloc_info(0, stderr);
#endif
}

void resetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

double threadCpuMs()
{
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double ms(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// The child: the program's window, Find clicked `finds` times one after the other; one
// line of figures per Find on stdout.
int child(int finds)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    char name[] = "FindEndToEndBench";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    const std::unique_ptr<PlatformServices> services = createPlatformServices();
    bench::BenchMessages messages;
    Controller controller(services->platform(), &messages);
    MainWindow* form = controller.mainWindow();
    form->show();
    QApplication::processEvents();

    QElapsedTimer clock;
    clock.start();
    qint64 last = -1, longest = 0;
    // The GUI thread's own processor time between two turns: what the program itself held
    // the window up for, whatever else the machine runs.
    double lastCpu = -1, longestCpu = 0;
    bool measuring = false;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        const double cpu = threadCpuMs();
        if (measuring && last >= 0) {
            longest = std::max(longest, now - last);
            longestCpu = std::max(longestCpu, cpu - lastCpu);
        }
        last = now;
        lastCpu = cpu;
    });
    ticker.start(1);
    for (int i = 0; i < 20; ++i)
        QApplication::processEvents();
    const long idle = statusKilobytes("VmRSS");
    const std::map<std::string, long> idleMappings = residentMappings();
    printMappingChanges(idleMappings, 0);

    for (int find = 0; find < finds; ++find) {
        const long before = statusKilobytes("VmRSS");
        resetPeak();
        bool ended = false;
        Clock::time_point endedAt;
        const QMetaObject::Connection connection =
            QObject::connect(controller.searchRunner(), &SearchRunner::ended, [&] {
                endedAt = Clock::now();
                ended = true;
            });
        longest = 0;
        last = -1;
        longestCpu = 0;
        measuring = true;
        const double cpuBefore = threadCpuMs();
        const Clock::time_point clicked = Clock::now();
        form->cmdFind()->click();
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (ended)
                loop.quit();
        });
        poll.start(1);
        loop.exec();
        measuring = false;
        const double busy = threadCpuMs() - cpuBefore;
        QObject::disconnect(connection);
        const long peak = statusKilobytes("VmHWM");
        for (int i = 0; i < 20; ++i)
            QApplication::processEvents();
        const long after = statusKilobytes("VmRSS");
        printMappingChanges(idleMappings, find + 1);
        const SearchRunner::Timing& t = controller.searchRunner()->timing();
        std::printf(
            "find=%d total=%.1f threadStart=%.1f walk=%.1f lastBatch=%.1f guiBusy=%.1f "
            "longestPause=%.2f longestBusy=%.2f idleKB=%ld beforeKB=%ld peakKB=%ld afterKB=%ld "
            "entries=%d caption=%s\n",
            find + 1, ms(clicked, endedAt), ms(clicked, t.walkBegan), ms(t.walkBegan, t.walkEnded),
            ms(t.walkEnded, endedAt), busy, longest / 1e6, longestCpu, idle, before, peak, after,
            form->list1()->model()->rowCount(), form->windowTitle().toUtf8().constData());
        std::fflush(stdout);
    }
    // What the found entries themselves hold: the list emptied, freed memory handed back.
    form->list1Entries()->clear();
    for (int i = 0; i < 20; ++i)
        QApplication::processEvents();
#if defined(__GLIBC__)
    ::malloc_trim(0);
#endif
    std::printf("emptied listKB=%ld\n", statusKilobytes("VmRSS"));
    printMappingChanges(idleMappings, -1);
    return 0;
}

using bench::dropCaches;
using bench::runTool;
using bench::ToolRun;

std::map<std::string, std::string> fields(const std::string& line)
{
    std::map<std::string, std::string> values;
    std::istringstream words(line);
    for (std::string word; words >> word;)
        if (const std::size_t eq = word.find('='); eq != std::string::npos)
            values[word.substr(0, eq)] = word.substr(eq + 1);
    return values;
}

double number(const std::map<std::string, std::string>& values, const char* key)
{
    const auto found = values.find(key);
    return found == values.end() ? 0 : std::atof(found->second.c_str());
}

std::string loadAverage()
{
    double load[3] = {};
    char text[64] = "?";
    if (::getloadavg(load, 3) == 3)
        std::snprintf(text, sizeof text, "%.2f %.2f %.2f", load[0], load[1], load[2]);
    return text;
}

std::size_t lineCount(const std::string& text)
{
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Program
{
    std::string label;
    std::string path;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--child") == 0)
        return child(std::atoi(argv[2]));

    long budget = 1000000;
    int rounds = 3;
    bool cold = true, keep = false;
    std::string existing;
    std::vector<Program> programs = {{"Velmoran", fs::read_symlink("/proc/self/exe").string()}};
    std::vector<long> numbers;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-cold") == 0)
            cold = false;
        else if (std::strcmp(argv[i], "--keep") == 0)
            keep = true;
        else if (std::strcmp(argv[i], "--tree") == 0 && i + 1 < argc)
            existing = argv[++i];
        else if (std::strcmp(argv[i], "--other") == 0 && i + 2 < argc) {
            programs.push_back({argv[i + 1], argv[i + 2]});
            i += 2;
        } else
            numbers.push_back(std::atol(argv[i]));
    }
    if (numbers.size() > 0)
        budget = numbers[0];
    if (numbers.size() > 1)
        rounds = static_cast<int>(numbers[1]);
    const bool root = ::geteuid() == 0;

    char pattern[] = "/tmp/velmoran-e2e-bench-XXXXXX";
    if (!::mkdtemp(pattern)) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path work = pattern;
    ::chmod(work.c_str(), 0755);
    fs::path drive = work / "drive";
    bench::WalkTree tree;
    if (!existing.empty()) {
        drive = fs::absolute(existing);
    } else {
        const Clock::time_point made = Clock::now();
        tree = bench::WalkTreeMaker(drive, budget).make();
        std::printf("Tree %s: %ld entries (%ld folders), %zu matches outside dot-folders and the "
                    "locked folder; made in %.1f s\n",
                    drive.c_str(), tree.entries, tree.folders, tree.expected.size(),
                    ms(made, Clock::now()) / 1000.0);
    }
    // A prefix of its own whose c: is the drive; each user gets a runtime folder of its own.
    fs::create_directories(work / "prefix" / "dosdevices");
    fs::create_directory_symlink(drive, work / "prefix" / "dosdevices" / "c:");
    ::setenv("WINEPREFIX", (work / "prefix").c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::unsetenv("XDG_RUNTIME_DIR");

    const std::vector<std::string> fd = {"fdfind", "-I", "-t",           "f",
                                         "-g",     "-i", "patch_d2.mpq", drive.string()};
    const std::vector<std::string> find = {"find",   drive.string(), "-name", ".*",
                                           "-prune", "-o",           "-type", "f",
                                           "-iname", "patch_d2.mpq", "-print"};

    struct Figures
    {
        std::vector<double> total, threadStart, walk, lastBatch, guiBusy, pause, busyStretch, peak,
            idle;
        std::vector<double> fd, find, fdPeak, findPeak;
        std::string entries, caption, fdCount, findCount;
    };

    std::vector<bool> users = {false};
    if (root)
        users.push_back(true);
    else
        std::printf("Not root: user 65534 and cold runs are left out\n");

    auto measure = [&](bool nobody, bool dropFirst, int count) {
        std::map<std::string, Figures> figures; // by program label
        Figures tools;
        for (int round = 0; round < count; ++round) {
            for (const Program& program : programs) {
                if (dropFirst && !dropCaches())
                    return false;
                const ToolRun run = runTool({program.path, "--child", "1"}, nobody);
                const auto values = fields(run.out);
                Figures& f = figures[program.label];
                if (!run.ok() || values.empty()) {
                    std::printf("  %s failed: %s\n", program.label.c_str(), run.err.c_str());
                    continue;
                }
                f.total.push_back(number(values, "total"));
                f.threadStart.push_back(number(values, "threadStart"));
                f.walk.push_back(number(values, "walk"));
                f.lastBatch.push_back(number(values, "lastBatch"));
                f.guiBusy.push_back(number(values, "guiBusy"));
                f.pause.push_back(number(values, "longestPause"));
                f.busyStretch.push_back(number(values, "longestBusy"));
                f.peak.push_back(run.peakKilobytes / 1024.0);
                f.idle.push_back(number(values, "idleKB") / 1024.0);
                f.entries = values.at("entries");
                f.caption = values.count("caption") ? values.at("caption") : "";
            }
            if (dropFirst && !dropCaches())
                return false;
            ToolRun run = runTool(fd, nobody);
            tools.fd.push_back(run.ms);
            tools.fdPeak.push_back(run.peakKilobytes / 1024.0);
            tools.fdCount = std::to_string(lineCount(run.out));
            if (dropFirst && !dropCaches())
                return false;
            run = runTool(find, nobody);
            tools.find.push_back(run.ms);
            tools.findPeak.push_back(run.peakKilobytes / 1024.0);
            tools.findCount = std::to_string(lineCount(run.out));
        }
        const double fdMs = median(tools.fd);
        std::printf("  %-22s %9s %7s  %-40s %9s %9s %8s %8s  %s\n", "", "ms", "x fd",
                    "breakdown: start / walk / last batch", "GUI busy", "pause", "idle MB",
                    "peak MB", "entries");
        for (const Program& program : programs) {
            const Figures& f = figures[program.label];
            char breakdown[64];
            std::snprintf(breakdown, sizeof breakdown, "%.1f / %.0f / %.1f ms",
                          median(f.threadStart), median(f.walk), median(f.lastBatch));
            std::printf("  %-22s %9.0f %7.2f  %-40s %6.0f ms %6.1f ms %8.1f %8.1f  %s (caption "
                        "%s); longest GUI-thread busy stretch %.1f ms\n",
                        (program.label + ", click to end").c_str(), median(f.total),
                        median(f.total) / fdMs, breakdown, median(f.guiBusy), median(f.pause),
                        median(f.idle), median(f.peak), f.entries.c_str(), f.caption.c_str(),
                        median(f.busyStretch));
        }
        std::printf("  %-22s %9.0f %7.2f  %-40s %9s %9s %8s %8.1f  %s\n", "fdfind -I -g -i", fdMs,
                    1.0, "", "", "", "", median(tools.fdPeak), tools.fdCount.c_str());
        std::printf("  %-22s %9.0f %7.2f  %-40s %9s %9s %8s %8.1f  %s\n", "find, .* pruned",
                    median(tools.find), median(tools.find) / fdMs, "", "", "", "",
                    median(tools.findPeak), tools.findCount.c_str());
        std::printf("  load average after: %s\n", loadAverage().c_str());
        return true;
    };

    for (const bool nobody : users) {
        const char* who = nobody ? "user 65534" : "the current user";
        // Fill the page cache once.
        runTool({programs[0].path, "--child", "1"}, nobody);
        runTool(fd, nobody);
        std::printf("\nWarm, as %s (median of %d rounds; load average %s):\n", who, rounds,
                    loadAverage().c_str());
        measure(nobody, false, rounds);
        if (cold && root) {
            std::printf("\nCold (page cache dropped before each run), as %s (median of %d "
                        "rounds; load average %s):\n",
                        who, rounds, loadAverage().c_str());
            measure(nobody, true, rounds);
        }
    }

    // Memory over ten Finds in a row, in one window.
    for (const Program& program : programs) {
        const ToolRun run = runTool({program.path, "--child", "10"}, false);
        std::printf("\n%s, ten Finds in one window (current user, warm): resident MB after each "
                    "(idle %.1f MB)\n ",
                    program.label.c_str(), number(fields(run.out), "idleKB") / 1024.0);
        std::istringstream lines(run.out);
        double longest = 0, idle = number(fields(run.out), "idleKB"), most = 0, last = 0;
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("find=", 0) != 0)
                continue;
            const auto values = fields(line);
            last = number(values, "afterKB");
            std::printf(" %.1f", last / 1024.0);
            longest = std::max(longest, number(values, "longestPause"));
            most = std::max(most, last - idle);
        }
        std::printf("\n  most above idle after a Find: %.2f MiB", most / 1024.0);
        std::printf("\n  peak MB of each:");
        std::istringstream again(run.out);
        for (std::string line; std::getline(again, line);)
            if (line.rfind("find=", 0) == 0)
                std::printf(" %.1f", number(fields(line), "peakKB") / 1024.0);
        const std::size_t emptied = run.out.find("emptied listKB=");
        if (emptied != std::string::npos) {
            const double without = std::atof(run.out.c_str() + emptied + 15);
            std::printf("\n  with List1 emptied afterwards: %.1f MB (so List1's entries hold "
                        "%.2f MiB, the rest %.2f MiB above idle)",
                        without / 1024.0, (last - without) / 1024.0, (without - idle) / 1024.0);
        }
        std::printf("\n  longest GUI pause over the ten: %.2f ms\n", longest);
    }

    std::fflush(stdout);
    if (!existing.empty()) {
        std::error_code ec;
        fs::remove_all(work, ec);
        return 0;
    }
    if (keep) {
        std::printf("\nKept %s\n", work.c_str());
        return 0;
    }
    if (!tree.locked.empty())
        ::chmod(tree.locked.c_str(), 0755);
    std::error_code ec;
    fs::remove_all(work, ec);
    std::printf("\nRemoved %s\n", work.c_str());
    return 0;
}
