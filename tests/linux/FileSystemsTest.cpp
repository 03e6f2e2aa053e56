// Files on more than one file system, and on one that cannot be written: a file is known by
// its device and inode together, and every failure names its cause.
#include "core/PatchSearch.h"
#include "platform/linux/LinuxFileSystem.h"
#include "platform/linux/XdgUrlViewer.h"
#include "support/Recorders.h"
#include "support/ScratchFolder.h"
#include "support/StandIns.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <sys/mount.h>
#include <sys/stat.h>

using namespace velmoran;
using namespace velmoran::testing;
using Texts = std::vector<std::string>;

namespace {

class OnMounts : public ::testing::Test
{
protected:
    // Mounts a small file system of the type (or, given a source, binds it read-only) on a
    // new folder; false where this system does not let the tests mount.
    bool mount(const fs::path& point, const char* type = "tmpfs",
               const fs::path& readOnlySource = {})
    {
        fs::create_directories(point);
        const bool bound = !readOnlySource.empty();
        if (bound ? ::mount(readOnlySource.c_str(), point.c_str(), nullptr, MS_BIND, nullptr)
                  : ::mount(type, point.c_str(), type, 0, "size=1m"))
            return false;
        m_points.push_back(point);
        return !bound || ::mount(nullptr, point.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY,
                                 nullptr) == 0;
    }
    static FolderId identity(const fs::path& path)
    {
        struct stat st
        {
        };
        return ::stat(path.c_str(), &st) == 0 ? FolderId{st.st_dev, st.st_ino} : FolderId{};
    }
    ~OnMounts() override
    {
        for (auto point = m_points.rbegin(); point != m_points.rend(); ++point)
            ::umount2(point->c_str(), MNT_DETACH);
    }

    ScratchFolder scratch{"velmoran-mounts"};
    WinePrefix prefix{scratch / "prefix"};
    LinuxFileSystem files{prefix};

private:
    std::vector<fs::path> m_points;
};

TEST_F(OnMounts, FilesOnTwoFileSystemsWithTheSameInodeNumbersAreTwoFiles)
{
    // Two fresh tmpfs, filled alike, number their files alike; the inner one is mounted on a
    // folder of the outer one, so a walk meets both roots and both archives.
    const fs::path outer = scratch / "outer", inner = outer / "inner";
    if (!mount(outer))
        GTEST_SKIP() << "cannot mount a file system: " << std::strerror(errno);
    fs::create_directory(inner);
    writeFile(outer / "patch_d2.mpq", "outer");
    ASSERT_TRUE(mount(inner));
    fs::create_directory(inner / "inner");
    writeFile(inner / "patch_d2.mpq", "inner");
    const FolderId a = identity(outer / "patch_d2.mpq"), b = identity(inner / "patch_d2.mpq");
    if (a.inode != b.inode || identity(outer).inode != identity(inner).inode)
        GTEST_SKIP() << "this tmpfs numbers its files across mounts";
    ASSERT_NE(a.device, b.device);

    for (const unsigned readAhead : {0u, DefaultReadAhead}) {
        SearchRecorder seen;
        const SearchSummary summary =
            FindFiles(files, outer.string(), PatchFileName, seen, nullptr, readAhead);
        EXPECT_EQ(seen.entries, (Texts{outer.string() + "\\patch_d2.mpq",
                                       outer.string() + "\\inner\\patch_d2.mpq"}))
            << readAhead;
        EXPECT_EQ(seen.passedOver, Texts{}) << readAhead;
        EXPECT_EQ(summary.repeatsSkipped, 0u) << readAhead;
    }

    const std::string first = (outer / "patch_d2.mpq").string();
    const std::string second = (inner / "patch_d2.mpq").string();
    EXPECT_FALSE(files.sameContents(first, second));
    EXPECT_FALSE(files.moveFile(second, first)); // across file systems: declined, both kept
    EXPECT_EQ(readFile(inner / "patch_d2.mpq") + readFile(outer / "patch_d2.mpq"), "innerouter");
    files.copyFile(first, second);
    EXPECT_EQ(readFile(inner / "patch_d2.mpq"), "outer");
    files.copyFolderTree(outer.string(), (scratch / "copy").string()); // no loop in it
    EXPECT_EQ(readFile(scratch / "copy" / "inner" / "patch_d2.mpq"), "outer");
}

TEST_F(OnMounts, EveryFailureNamesItsCause)
{
    const fs::path rw = scratch / "rw", ro = scratch / "ro";
    const auto in = [](const fs::path& folder, const char* name) {
        return (folder / name).string();
    };
    writeFile(rw / "save" / "a.d2s", "a");
    fs::create_directories(rw / "folder");
    fs::create_directories(rw / "Backup");
    ::mkfifo((rw / "pipe").c_str(), 0600);
    writeFile(rw / "archive.mpq", "archive");
    writeFile(rw / "TEMP.URL", "[InternetShortcut]");
    const StandInPrograms programs(scratch / "stand-ins");
    const fs::path brokenOpener = scratch / "broken" / "xdg-open";
    writeFile(brokenOpener, "#!/no/such/shell\n");
    fs::permissions(brokenOpener, fs::perms::owner_all);
    fs::create_hard_link(rw / "archive.mpq", rw / "hard.mpq");
    if (!mount(ro, nullptr, rw))
        GTEST_SKIP() << "cannot bind a folder read-only: " << std::strerror(errno);
    const fs::path plain = scratch / "plain"; // ramfs keeps no user attributes
    ASSERT_TRUE(mount(plain, "ramfs"));
    writeFile(plain / "patch_d2.mpq", "x");
    files.setAttributes(in(plain, "patch_d2.mpq"), 0); // nothing to store: no failure
    const std::string readOnly = std::strerror(EROFS);
    const std::pair<std::function<void()>, Texts> rows[] = {
        {[&] { files.makeFolder(in(rw, "Backup")); }, {"it exists already"}},
        {[&] { files.makeFolder(in(rw, "missing/Backup")); }, {"its parent folder is missing"}},
        {[&] { files.makeFolder(in(ro, "new")); }, {readOnly}},
        {[&] { files.removeFolder(in(ro, "folder")); }, {readOnly}},
        {[&] { files.deleteFiles(in(ro, "save/*.d2s")); }, {"cannot delete", readOnly}},
        {[&] { files.copyFile(in(rw, "archive.mpq"), in(ro, "x.mpq")); }, {readOnly}},
        {[&] { files.makeFolder(in(rw, "archive.mpq/x")); }, {std::strerror(ENOTDIR)}},
        {[&] { files.removeFolder(in(rw, "save")); }, {"the folder is not empty"}},
        {[&] { files.removeFolder(in(rw, "archive.mpq")); }, {"it is not a folder"}},
        {[&] { files.removeFolder(in(rw, "missing")); }, {"the folder does not exist"}},
        {[&] { files.copyFile(in(rw, "folder"), in(rw, "x")); }, {"the source is a folder"}},
        {[&] { files.copyFile(in(rw, "pipe"), in(rw, "x")); }, {"not a regular file"}},
        {[&] { files.copyFile(in(rw, "archive.mpq"), in(rw, "folder")); },
         {"the destination is a folder"}},
        {[&] { files.copyFile(in(rw, "archive.mpq"), in(rw, "archive.mpq/x")); },
         {"cannot reach the destination", std::strerror(ENOTDIR)}},
        {[&] { files.moveFile(in(rw, "folder"), in(rw, "x")); },
         {in(rw, "folder") + " is a folder"}},
        {[&] { files.moveFile(in(rw, "archive.mpq"), in(rw, "save")); },
         {"a folder of that name exists"}},
        {[&] { files.moveFile(in(rw, "none"), in(rw, "x")); },
         {"cannot read " + in(rw, "none"), std::strerror(ENOENT)}},
        {[&] { files.deleteFiles(in(rw, "missing/*.d2s")); }, {"the folder does not exist"}},
        {[&] { files.deleteFiles(in(rw, "archive.mpq/*.d2s")); }, {"the folder does not exist"}},
        {[&] { files.setAttributes(in(ro, "archive.mpq"), Attribute::Hidden); },
         {"cannot store the hidden or system attribute", readOnly}},
        {[&] { files.setAttributes(in(plain, "patch_d2.mpq"), Attribute::Hidden); },
         {"keeps no user extended attributes (user.DOSATTRIB)"}},
        // Another name of the same file goes, and here it cannot.
        {[&] { files.moveFile(in(ro, "hard.mpq"), in(rw, "archive.mpq")); },
         {"cannot delete " + in(ro, "hard.mpq"), readOnly}},
        {[&] { files.sameContents(in(rw, "folder"), in(rw, "archive.mpq")); }, {"is a folder"}},
        {[&] { files.sameContents(in(rw, "archive.mpq"), in(rw, "pipe")); },
         {in(rw, "pipe") + " is not a regular file"}},
        {[&] { files.sameContents(in(rw, "archive.mpq"), in(rw, "none")); },
         {"cannot open " + in(rw, "none"), std::strerror(ENOENT)}},
        {[&] { XdgUrlViewer(prefix).openShortcut(in(ro, "TEMP.URL"), "example.org"); },
         {"delete the shortcut file", readOnly}},
        {[&] {
             const ScopedVariable path("PATH", brokenOpener.parent_path().string());
             XdgUrlViewer(prefix).openShortcut(in(rw, "TEMP.URL"), "example.org");
         },
         {brokenOpener.string(), std::strerror(ENOENT)}}};
    for (const auto& [operation, causes] : rows)
        EXPECT_TRUE(failsWith(operation, causes));
    EXPECT_EQ(readFile(rw / "hard.mpq") + readFile(rw / "save" / "a.d2s"), "archivea");
    EXPECT_TRUE(fs::is_directory(rw / "folder"));
    EXPECT_EQ(programs.waitFor("xdg-open", 1).size(), 1u); // started before the delete failed
}

} // namespace
