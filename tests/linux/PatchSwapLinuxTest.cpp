// The patch swap on Linux: the hidden attribute as Wine keeps it, and a full file system.

#include "core/OperationError.h"
#include "core/PatchSwap.h"
#include "swap/SwapGame.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace velmoran;
using namespace velmoran::testing;
namespace fs = std::filesystem;

namespace {

// What Wine reads as the file's DOS attributes, or nothing when it carries none.
std::optional<std::string> dosAttrib(const fs::path& file)
{
    char value[64];
    const ssize_t length = ::getxattr(file.c_str(), "user.DOSATTRIB", value, sizeof value);
    if (length < 0)
        return std::nullopt;
    return std::string(value, static_cast<std::size_t>(length));
}

bool writableByOwner(const fs::path& file)
{
    return (fs::status(file).permissions() & fs::perms::owner_write) != fs::perms::none;
}

TEST(PatchSwapOnWine, TheBackupIsHiddenOnlyOnceTheMessageIsClosed)
{
    ScratchFolder scratch("velmoran-swap");
    SwapGame game(scratch.path());
    const fs::path backup = game.game() / "Backup" / "patch_d2.mpq";
    // A read-only archive, as Wine stores read-only: no write permission.
    fs::permissions(game.game() / "patch_d2.mpq",
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);

    struct Watcher : UserMessages
    {
        fs::path file;
        std::vector<std::optional<std::string>> seen;
        void showMessage(const std::string&, const std::string&) override
        {
            seen.push_back(dosAttrib(file));
        }
    } watcher;
    watcher.file = backup;
    CommandContext context{game.platform(), game.form, watcher};
    backupPatch(context);

    ASSERT_EQ(watcher.seen.size(), 1u);
    EXPECT_TRUE(!watcher.seen[0] || *watcher.seen[0] == "0x0")
        << "the backup was hidden while the message showed: " << *watcher.seen[0];
    EXPECT_EQ(dosAttrib(backup), std::optional<std::string>("0x2"));
    EXPECT_TRUE(writableByOwner(backup)) << "the backup kept its read-only attribute";

    // Undo clears the attribute before the copy: the restored archive is a plain file.
    game.undo();
    const fs::path archive = game.game() / "patch_d2.mpq";
    EXPECT_TRUE(!dosAttrib(archive) || *dosAttrib(archive) == "0x0") << *dosAttrib(archive);
    EXPECT_EQ(game.label(archive), "original");
}

// A small tmpfs of our own, filled up to the last few bytes.
class SmallFileSystem
{
public:
    explicit SmallFileSystem(const fs::path& mountPoint) : m_path(mountPoint)
    {
        fs::create_directories(mountPoint);
        if (::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=4m") != 0)
            m_error = std::string("mounting a tmpfs needs CAP_SYS_ADMIN: ") + std::strerror(errno);
        else
            m_mounted = true;
    }
    ~SmallFileSystem()
    {
        if (m_mounted)
            ::umount2(m_path.c_str(), MNT_DETACH);
    }
    const std::string& error() const { return m_error; }

    // Fills the file system, then frees `room` bytes again.
    void fill(std::size_t room)
    {
        const fs::path filler = m_path / "filler";
        const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        ASSERT_GE(fd, 0) << std::strerror(errno);
        const std::string block(4096, 'f');
        while (::write(fd, block.data(), block.size()) > 0) {
        }
        struct stat st
        {
        };
        ::fstat(fd, &st);
        const off_t keep =
            st.st_size > static_cast<off_t>(room) ? st.st_size - static_cast<off_t>(room) : 0;
        ASSERT_EQ(::ftruncate(fd, keep), 0);
        ::close(fd);
    }
    void empty() { fs::remove(m_path / "filler"); }

private:
    fs::path m_path;
    bool m_mounted = false;
    std::string m_error;
};

TEST(PatchSwapOnWine, AFullFileSystemFailsClearlyAndLosesNothing)
{
    constexpr std::size_t BigSave = 256 * 1024;
    struct Case
    {
        const char* name;
        std::function<void(SwapGame&)> prepare; // before the file system is filled
        std::size_t room;                       // bytes left free
        std::function<void(SwapGame&)> run;
        const char* layout; // afterwards
        bool fails = true;  // a move within the file system needs no room
    };
    const std::vector<Case> cases = {
        {"Backup", [](SwapGame&) {}, 0, [](SwapGame& g) { g.backup(); },
         "- | Backup:original hidden | no save_Backup", false},
        {"Backup with saves, room for the archive only", [](SwapGame&) {},
         SamplePrefix::ArchiveSize + 16 * 1024, [](SwapGame& g) { g.backup(CheckValue::Ticked); },
         "- | Backup:original | save_Backup"},
        {"Replace, installed", [](SwapGame&) {}, 0, [](SwapGame& g) { g.replace("Median"); },
         "original | no Backup | no save_Backup"},
        {"Replace, backed up", [](SwapGame& g) { g.backup(); }, 0,
         [](SwapGame& g) { g.replace("Median"); }, "- | Backup:original hidden | no save_Backup"},
        {"Replace over a replaced archive",
         [](SwapGame& g) {
             g.backup();
             g.replace("Median");
         },
         0, [](SwapGame& g) { g.replace("Zy-El"); },
         "Median | Backup:original hidden | no save_Backup"},
        {"Undo",
         [](SwapGame& g) {
             g.backup(CheckValue::Ticked);
             g.replace("Median");
         },
         0, [](SwapGame& g) { g.undo(); }, "original | no Backup | save_Backup"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder scratch("velmoran-full");
        SmallFileSystem small(scratch.path() / "mnt");
        if (!small.error().empty())
            GTEST_SKIP() << small.error();
        SwapGame game(scratch.path() / "mnt");
        const std::string big = standInBytes("Necromancer.d2s", BigSave);
        writeFile(game.game() / "save" / "Necromancer.d2s", big);
        game.saveVersions["Necromancer.d2s"] = {big};
        const auto saves = game.saves();
        c.prepare(game);
        game.messages.shown.clear();

        small.fill(c.room);
        try {
            c.run(game);
            if (c.fails)
                ADD_FAILURE() << "no failure on a full file system";
        } catch (const OperationError& e) {
            EXPECT_TRUE(c.fails) << e.what();
            EXPECT_NE(std::string(e.what()).find(game.prefix.gameFolderWindows()),
                      std::string::npos)
                << e.what();
        }
        EXPECT_EQ(game.messages.shown.empty(), c.fails);
        EXPECT_EQ(game.layout(), c.layout);
        EXPECT_EQ(game.saves(), saves);
        for (const auto& entry : fs::recursive_directory_iterator(game.game()))
            EXPECT_FALSE(entry.path().filename().string().starts_with(".velmoran-copy-"))
                << "a failed copy left " << entry.path();
        for (const auto& [name, bytes] : game.saves("save_Backup/save"))
            EXPECT_EQ(bytes, saves.at(name)) << "save_Backup/save/" << name << " is not whole";

        // With room again, the swap ends where it should: the original archive in place.
        small.empty();
        if (fs::exists(game.game() / "Backup"))
            game.undo();
        EXPECT_EQ(game.label(game.game() / "patch_d2.mpq"), "original");
        EXPECT_EQ(game.saves(), saves);
    }
}

} // namespace
