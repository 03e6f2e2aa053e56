// Kills Backup, Replace and Undo at the n-th syscall stop (ptrace) or at a write offset (file
// size limit); after each kill nothing is lost and one Undo brings back the installed game.
// VELMORAN_FAULT_POINTS caps the syscall kill points per scenario (default 150; 0 = all).
#include "core/OperationError.h"
#include "support/SampleGame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <iostream>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace velmoran;
using namespace velmoran::testing;

namespace {

const std::string Installed = "original | no Backup | no save_Backup";

std::vector<std::string> losses(SampleGame& game, std::size_t savesBefore)
{
    std::vector<std::string> found;
    const std::string archive = game.label(game.game() / "patch_d2.mpq");
    const std::string backup = game.label(game.game() / "Backup" / "patch_d2.mpq");
    const std::string both = " (archive " + archive + ", backup " + backup + ")";
    if (archive != "original" && backup != "original")
        found.push_back("the original archive is gone" + both);
    if (archive.starts_with("?") || (backup != "-" && backup != "original"))
        found.push_back("an archive holds unknown bytes" + both);
    for (const char* place : {"save", "save_Backup/save"})
        for (const auto& [name, bytes] : game.saves(place)) {
            const auto& known = game.saveVersions[name]; // a killed copy's temporary is no loss
            if (!name.starts_with(".velmoran-copy-") &&
                std::ranges::find(known, bytes) == known.end())
                found.push_back(std::string(place) + "/" + name + " is damaged or unknown");
        }
    if (game.saves().size() < savesBefore)
        found.push_back("a save is gone");
    return found;
}

// Copies a game folder with its files' bytes and DOS attributes (user.DOSATTRIB).
void copyGameFolder(const fs::path& from, const fs::path& to)
{
    fs::remove_all(to);
    ASSERT_EQ(std::system(("cp -a '" + from.string() + "' '" + to.string() + "'").c_str()), 0);
}

constexpr int PtraceRefused = 77;

// Runs the steps in a child killed at syscall stop `killAt` (> 0), or when a write crosses
// `writeLimit` (>= 0). Gives the stops seen, whether it was killed, its exit code.
std::tuple<long, bool, int> runChild(SampleGame& game, const std::string& steps, long killAt,
                                     long writeLimit)
{
    const pid_t pid = ::fork();
    if (pid == 0) { // a write past the limit ends the child (SIGXFSZ), without a core file
        const rlimit limit{static_cast<rlim_t>(writeLimit), RLIM_INFINITY}, none{0, 0};
        if (writeLimit >= 0) {
            ::setrlimit(RLIMIT_CORE, &none);
            ::setrlimit(RLIMIT_FSIZE, &limit);
        } else if (::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) {
            ::_exit(PtraceRefused);
        } else {
            ::raise(SIGSTOP);
        }
        game.run(steps); // a failure ends the child with its message (std::terminate)
        ::_exit(0);
    }
    long stops = 0;
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (writeLimit < 0 && WIFSTOPPED(status)) {
        ::ptrace(PTRACE_SETOPTIONS, pid, nullptr,
                 reinterpret_cast<void*>(PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL));
        for (long deliver = 0;;) { // a signal stop passes its signal on
            ::ptrace(PTRACE_SYSCALL, pid, nullptr, reinterpret_cast<void*>(deliver));
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
    return {stops, WIFSIGNALED(status), WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

struct Tally
{
    long tried = 0, unchanged = 0; // unchanged: Undo found nothing backed up
    std::vector<std::string> failures;
    bool refused = false; // no ptrace here
};

// Brings a game to `start`, kills `steps` at up to `cap` syscall stops and at the write
// offsets (every `every`th point from `first` on), and checks the game and one Undo after each.
Tally killEverywhere(const std::string& start, const std::string& steps,
                     const std::string& finalLayout, long cap, const std::vector<long>& writeLimits,
                     int first = 0, int every = 1)
{
    if (::access("/dev/shm", W_OK) == 0) // a kill loses the same on any file system: go to memory
        ::setenv("TMPDIR", "/dev/shm", 1);
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
    for (long n = 1; n <= stops; n += cap > 0 && stops > cap ? (stops + cap - 1) / cap : 1)
        points.emplace_back(n, -1);
    for (const long limit : writeLimits)
        points.emplace_back(-1, limit);
    for (std::size_t i = std::size_t(first); i < points.size(); i += std::size_t(every)) {
        const auto [stop, limit] = points[i];
        copyGameFolder(scratch / "start", game.game());
        if (!std::get<1>(runChild(game, steps, stop, limit)))
            continue; // the run ended before the kill point
        ++tally.tried;
        const std::string where = steps + ", killed at " +
                                  (stop > 0 ? "syscall stop " : "write offset ") +
                                  std::to_string(stop > 0 ? stop : limit) + ": ";
        std::vector<std::string> lost = losses(game, savesBefore);
        if (lost.empty()) {
            // With the archive backed up, one Undo brings back the installed game. Without it,
            // Undo changes nothing and names it and the save copy left, never merged over newer
            // saves; with no copy left, Backup and Undo then work.
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
                return game.layout().starts_with(Installed) && losses(game, savesBefore).empty();
            };
            game.messages.shown.clear();
            std::string failure = clicked ? click("Undo") : "";
            bool recovered = failure.empty() && installed() && (backedUp || !clicked);
            if (!failure.empty() && !backedUp && game.snapshot() == before &&
                game.messages.shown.empty() &&
                failure.find(game.win("Backup\\patch_d2.mpq")) != std::string::npos &&
                (failure.find(game.win("save_Backup\\save")) != std::string::npos) == saveCopy) {
                ++tally.unchanged;
                failure = saveCopy ? "" : click("Backup; Undo");
                recovered = saveCopy || (failure.empty() && installed());
            }
            if (!recovered)
                lost.push_back("one Undo afterwards left " + game.layout() + " " + failure);
        }
        for (const std::string& l : lost)
            tally.failures.push_back(where + l);
    }
    return tally;
}

const std::string Saves = " | save: Barbarian.d2s Necromancer.d2s Sorceress.d2s Sorceress.key";
const std::string Copy = Saves + " | copy:" + Saves.substr(8);

// A name, a start, the steps killed, the layout an undisturbed run leaves; in twelve parts.
using Scenario = std::tuple<const char*, const char*, const char*, std::string>;
constexpr int Parts = 12;
using PatchSwapFaults = ::testing::TestWithParam<std::tuple<Scenario, int>>;

TEST_P(PatchSwapFaults, NothingIsLostWhereverTheProcessIsKilled)
{
    const char* cap = std::getenv("VELMORAN_FAULT_POINTS");
    const auto& [name, start, steps, layout] = std::get<0>(GetParam());
    const Tally tally =
        killEverywhere(start, steps, layout, cap ? std::atol(cap) : 150,
                       {0, 1, 4095, 4096, 65536, 100000, 262144, 307199, 524288, 1048576, 1048577},
                       std::get<1>(GetParam()), Parts);
    if (tally.refused)
        GTEST_SKIP() << "this system does not let a test trace its child (ptrace)";
    for (const std::string& failure : tally.failures)
        ADD_FAILURE() << failure;
    std::cout << "[ fault    ] " << steps << ": " << tally.tried << " kill points, "
              << tally.unchanged << " where Undo found nothing backed up and changed nothing\n";
    EXPECT_GE(tally.tried, 6) << "too few kill points were reached";
    EXPECT_TRUE(std::string(steps).find("Undo") == std::string::npos ||
                std::get<1>(GetParam()) > 0 || tally.unchanged > 0)
        << "no kill point left an Undo with nothing backed up";
}

INSTANTIATE_TEST_SUITE_P(
    Swap, PatchSwapFaults,
    ::testing::Combine(
        ::testing::Values(
            Scenario{"Backup", "", "Backup+saves",
                     "- | Backup:original hidden | save_Backup" + Copy},
            Scenario{"Replace", "Backup+saves", "Replace Median",
                     "Median | Backup:original hidden | save_Backup" + Copy},
            Scenario{"Undo", "Backup+saves; Replace Zy-El; play", "Undo",
                     Installed + " | save: Amazon.d2s Barbarian.d2s Necromancer.d2s Sorceress.d2s "
                                 "Sorceress.key"},
            Scenario{"AllThree", "", "Backup+saves; Replace Eastern Sun; Undo", Installed + Saves}),
        ::testing::Range(0, Parts)),
    [](const auto& i) {
        return std::get<0>(std::get<0>(i.param)) + std::to_string(std::get<1>(i.param));
    });

// The checks can see a loss: an archive overwritten in place is caught half-written.
TEST(PatchSwapFaultChecks, CatchAnOverwriteInPlace)
{
    const Tally tally =
        killEverywhere("Backup+saves; Replace Median", "overwrite Zy-El",
                       "Zy-El | Backup:original hidden | save_Backup" + Copy, 24, {});
    EXPECT_GT(tally.tried, 10);
    EXPECT_GT(tally.failures.size(), static_cast<std::size_t>(tally.tried / 2))
        << "the checks missed lost archives";
}

} // namespace
