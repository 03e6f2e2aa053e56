// Kills a process running Backup, Replace and Undo at many points and checks after every
// kill that nothing of the game's was lost: the game's own archive lies whole in place or
// as the backup, no archive is truncated, every save holds one of its versions whole, and
// one Undo then brings back the installed game.
//
// Kill points: under ptrace, SIGKILL at the n-th syscall stop (a stop on entry and one on
// exit of every system call, inside the file layer's copies included); and mid-write, with
// the file size limit set to a byte offset, where the write that crosses it is cut short.
// VELMORAN_FAULT_POINTS caps the syscall kill points per scenario (default 150; 0 = all).
#include "core/OperationError.h"
#include "support/SampleGame.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <iostream>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace velmoran;
using namespace velmoran::testing;
namespace fs = std::filesystem;

namespace {

const std::string Installed = "original | no Backup | no save_Backup";

// Losses a kill may never cause.
std::vector<std::string> losses(SampleGame& game, std::size_t savesBefore)
{
    std::vector<std::string> found;
    const std::string archive = game.label(game.game() / "patch_d2.mpq");
    const std::string backup = game.label(game.game() / "Backup" / "patch_d2.mpq");
    if (archive != "original" && backup != "original")
        found.push_back("the original archive is gone (archive " + archive + ", backup " + backup +
                        ")");
    if (archive.starts_with("?") || (backup != "-" && backup != "original"))
        found.push_back("an archive holds unknown bytes (" + archive + ", backup " + backup + ")");
    for (const char* place : {"save", "save_Backup/save"})
        for (const auto& [name, bytes] : game.saves(place)) {
            if (name.starts_with(".velmoran-copy-")) // a killed copy's temporary file
                continue;
            const auto& known = game.saveVersions[name];
            if (std::find(known.begin(), known.end(), bytes) == known.end())
                found.push_back(std::string(place) + "/" + name + " is damaged or unknown (" +
                                std::to_string(bytes.size()) + " bytes)");
        }
    if (game.saves().size() < savesBefore)
        found.push_back("a save is gone");
    return found;
}

// Copies a game folder with its files' bytes and DOS attributes.
void copyGameFolder(const fs::path& from, const fs::path& to)
{
    fs::remove_all(to);
    fs::copy(from, to, fs::copy_options::recursive);
    for (const auto& entry : fs::recursive_directory_iterator(from)) {
        char value[64];
        const ssize_t length =
            ::getxattr(entry.path().c_str(), "user.DOSATTRIB", value, sizeof value);
        if (length > 0)
            ::setxattr((to / entry.path().lexically_relative(from)).c_str(), "user.DOSATTRIB",
                       value, static_cast<std::size_t>(length), 0);
    }
}

constexpr int PtraceRefused = 77;
extern "C" void killSelf(int)
{
    ::raise(SIGKILL);
}

// Runs the steps in a child. killAt > 0: SIGKILL at that syscall stop; writeLimit >= 0:
// writes stop at that offset and the child kills itself. Gives the stops seen, whether
// the child was killed and its exit code.
std::tuple<long, bool, int> runChild(SampleGame& game, const std::string& steps, long killAt,
                                     long writeLimit)
{
    std::cout.flush();
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (writeLimit >= 0) {
            ::signal(SIGXFSZ, killSelf);
            const rlimit limit{static_cast<rlim_t>(writeLimit), RLIM_INFINITY};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        } else if (::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) {
            ::_exit(PtraceRefused);
        } else {
            ::raise(SIGSTOP);
        }
        try {
            game.run(steps);
        } catch (const std::exception& e) {
            std::cerr << steps << ": " << e.what() << "\n";
            ::_exit(3);
        }
        ::_exit(0);
    }
    long stops = 0;
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (writeLimit < 0 && WIFSTOPPED(status)) {
        ::ptrace(PTRACE_SETOPTIONS, pid, nullptr,
                 reinterpret_cast<void*>(PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL));
        for (int deliver = 0;;) {
            ::ptrace(PTRACE_SYSCALL, pid, nullptr, reinterpret_cast<void*>(long(deliver)));
            deliver = 0;
            if (::waitpid(pid, &status, 0) < 0 || !WIFSTOPPED(status))
                break;
            if (WSTOPSIG(status) != (SIGTRAP | 0x80)) {
                deliver = WSTOPSIG(status);
            } else if (++stops == killAt) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                break;
            }
        }
    }
    return {stops, WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL,
            WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

struct Tally
{
    long tried = 0, survived = 0, recovered = 0, unchanged = 0;
    std::vector<std::string> failures;
    bool refused = false; // no ptrace here
};

// Brings a game to `start`, then kills `steps` at up to `cap` syscall stops spread over
// its run and at the write offsets given (of these points every second one from `first`
// on, or all), checking the game folder after each kill.
Tally killEverywhere(const std::string& start, const std::string& steps,
                     const std::string& finalLayout, long cap, const std::vector<long>& writeLimits,
                     bool requireRecovery = true, int first = 0, int every = 1)
{
    Tally tally;
    ScratchFolder scratch("velmoran-fault");
    SampleGame game(scratch / "game");
    // An archive and a save large enough for copies of many writes.
    game.versions["original"] = standInBytes("large original", 1024 * 1024 + 4321);
    writeFile(game.game() / "patch_d2.mpq", game.versions["original"]);
    game.saveVersions["Necromancer.d2s"] = {standInBytes("Necromancer.d2s", 300 * 1024),
                                            standInBytes("Necromancer played", 299 * 1024)};
    writeFile(game.game() / "save" / "Necromancer.d2s", game.saveVersions["Necromancer.d2s"][0]);
    game.run(start);
    const std::size_t savesBefore = game.saves().size();
    copyGameFolder(game.game(), scratch / "start");

    const auto [stops, killed, exitCode] = runChild(game, steps, -1, -1); // undisturbed
    tally.refused = exitCode == PtraceRefused;
    if (tally.refused || exitCode != 0 || game.layout() != finalLayout || stops < 10) {
        tally.failures.push_back(steps + ": the undisturbed run ended with " +
                                 std::to_string(exitCode) + ", layout " + game.layout());
        return tally;
    }
    std::vector<std::pair<long, long>> points; // (syscall stop, write limit)
    const long stride = cap > 0 && stops > cap ? (stops + cap - 1) / cap : 1;
    for (long n = 1; n <= stops; n += stride)
        points.emplace_back(n, -1);
    for (const long limit : writeLimits)
        points.emplace_back(-1, limit);
    for (std::size_t i = static_cast<std::size_t>(first); i < points.size();
         i += static_cast<std::size_t>(every)) {
        const auto [stop, limit] = points[i];
        copyGameFolder(scratch / "start", game.game());
        if (!std::get<1>(runChild(game, steps, stop, limit)))
            continue; // the run ended before the kill point
        ++tally.tried;
        const std::string where = steps + ", killed at " +
                                  (stop > 0 ? "syscall stop " + std::to_string(stop)
                                            : "write offset " + std::to_string(limit));
        std::vector<std::string> lost = losses(game, savesBefore);
        if (lost.empty()) {
            ++tally.survived;
            // The user clicks Undo once. With the backed-up archive there, the game is back
            // to its installed state. With it gone (an Undo cut short after its restore, a
            // Backup before its copy), Undo changes nothing and its error names it, and the
            // copy of the saves where one is left, never merged over newer saves; without
            // such a copy Backup and Undo work again then.
            const bool backedUp = fs::exists(game.game() / "Backup" / "patch_d2.mpq");
            const bool saveCopy = fs::exists(game.game() / "save_Backup" / "save");
            const bool clicked =
                fs::exists(game.game() / "Backup") || fs::exists(game.game() / "save_Backup");
            const auto before = game.snapshot();
            const auto click = [&](const std::string& steps) {
                try {
                    game.run(steps);
                } catch (const OperationError& e) {
                    return std::string(e.what());
                }
                return std::string();
            };
            const auto installed = [&] {
                return game.layout().starts_with(Installed) &&
                       !fs::exists(game.game() / "save_Backup") &&
                       losses(game, savesBefore).empty();
            };
            game.messages.shown.clear();
            std::string failure = clicked ? click("Undo") : "";
            bool recovered = failure.empty() && installed() && (backedUp || !clicked);
            if (!failure.empty() && !backedUp && game.snapshot() == before &&
                game.messages.shown.empty() &&
                failure.find(game.win("Backup\\patch_d2.mpq")) != std::string::npos &&
                (failure.find(game.win("save_Backup\\save")) != std::string::npos) == saveCopy) {
                ++tally.unchanged;
                if (!saveCopy)
                    failure = click("Backup; Undo");
                recovered = saveCopy || (failure.empty() && installed());
            }
            if (recovered)
                ++tally.recovered;
            else if (requireRecovery)
                lost.push_back("one Undo afterwards left " + game.layout() +
                               (failure.empty() ? "" : ": " + failure));
        }
        for (const std::string& l : lost)
            tally.failures.push_back(where + ": " + l);
    }
    return tally;
}

void useMemoryForScratch()
{
    // A process kill loses what the process had not written, whatever the file system, so
    // the many scratch games go to memory where writing them costs nothing.
    if (!std::getenv("VELMORAN_FAULT_DISK") && ::access("/dev/shm", W_OK) == 0)
        ::setenv("TMPDIR", "/dev/shm", 1);
}

const std::string Saves = " | save: Barbarian.d2s Necromancer.d2s Sorceress.d2s Sorceress.key";
const std::string Copy = Saves + " | copy:" + Saves.substr(8);

// A start, the steps killed, the layout an undisturbed run leaves; each scenario's kill
// points in twelve parts, one test each (each a few seconds on a busy machine).
using Scenario = std::tuple<const char*, const char*, std::string>;
constexpr int Parts = 12;
class PatchSwapFaults : public ::testing::TestWithParam<std::tuple<Scenario, int>>
{
};

TEST_P(PatchSwapFaults, NothingIsLostWhereverTheProcessIsKilled)
{
    useMemoryForScratch();
    const char* cap = std::getenv("VELMORAN_FAULT_POINTS");
    const auto& [start, steps, layout] = std::get<0>(GetParam());
    const Tally tally =
        killEverywhere(start, steps, layout, cap ? std::atol(cap) : 150,
                       {0, 1, 4095, 4096, 65536, 100000, 262144, 307199, 524288, 1048576, 1048577},
                       true, std::get<1>(GetParam()), Parts);
    if (tally.refused)
        GTEST_SKIP() << "this system does not let a test trace its child (ptrace)";
    for (const std::string& failure : tally.failures)
        ADD_FAILURE() << failure;
    std::cout << "[ fault    ] " << steps << ": " << tally.tried << " kill points, "
              << tally.survived << " lost nothing, " << tally.recovered - tally.unchanged
              << " back to the installed game after one Undo, " << tally.unchanged
              << " where Undo found nothing backed up and changed nothing\n";
    EXPECT_EQ(tally.survived, tally.tried);
    EXPECT_EQ(tally.recovered, tally.tried);
    EXPECT_GE(tally.tried, 6) << "too few kill points were reached";
    if (std::string(steps).find("Undo") != std::string::npos && std::get<1>(GetParam()) == 0) {
        EXPECT_GT(tally.unchanged, 0) << "no kill point left an Undo with nothing backed up";
    }
}

std::string scenarioName(const ::testing::TestParamInfo<PatchSwapFaults::ParamType>& info)
{
    return std::vector<std::string>({"Backup", "Replace", "Undo", "AllThree"})
               .at(info.index / Parts) +
           "Part" + std::to_string(std::get<1>(info.param) + 1);
}

INSTANTIATE_TEST_SUITE_P(
    Swap, PatchSwapFaults,
    ::testing::Combine(
        ::testing::Values(
            Scenario{"", "Backup+saves", "- | Backup:original hidden | save_Backup" + Copy},
            Scenario{"Backup+saves", "Replace Median",
                     "Median | Backup:original hidden | save_Backup" + Copy},
            Scenario{"Backup+saves; Replace Zy-El; play", "Undo",
                     Installed + " | save: Amazon.d2s Barbarian.d2s Necromancer.d2s Sorceress.d2s "
                                 "Sorceress.key"},
            Scenario{"", "Backup+saves; Replace Eastern Sun; Undo", Installed + Saves}),
        ::testing::Range(0, Parts)),
    scenarioName);

// The checks can see a loss: an archive overwritten in place is caught half-written.
TEST(PatchSwapFaultChecks, CatchAnOverwriteInPlace)
{
    useMemoryForScratch();
    const Tally tally =
        killEverywhere("Backup+saves; Replace Median", "overwrite Zy-El",
                       "Zy-El | Backup:original hidden | save_Backup" + Copy, 24, {}, false);
    ASSERT_FALSE(tally.refused);
    EXPECT_GT(tally.tried, 10);
    EXPECT_GT(tally.failures.size(), static_cast<std::size_t>(tally.tried / 2))
        << "the checks missed lost archives";
}

} // namespace
