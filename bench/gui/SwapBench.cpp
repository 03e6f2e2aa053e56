// The patch swap of a large archive: Backup, Replace and Undo of the program's own commands
// on a game folder whose patch_d2.mpq is 200 MB, beside `cp` + `sync` of the same file in
// the same run, each the median of several rounds. Twice: as the program does it (the
// archive moved within the game folder's file system) and as across two file systems (every
// archive copied and verified before the original goes, as the program does where a move is
// not possible).
//
// Undo is timed to its message, as the user waits; the line below it adds the time until
// the archive it replaced has been freed on the program's own thread.
//
// Usage: SwapBench [megabytes (200)] [rounds (5)] [--in FOLDER (where the game lies; /tmp)]
#include "BenchMessages.h"
#include "core/CommandContext.h"
#include "core/PatchSwap.h"
#include "platform/PlatformServices.h"
#include "platform/linux/SafeFiles.h"
#include "ui/MainWindow.h"
#include "ui/QtMainWindowControls.h"

#include <QApplication>
#include <QListView>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

using namespace velmoran;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// The program's file layer, except that nothing can be moved: as across two file systems.
class CopyOnly : public FileSystem
{
public:
    explicit CopyOnly(FileSystem& real) : m_real(real) {}
    bool moveFile(const std::string&, const std::string&) override { return false; }
    // clang-format off
    void copyFile(const std::string& s, const std::string& d) override { m_real.copyFile(s, d); }
    void deleteFiles(const std::string& p) override { m_real.deleteFiles(p); }
    void makeFolder(const std::string& p) override { m_real.makeFolder(p); }
    void removeFolder(const std::string& p) override { m_real.removeFolder(p); }
    void setAttributes(const std::string& p, unsigned v) override { m_real.setAttributes(p, v); }
    unsigned fileAttributes(const std::string& p) override { return m_real.fileAttributes(p); }
    std::unique_ptr<Listing> findFile(const std::string& p, FindFilter f) override { return m_real.findFile(p, f); }
    void copyFolderTree(const std::string& s, const std::string& d) override { m_real.copyFolderTree(s, d); }
    void writeTextFile(const std::string& p, const std::vector<std::string>& l) override { m_real.writeTextFile(p, l); }
    bool sameContents(const std::string& a, const std::string& b) override { return m_real.sameContents(a, b); }
    void scanFolder(const std::string& f, const std::string& n, FolderScan& r) override { m_real.scanFolder(f, n, r); }
    // clang-format on

private:
    FileSystem& m_real;
};

void writeArchive(const fs::path& path, std::size_t megabytes, std::uint32_t seed)
{
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    std::vector<std::uint32_t> block(1 << 18);
    for (std::size_t i = 0; i < megabytes; ++i) {
        for (std::uint32_t& word : block) {
            seed ^= seed << 13;
            seed ^= seed >> 17;
            seed ^= seed << 5;
            word = seed;
        }
        out.write(reinterpret_cast<const char*>(block.data()),
                  static_cast<std::streamsize>(block.size() * sizeof(std::uint32_t)));
    }
}

double timed(const std::function<void()>& step)
{
    ::sync(); // what earlier steps left dirty is not this step's
    const Clock::time_point start = Clock::now();
    step();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

std::string loadAverage()
{
    double load[3] = {};
    char text[64] = "?";
    if (::getloadavg(load, 3) == 3)
        std::snprintf(text, sizeof text, "%.2f %.2f %.2f", load[0], load[1], load[2]);
    return text;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::size_t megabytes = 200;
    int rounds = 5;
    std::string where = "/tmp";
    std::vector<long> numbers;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--in") == 0 && i + 1 < argc)
            where = argv[++i];
        else
            numbers.push_back(std::atol(argv[i]));
    }
    if (!numbers.empty())
        megabytes = static_cast<std::size_t>(numbers[0]);
    if (numbers.size() > 1)
        rounds = static_cast<int>(numbers[1]);

    std::string pattern = where + "/velmoran-swap-bench-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path root = pattern;
    const fs::path drive = root / "c";
    const fs::path game = drive / "Games" / "Diablo II";
    fs::create_directories(root / "prefix" / "dosdevices");
    fs::create_directory_symlink(drive, root / "prefix" / "dosdevices" / "c:");
    std::ofstream(root / "prefix" / "system.reg")
        << "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win32\n\n"
           "[Software\\\\Blizzard Entertainment\\\\Diablo II] 1700000000\n"
           "\"InstallPath\"=\"C:\\\\Games\\\\Diablo II\"\n\n";
    ::setenv("WINEPREFIX", (root / "prefix").c_str(), 1);
    writeArchive(game / "patch_d2.mpq", megabytes, 0x1234567u);
    writeArchive(drive / "Mods" / "patch_d2.mpq", megabytes, 0x7654321u);

    QApplication app(argc, argv);
    const std::unique_ptr<PlatformServices> services = createPlatformServices();
    MainWindow window;
    QtMainWindowControls form(&window);
    bench::BenchMessages messages(false); // each step's message is the expected one
    form.appendToList({"c:\\Mods\\patch_d2.mpq"});
    window.list1()->setCurrentIndex(window.list1()->model()->index(0, 0));

    Platform& real = services->platform();
    CopyOnly copyOnly(real.files);
    Platform copying{copyOnly,    real.registry,          real.starter,        real.drives,
                     real.viewer, real.applicationFolder, real.temporaryFolder};

    std::printf("Swap of a %zu MB archive in %s, median of %d rounds; load average %s\n", megabytes,
                where.c_str(), rounds, loadAverage().c_str());
    std::printf("  %-34s %9s %9s %9s %9s\n", "", "Backup", "Replace", "Undo", "cp+sync");
    for (Platform* platform : {&real, &copying}) {
        CommandContext context{*platform, form, messages};
        std::vector<double> backup, replace, undo, copy, undoFreed;
        for (int round = 0; round < rounds; ++round) {
            copy.push_back(timed([&] {
                const std::string command = "cp '" + (game / "patch_d2.mpq").string() + "' '" +
                                            (root / "copy.mpq").string() + "' && sync";
                if (std::system(command.c_str()) != 0)
                    std::exit(1);
            }));
            fs::remove(root / "copy.mpq");
            // A file a step lets go of is freed on a thread of its own; that freeing is not
            // left to fall into the next step's time.
            backup.push_back(timed([&] { backupPatch(context); }));
            SafeFiles::waitUntilFreed();
            replace.push_back(timed([&] { replacePatch(context); }));
            SafeFiles::waitUntilFreed();
            const Clock::time_point undoStart = Clock::now();
            undo.push_back(timed([&] { undoChanges(context); }));
            SafeFiles::waitUntilFreed();
            undoFreed.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - undoStart).count());
        }
        const double cp = median(copy);
        std::printf("  %-34s %6.0f ms %6.0f ms %6.0f ms %6.0f ms\n",
                    platform == &real ? "as the program does it"
                                      : "copied (as across file systems)",
                    median(backup), median(replace), median(undo), cp);
        std::printf("  %-34s %8.2fx %8.2fx %8.2fx %8.2fx\n", "  x cp+sync", median(backup) / cp,
                    median(replace) / cp, median(undo) / cp, 1.0);
        std::printf("  %-34s %19s %6.0f ms (%.2fx): the replaced archive freed\n", "", "",
                    median(undoFreed), median(undoFreed) / cp);
    }
    std::printf("  load average after: %s\n", loadAverage().c_str());
    std::error_code ec;
    fs::remove_all(root, ec);
    return 0;
}
