// Kills a process running Backup, Replace and Undo at many points and checks, after every
// kill, that nothing of the game's was lost: the game's own archive lies whole either in
// place or as the backup, no archive is truncated, and every save file holds one of its
// versions whole.
//
// Two kinds of kill point:
// - syscall boundaries: the child runs under ptrace and is sent SIGKILL at the n-th
//   syscall stop (each syscall has a stop on entry and one on exit, so a kill lands both
//   before and after every system call, inside the file layer's copies included);
// - mid-write: the child's file size limit is set to a byte offset, so the write that
//   crosses it is cut short there and the child then kills itself with SIGKILL.
//
// VELMORAN_FAULT_POINTS caps the syscall kill points per scenario (default 150; 0 = all).
// The scratch games live in /dev/shm unless VELMORAN_FAULT_DISK is set.

#include "core/OperationError.h"
#include "swap/SwapGame.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <set>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace velmoran;
using namespace velmoran::testing;
namespace fs = std::filesystem;

namespace {

constexpr std::size_t LargeArchiveSize = 1024 * 1024 + 4321; // many writes per copy
constexpr std::size_t LargeSaveSize = 300 * 1024;

struct Scenario
{
    const char* name;
    std::function<void(SwapGame&)> prepare; // untraced: brings the game to the start state
    std::function<void(SwapGame&)> run;     // what the child runs
    const char* finalLayout;                // SwapGame::layout() after an undisturbed run
};

// A game whose archive and one save are large enough for copies of many writes, and whose
// every save has the versions it may legitimately hold.
std::unique_ptr<SwapGame> makeGame(const fs::path& root)
{
    auto game = std::make_unique<SwapGame>(root);
    static const std::string original =
        standInBytes("large original patch_d2.mpq", LargeArchiveSize);
    static const std::string big = standInBytes("Necromancer.d2s", LargeSaveSize);
    writeFile(game->game() / "patch_d2.mpq", original);
    game->versions["original"] = original;
    writeFile(game->game() / "save" / "Necromancer.d2s", big);
    game->saveVersions["Necromancer.d2s"].push_back(big);
    return game;
}

// After Backup the player changed one save and made a new one.
void playAfterBackup(SwapGame& game)
{
    static const std::string changed = standInBytes("Necromancer.d2s played", LargeSaveSize - 777);
    static const std::string created = standInBytes("Amazon.d2s", 2222);
    writeFile(game.game() / "save" / "Necromancer.d2s", changed);
    writeFile(game.game() / "save" / "Amazon.d2s", created);
    game.saveVersions["Necromancer.d2s"].push_back(changed);
    game.saveVersions["Amazon.d2s"].push_back(created);
}

const std::vector<Scenario>& scenarios()
{
    static const std::vector<Scenario> all = {
        {"Backup with saves", [](SwapGame&) {}, [](SwapGame& g) { g.backup(CheckValue::Ticked); },
         "- | Backup:original hidden | save_Backup"},
        {"Replace", [](SwapGame& g) { g.backup(CheckValue::Ticked); },
         [](SwapGame& g) { g.replace("Median"); }, "Median | Backup:original hidden | save_Backup"},
        {"Undo",
         [](SwapGame& g) {
             g.backup(CheckValue::Ticked);
             g.replace("Zy-El");
             playAfterBackup(g);
         },
         [](SwapGame& g) { g.undo(); }, "original | no Backup | no save_Backup"},
        {"Backup, Replace, Undo", [](SwapGame&) {},
         [](SwapGame& g) {
             g.backup(CheckValue::Ticked);
             g.replace("Eastern Sun");
             g.undo();
         },
         "original | no Backup | no save_Backup"},
    };
    return all;
}

// What a kill may never do. Returns a description of every loss found.
std::vector<std::string> losses(SwapGame& game, const std::set<std::string>& savesBefore,
                                int& temporaries)
{
    std::vector<std::string> found;
    const fs::path folder = game.game();
    const std::string archive = game.label(folder / "patch_d2.mpq");
    const std::string backup = game.label(folder / "Backup" / "patch_d2.mpq");
    if (archive != "original" && backup != "original")
        found.push_back("the original archive is gone (archive " + archive + ", backup " + backup +
                        ")");
    if (archive.starts_with("?"))
        found.push_back("patch_d2.mpq holds unknown bytes (" + archive + ")");
    if (backup != "-" && backup != "original")
        found.push_back("Backup\\patch_d2.mpq holds " + backup);

    for (const char* place : {"save", "save_Backup/save"}) {
        std::error_code ec;
        for (auto it = fs::directory_iterator(folder / place, ec);
             !ec && it != fs::directory_iterator(); it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (name.starts_with(".velmoran-copy-")) {
                ++temporaries;
                continue;
            }
            if (!it->is_regular_file())
                continue;
            const auto versions = game.saveVersions.find(name);
            const std::string bytes = fileBytes(it->path());
            if (versions == game.saveVersions.end())
                found.push_back(std::string(place) + "/" + name + " is unknown");
            else if (std::find(versions->second.begin(), versions->second.end(), bytes) ==
                     versions->second.end())
                found.push_back(std::string(place) + "/" + name + " is damaged (" +
                                std::to_string(bytes.size()) + " bytes)");
        }
    }
    for (const std::string& name : savesBefore)
        if (!fs::is_regular_file(folder / "save" / name))
            found.push_back("save/" + name + " is gone");
    for (const char* place : {"", "Backup"}) {
        std::error_code ec;
        for (auto it = fs::directory_iterator(folder / place, ec);
             !ec && it != fs::directory_iterator(); it.increment(ec))
            if (it->path().filename().string().starts_with(".velmoran-copy-"))
                ++temporaries;
    }
    return found;
}

// Copies a game folder with its files' bytes, permission bits and DOS attributes.
void copyGameFolder(const fs::path& from, const fs::path& to)
{
    fs::remove_all(to);
    fs::create_directories(to);
    for (auto it = fs::recursive_directory_iterator(from); it != fs::recursive_directory_iterator();
         ++it) {
        const fs::path target = to / it->path().lexically_relative(from);
        if (it->is_directory()) {
            fs::create_directory(target);
            continue;
        }
        fs::copy_file(it->path(), target);
        char value[64];
        const ssize_t length =
            ::getxattr(it->path().c_str(), "user.DOSATTRIB", value, sizeof value);
        if (length > 0)
            ::setxattr(target.c_str(), "user.DOSATTRIB", value, static_cast<std::size_t>(length),
                       0);
    }
}

// Runs the scenario in a child. killAt > 0: SIGKILL at that syscall stop. writeLimit >= 0:
// the child's writes stop at that file offset and it kills itself there.
// Gives the number of syscall stops seen and whether the child was killed.
struct ChildResult
{
    long stops = 0;
    bool killed = false;
    int exitCode = -1;
};

constexpr int PtraceRefused = 77;

extern "C" void killSelf(int)
{
    ::raise(SIGKILL);
}

ChildResult runChild(SwapGame& game, const Scenario& scenario, long killAt, long writeLimit)
{
    std::cout.flush();
    std::cerr.flush();
    const pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        if (writeLimit >= 0) {
            ::signal(SIGXFSZ, killSelf);
            rlimit limit{static_cast<rlim_t>(writeLimit), RLIM_INFINITY};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        } else {
            if (::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0)
                ::_exit(PtraceRefused);
            ::raise(SIGSTOP);
        }
        try {
            scenario.run(game);
        } catch (const std::exception& e) {
            std::cerr << scenario.name << ": " << e.what() << "\n";
            ::_exit(3);
        }
        ::_exit(0);
    }

    ChildResult result;
    int status = 0;
    if (writeLimit < 0) {
        ::waitpid(pid, &status, 0); // the child's own SIGSTOP
        ::ptrace(PTRACE_SETOPTIONS, pid, nullptr,
                 reinterpret_cast<void*>(PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL));
        int deliver = 0;
        for (;;) {
            ::ptrace(PTRACE_SYSCALL, pid, nullptr, reinterpret_cast<void*>(long(deliver)));
            deliver = 0;
            if (::waitpid(pid, &status, 0) < 0 || WIFEXITED(status) || WIFSIGNALED(status))
                break;
            if (!WIFSTOPPED(status))
                continue;
            if (WSTOPSIG(status) == (SIGTRAP | 0x80)) {
                if (++result.stops == killAt) {
                    ::kill(pid, SIGKILL);
                    ::waitpid(pid, &status, 0);
                    break;
                }
            } else {
                deliver = WSTOPSIG(status);
            }
        }
    } else {
        ::waitpid(pid, &status, 0);
    }
    result.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

long pointCap()
{
    const char* text = std::getenv("VELMORAN_FAULT_POINTS");
    return text ? std::atol(text) : 150;
}

void useMemoryForScratch()
{
    // A process kill loses what the process had not written, whatever the file system, so
    // the many scratch games go to memory where flushing them costs nothing.
    if (!std::getenv("VELMORAN_FAULT_DISK") && ::access("/dev/shm", W_OK) == 0)
        ::setenv("TMPDIR", "/dev/shm", 1);
}

struct Tally
{
    long stops = 0, tried = 0, survived = 0, recovered = 0, refused = 0, temporaries = 0;
    std::vector<std::string> failures;
    std::string skipped; // why the kill points could not be run
};

// Kills the scenario's child at up to `cap` syscall stops spread evenly over its run (0:
// every stop) and at the write offsets given, and checks the game folder after each kill.
Tally killEverywhere(const Scenario& scenario, long cap, const std::vector<long>& writeLimits,
                     bool requireRecovery = true)
{
    Tally tally;
    // One game per scenario, brought to the start state once; every run starts from a copy
    // of that state. The prefix and the mod drives are only read by the swap.
    ScratchFolder scratch("velmoran-fault");
    auto game = makeGame(scratch.path() / "game");
    scenario.prepare(*game);
    const fs::path start = scratch.path() / "start";
    copyGameFolder(game->game(), start);
    std::set<std::string> savesBefore;
    for (const auto& [name, bytes] : game->saves())
        savesBefore.insert(name);

    // An undisturbed run first: how many syscall stops there are to kill at.
    const ChildResult calm = runChild(*game, scenario, -1, -1);
    if (calm.exitCode == PtraceRefused) {
        tally.skipped = "this system does not let a test trace its child (ptrace)";
        return tally;
    }
    if (calm.exitCode != 0 || game->layout() != scenario.finalLayout || calm.stops < 10) {
        tally.failures.push_back(std::string(scenario.name) + ": the undisturbed run ended with " +
                                 std::to_string(calm.exitCode) + " after " +
                                 std::to_string(calm.stops) + " syscall stops, layout " +
                                 game->layout());
        return tally;
    }
    tally.stops = calm.stops;

    std::vector<std::pair<long, long>> points; // (syscall stop, write limit)
    const long stride = cap > 0 && calm.stops > cap ? (calm.stops + cap - 1) / cap : 1;
    for (long n = 1; n <= calm.stops; n += stride)
        points.emplace_back(n, -1);
    for (const long limit : writeLimits)
        points.emplace_back(-1, limit);

    for (const auto& [stop, limit] : points) {
        copyGameFolder(start, game->game());
        const ChildResult child = runChild(*game, scenario, stop, limit);
        if (!child.killed) // the run ended before the kill point: no point
            continue;
        ++tally.tried;
        int temporaries = 0;
        const std::vector<std::string> lost = losses(*game, savesBefore, temporaries);
        tally.temporaries += temporaries;
        const std::string where = std::string(scenario.name) + ", killed at " +
                                  (stop > 0 ? "syscall stop " + std::to_string(stop)
                                            : "write offset " + std::to_string(limit));
        if (lost.empty()) {
            ++tally.survived;
            // The user clicks Undo once. Where the backed-up archive is still there, the game
            // is back to its installed state. Where it is gone (an Undo cut short after its
            // restore, a Backup before its copy), Undo changes nothing and its error names the
            // backed-up archive and the copy of the saves where one is left, never to be
            // merged over newer saves. Without such a copy, Backup and Undo work again then.
            const bool backedUp = fs::exists(game->game() / "Backup" / "patch_d2.mpq");
            const bool saveCopy = fs::exists(game->game() / "save_Backup" / "save");
            const bool clicked =
                fs::exists(game->game() / "Backup") || fs::exists(game->game() / "save_Backup");
            const auto before = game->snapshot();
            game->messages.shown.clear();
            const auto click = [](const std::function<void()>& run) {
                try {
                    run();
                } catch (const OperationError& e) {
                    return std::string(e.what());
                }
                return std::string();
            };
            const auto installed = [&] {
                int ignored = 0;
                return game->layout() == "original | no Backup | no save_Backup" &&
                       losses(*game, savesBefore, ignored).empty();
            };
            std::string failure = clicked ? click([&] { game->undo(); }) : "";
            bool recovered = failure.empty() && installed() && (backedUp || !clicked);
            if (!failure.empty() && !backedUp && game->snapshot() == before &&
                game->messages.shown.empty() &&
                failure.find(game->win("Backup\\patch_d2.mpq")) != std::string::npos &&
                (failure.find(game->win("save_Backup\\save")) != std::string::npos) == saveCopy) {
                ++tally.refused;
                if (!saveCopy)
                    failure = click([&] {
                        game->backup();
                        game->undo();
                    });
                recovered = saveCopy || (failure.empty() && installed());
            }
            if (recovered)
                ++tally.recovered;
            else if (requireRecovery)
                tally.failures.push_back(where + ": one Undo afterwards left " + game->layout() +
                                         (failure.empty() ? "" : "\n  " + failure));
            continue;
        }
        std::string text = where + ":";
        for (const std::string& l : lost)
            text += "\n  " + l;
        tally.failures.push_back(text);
    }
    return tally;
}

TEST(PatchSwapFaults, NothingIsLostWhereverTheProcessIsKilled)
{
    useMemoryForScratch();
    std::cout << "[ fault    ] scratch games in " << fs::temp_directory_path() << "\n";
    const std::vector<long> writeLimits = {0,      1,      4095,   4096,    65536,  100000,
                                           262144, 307199, 524288, 1048576, 1048577};
    Tally total;
    for (const Scenario& scenario : scenarios()) {
        const Tally tally = killEverywhere(scenario, pointCap(), writeLimits);
        if (!tally.skipped.empty())
            GTEST_SKIP() << tally.skipped;
        for (const std::string& failure : tally.failures)
            ADD_FAILURE() << failure;
        std::cout << "[ fault    ] " << scenario.name << ": " << tally.stops << " syscall stops, "
                  << tally.tried << " kill points tried, " << tally.survived << " survived, "
                  << tally.recovered - tally.refused
                  << " back to the installed game after one Undo, " << tally.refused
                  << " where Undo found nothing backed up and changed nothing\n";
        total.tried += tally.tried;
        total.survived += tally.survived;
        total.recovered += tally.recovered;
        total.refused += tally.refused;
        total.temporaries += tally.temporaries;
    }
    std::cout << "[ fault    ] total: " << total.tried << " kill points tried, " << total.survived
              << " survived, " << total.recovered - total.refused
              << " back to the installed game after one Undo, " << total.refused
              << " left unchanged by an Undo that found nothing backed up; " << total.temporaries
              << " temporary copy files left behind by killed runs\n";
    EXPECT_EQ(total.survived, total.tried);
    EXPECT_EQ(total.recovered, total.tried);
    EXPECT_GT(total.refused, 0) << "no kill point left an Undo with nothing backed up";
    EXPECT_GE(total.tried, 300) << "too few kill points were reached";
}

// The checks above must be able to see a loss: an archive overwritten in place, the way a
// copy without a temporary file does it, is caught half-written.
TEST(PatchSwapFaults, TheChecksCatchAnOverwriteInPlace)
{
    useMemoryForScratch();
    const Scenario unsafe{
        "overwrite in place",
        [](SwapGame& g) {
            g.backup(CheckValue::Ticked);
            g.replace("Median");
        },
        [](SwapGame& g) {
            const std::string& bytes = g.versions.at("Zy-El");
            std::ofstream out(g.game() / "patch_d2.mpq", std::ios::binary | std::ios::trunc);
            for (std::size_t at = 0; at < bytes.size(); at += 4096) {
                out.write(bytes.data() + at, static_cast<std::streamsize>(
                                                 std::min<std::size_t>(4096, bytes.size() - at)));
                out.flush();
            }
        },
        "Zy-El | Backup:original hidden | save_Backup"};
    const Tally tally = killEverywhere(unsafe, 40, {1000, 30000}, false);
    if (!tally.skipped.empty())
        GTEST_SKIP() << tally.skipped;
    std::cout << "[ fault    ] " << unsafe.name << ": " << tally.tried << " kill points tried, "
              << tally.failures.size() << " losses caught\n";
    EXPECT_GT(tally.tried, 10);
    EXPECT_GT(tally.failures.size(), tally.tried / 2) << "the checks missed half-written archives";
}

} // namespace
