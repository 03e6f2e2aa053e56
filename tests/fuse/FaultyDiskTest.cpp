// The file operations on a FUSE disk: the walk finds there what it finds on a local disk,
// and each request that a copy, a move, a delete or a folder operation makes fails in turn,
// as a full or failing disk makes it fail. Every
// failure is told with its cause, and each file is as it was, or as the operation leaves it
// when it is done, never in between (a folder copy keeps what it has copied).
#include "core/GameFolder.h"
#include "core/PatchSearch.h"
#include "core/PatchSwap.h"
#include "platform/linux/LinuxDrives.h"
#include "platform/linux/LinuxFileSystem.h"
#include "platform/linux/WineRegistry.h"
#include "support/FuseMount.h"
#include "support/RandomTree.h"
#include "support/Recorders.h"
#include "support/SampleGame.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <sys/mount.h>
#include <sys/xattr.h>

using namespace velmoran;
using namespace velmoran::testing;
using Texts = std::vector<std::string>;
using Files = std::map<std::string, std::string>;

namespace {

// Equal lengths, so that comparing them reads both.
const std::string Original = "original archive", Modded = "modded archive!!";
const std::string Folder = "<folder>", Gone = "<gone>";

// Every file and folder below the folder, with the files' bytes.
Files contents(const fs::path& folder)
{
    Files found;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const std::string name = fs::relative(entry.path(), folder).string();
        found[name] = entry.is_directory() ? Folder : readFile(entry.path());
    }
    return found;
}

struct Row
{
    Texts faults;
    std::function<bool()> operation;
    Texts causes;  // none: the operation succeeds
    Files changes; // what it changes; none on success: it declines and changes nothing
};

// A scratch folder whose disk/ the tests mount on mnt/, and the file layer of a prefix there.
class FaultyDisk : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!fs::exists("/dev/fuse"))
            GTEST_SKIP() << "there is no /dev/fuse here: a FUSE file system cannot be mounted";
    }

    const ScratchFolder scratch{"velmoran-faulty-disk"};
    const fs::path disk = scratch / "disk", mnt = scratch / "mnt";
    WinePrefix prefix{scratch / "prefix"};
    LinuxFileSystem files{prefix};
};

TEST_F(FaultyDisk, EveryFailedRequestIsToldAndLeavesTheFilesWholeOrDone)
{
    const auto at = [&](const char* name) { return (mnt / name).string(); };
    const auto copy = [&] {
        files.copyFile(at("mods/patch_d2.mpq"), at("game/patch_d2.mpq"));
        return true;
    };
    const auto move = [&] {
        return files.moveFile(at("game/patch_d2.mpq"), at("game/Backup/patch_d2.mpq"));
    };
    const auto copyTree = [&] {
        files.copyFolderTree(at("game/save"), at("game/save_Backup"));
        return true;
    };
    const auto deleteSaves = [&] {
        files.deleteFiles(at("game/save/*.d2s"));
        return true;
    };
    const auto make = [&] {
        files.makeFolder(at("game/new"));
        return true;
    };
    const auto remove = [&] {
        files.removeFolder(at("game/empty"));
        return true;
    };
    const auto writeUrl = [&] {
        files.writeTextFile(at("game/TEMP.URL"), {"[InternetShortcut]"});
        return true;
    };
    const auto registry = [&] {
        return WineRegistryReader(WinePrefix(mnt))
            .readString(RootKey::LocalMachine, GameKeyPath, "InstallPath")
            .has_value();
    };
    const auto list = [&] {
        return !files.findFile(at("game/save/*.d2s"), FindFilter::Ordinary)->next().empty();
    };
    const auto compare = [&] {
        return files.sameContents(at("game/patch_d2.mpq"), at("mods/patch_d2.mpq"));
    };
    const auto attributes = [&](unsigned value, const char* name = "game/patch_d2.mpq") {
        return [this, &at, value, name] {
            files.setAttributes(at(name), value);
            return true;
        };
    };
    const Files replaced{{"game/patch_d2.mpq", Modded}};
    const Files moved{{"game/patch_d2.mpq", Gone}, {"game/Backup/patch_d2.mpq", Original}};
    const std::string eio = std::strerror(EIO), full = std::strerror(ENOSPC),
                      denied = std::strerror(EACCES), refused = std::strerror(EPERM);
    const Row rows[] = {
        {{"create:EIO:/game/"}, copy, {"cannot create a new file in the folder", eio}, {}},
        {{"copy_file_range:EIO"}, copy, {"cannot copy the file's bytes", eio}, {}},
        // Where the kernel cannot copy, the bytes go through the program.
        {{"copy_file_range:EINVAL", "write:ENOSPC"}, copy, {"cannot write the new file", full}, {}},
        {{"copy_file_range:EINVAL", "write:short"}, copy, {}, replaced},
        {{"copy_file_range:EINVAL", "read:EIO:/mods/"}, copy, {"cannot read the source", eio}, {}},
        {{"open:EACCES:/mods/"}, copy, {"cannot open the source", denied}, {}},
        {{"chmod:EPERM"}, copy, {"cannot set the new file's permissions", refused}, {}},
        {{"setxattr:EIO"}, copy, {"cannot set the new file's attributes", eio}, {}},
        {{"setxattr:ENOTSUP", "utimens:EIO"}, copy, {}, replaced}, // lost: a flag and a time
        {{"fsync:EIO"}, copy, {"cannot flush the new file to disk", eio}, {}},
        {{"flush:EIO:/game/"}, copy, {"cannot close the new file", eio}, {}},
        {{"rename:EIO"}, copy, {"cannot put the new file in place of", eio}, {}},
        {{"fsyncdir:EIO"}, copy, {"cannot flush the folder " + at("game"), eio}, replaced},
        {{"rename:EIO"}, move, {"cannot rename " + at("game/patch_d2.mpq"), eio}, {}},
        {{"rename:EXDEV"}, move, {}, {}}, // across file systems: declined, for a copy instead
        {{"fsyncdir:EIO:/Backup"},
         move,
         {"cannot flush the folder " + at("game/Backup"), eio},
         moved},
        {{"mkdir:EIO:/save_Backup"}, copyTree, {"cannot make the folder", eio}, {}},
        {{"opendir:EIO:/game/save"},
         copyTree,
         {"cannot read the folder", eio},
         {{"game/save_Backup", Folder}}},
        {{"readdir:EIO:/game/save"},
         copyTree,
         {"cannot read the folder " + at("game/save"), eio},
         {{"game/save_Backup", Folder}}},
        {{"getattr:EIO:/save_Backup"}, copyTree, {"cannot reach the folder", eio}, {}},
        {{"fsyncdir:EIO:/save_Backup"},
         copyTree,
         {"cannot flush the folder " + at("game/save_Backup"), eio},
         {{"game/save_Backup", Folder},
          {"game/save_Backup/a.d2s", "a"},
          {"game/save_Backup/b.d2s", "b"}}},
        {{"copy_file_range:ENOSPC:/save_Backup/"},
         copyTree,
         {"cannot copy the file's bytes", full},
         {{"game/save_Backup", Folder}}},
        {{"unlink:EIO:/save/a"}, deleteSaves, {"cannot delete " + at("game/save/a.d2s"), eio}, {}},
        {{"opendir:EIO:/save"}, deleteSaves, {"cannot read the folder", eio}, {}},
        {{"mkdir:ENOSPC"}, make, {full}, {}},
        {{"fsyncdir:EIO"},
         make,
         {"cannot flush the folder " + at("game"), eio},
         {{"game/new", Folder}}},
        {{"rmdir:EBUSY"}, remove, {std::strerror(EBUSY)}, {}},
        {{"write:ENOSPC"}, writeUrl, {"cannot write the new file", full}, {}},
        {{"fsyncdir:EIO"},
         writeUrl,
         {"cannot flush the folder " + at("game"), eio},
         {{"game/TEMP.URL", "[InternetShortcut]\r\n"}}},
        {{"read:EIO:/system.reg"}, registry, {"read the Wine registry", eio}, {}},
        {{"setxattr:EIO"},
         attributes(Attribute::Hidden),
         {"cannot store the hidden or system attribute", eio},
         {}},
        {{"removexattr:EIO"},
         attributes(Attribute::Normal, "mods/patch_d2.mpq"),
         {"cannot store the hidden or system attribute", eio},
         {}},
        {{"chmod:EPERM"},
         attributes(Attribute::ReadOnly),
         {"cannot change the read-only attribute", refused},
         {}},
        {{"opendir:EACCES:/game/save"}, list, {"list the folder", denied}, {}},
        {{"readdir:EIO:/game/save"}, list, {"list the folder", eio}, {}},
        {{"read:EIO:/mods/"}, compare, {"cannot read " + at("mods/patch_d2.mpq"), eio}, {}},
        {{"open:EACCES:/mods/"}, compare, {"cannot open " + at("mods/patch_d2.mpq"), denied}, {}},
    };
    for (const Row& row : rows) {
        const std::string faults = ::testing::PrintToString(row.faults);
        fs::remove_all(disk);
        writeFile(disk / "game" / "patch_d2.mpq", Original);
        writeFile(disk / "mods" / "patch_d2.mpq", Modded);
        writeFile(disk / "system.reg", "WINE REGISTRY Version 2\n");
        writeFile(disk / "game" / "save" / "a.d2s", "a");
        writeFile(disk / "game" / "save" / "b.d2s", "b");
        fs::create_directories(disk / "game" / "Backup");
        fs::create_directories(disk / "game" / "empty");
        ::setxattr((disk / "mods" / "patch_d2.mpq").c_str(), "user.DOSATTRIB", "0x2", 3, 0);
        Files expected = contents(disk);
        FuseMount mount(disk, mnt, row.faults);
        if (!mount.mounted())
            GTEST_SKIP() << "a FUSE file system cannot be mounted here: " << mount.failure();
        if (row.causes.empty())
            EXPECT_EQ(row.operation(), !row.changes.empty()) << faults;
        else
            EXPECT_TRUE(failsWith(row.operation, row.causes)) << faults;
        for (const std::string& fault : row.faults) // each planned fault was met
            EXPECT_NE(mount.told().find("failing " + fault.substr(0, fault.find(':'))),
                      std::string::npos)
                << fault << " in " << faults;
        mount.end();
        for (const auto& [name, bytes] : row.changes)
            bytes == Gone ? (void)expected.erase(name) : (void)(expected[name] = bytes);
        EXPECT_EQ(contents(disk), expected) << faults;
    }
}

// The walk over a file system that is not a local disk, whose entries carry no types where
// asked, and whose folders fail to list.
TEST_F(FaultyDisk, TheWalkFindsWhatItFindsOnALocalDiskAndTellsAFolderThatFails)
{
    fs::create_directories(scratch / "prefix" / "dosdevices"); // its drive f: cannot be listed
    fs::create_directory_symlink(mnt / "failing", scratch / "prefix" / "dosdevices" / "f:");
    makeRandomTree(disk, 1, 250, [](const fs::path& hidden) {
        ::setxattr(hidden.c_str(), "user.DOSATTRIB", "0x2", 3, 0);
    });
    fs::create_directories(disk / "failing");
    writeFile(disk / "failing" / "patch_d2.mpq", "");
    std::uint64_t foldersRead = 0;
    const auto walk = [&](const fs::path& root, unsigned readAhead) {
        SearchRecorder seen;
        foldersRead =
            FindFiles(files, root.string(), PatchFileName, seen, nullptr, readAhead).foldersRead;
        for (std::string& entry : seen.entries)
            entry = entry.substr(root.string().size());
        return seen;
    };
    SearchRecorder local = walk(disk, 0);
    const std::uint64_t localFoldersRead = foldersRead;
    std::erase(local.entries, "\\failing\\patch_d2.mpq");
    ASSERT_GT(local.entries.size(), 10u);
    for (const bool typed : {true, false}) {
        FuseMount mount(disk, mnt,
                        typed ? Texts{"readdir:EIO:/failing"}
                              : Texts{"readdir:EIO:/failing", "readdir:untyped"});
        if (!mount.mounted())
            GTEST_SKIP() << "a FUSE file system cannot be mounted here: " << mount.failure();
        EXPECT_TRUE(failsWith([&] { LinuxDrives(prefix).testReadable("f:"); },
                              {(mnt / "failing").string(), std::strerror(EIO)}));
        // A listing knows a folder by its entry's type or, where none is given, by a look.
        EXPECT_EQ(findFirst(files, (mnt / "failin?").string(), FindFilter::Ordinary), "");
        for (const unsigned readAhead : {0u, DefaultReadAhead}) {
            const SearchRecorder seen = walk(mnt, readAhead);
            EXPECT_EQ(seen.entries, local.entries) << typed << " " << readAhead;
            EXPECT_EQ(seen.captions, local.captions) << typed << " " << readAhead;
            EXPECT_EQ(foldersRead + 1, localFoldersRead) << typed << " " << readAhead;
            ASSERT_EQ(seen.passedOver.size(), 1u) << typed << " " << readAhead;
            EXPECT_NE(seen.passedOver[0].find(mnt.string() + "\\failing\\"), std::string::npos)
                << seen.passedOver[0];
            EXPECT_NE(seen.passedOver[0].find(std::strerror(EIO)), std::string::npos)
                << seen.passedOver[0];
        }
    }
}

// A network file system mounted over a local folder, and a file system mounted inside it:
// the walk learns where mounts lie without reading the network one, which may never answer.
TEST_F(FaultyDisk, AMountInsideANetworkMountOverALocalFolderIsNotLookedForThere)
{
    const fs::path stack = scratch / "stack", inner = stack / "in" / "ner";
    fs::create_directories(stack);
    fs::create_directories(disk / "in" / "ner");
    if (::mount("tmpfs", stack.c_str(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "cannot mount a file system: " << std::strerror(errno);
    const std::shared_ptr<void> local(nullptr,
                                      [&](void*) { ::umount2(stack.c_str(), MNT_DETACH); });
    FuseMount network(disk, stack, {"readdir:hang"});
    ASSERT_TRUE(network.mounted()) << network.failure();
    ASSERT_EQ(::mount("tmpfs", inner.c_str(), "tmpfs", 0, "size=1m"), 0) << std::strerror(errno);
    const std::shared_ptr<void> within(nullptr,
                                       [&](void*) { ::umount2(inner.c_str(), MNT_DETACH); });
    writeFile(scratch / "elsewhere" / "patch_d2.mpq", "");
    SearchRecorder seen;
    FindFiles(files, (scratch / "elsewhere").string(), PatchFileName, seen, nullptr, 0);
    EXPECT_EQ(seen.entries.size(), 1u);
    EXPECT_EQ(network.told().find("never answering"), std::string::npos); // never asked to list
}

// Backup and Replace with the game folder on a failing disk: each tells what failed, and the
// game's own archive stays where it was.
TEST_F(FaultyDisk, BackupAndReplaceTellEachFailureAndKeepTheGamesArchive)
{
    const Texts corruptCopy{"rename:EXDEV:/patch_d2.mpq /Backup", "copy_file_range:EINVAL",
                            "write:corrupt"};
    Texts corruptKept = corruptCopy; // ... and the copy cannot be deleted
    corruptKept.push_back("unlink:EIO:/Backup");
    const std::string eio = std::strerror(EIO);
    const std::string installed = "original | no Backup | no save_Backup";
    const struct
    {
        void (*command)(CommandContext&);
        Texts faults, told;
        std::string layout;
    } cases[] = {
        {backupPatch, {"rename:EIO:/Backup"}, {"cannot rename", eio}, installed},
        // Across file systems the archive is copied; a copy that differs never stays.
        {backupPatch, corruptCopy, {"does not hold the same bytes", "copy removed"}, installed},
        {backupPatch, corruptKept, {"Delete the copy before using Undo"}, "original"},
        {replacePatch, {"create:EIO"}, {"cannot create a new file", eio}, installed},
    };
    for (const auto& [command, faults, told, layout] : cases) {
        const ScratchFolder folder("velmoran-faulty-game");
        SampleGame game(folder.path());
        fs::rename(game.game(), folder / "disk"); // the game folder is on the FUSE disk
        FuseMount mount(folder / "disk", game.game(), faults);
        if (!mount.mounted())
            GTEST_SKIP() << "a FUSE file system cannot be mounted here: " << mount.failure();
        game.form.list = {game.mod("Median")};
        game.form.selected = 0;
        CommandContext context{game.platform(), game.form, game.messages};
        EXPECT_TRUE(failsWith([&] { command(context); }, told)) << faults.back();
        EXPECT_EQ(game.layout().substr(0, layout.size()), layout) << faults.back();
        mount.end();
    }
}

} // namespace
