// The drive walk's folder scanner: reads the walk's folders from several threads at once,
// opening each within its open parent under a budget of descriptors for all threads, and
// takes a folder's identity from its parent's entry wherever the file system makes that sure.
#include "platform/linux/LinuxFileSystem.h"

#include "core/AsciiText.h"
#include "core/OperationError.h"
#include "platform/linux/SafeFiles.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <linux/magic.h>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string_view>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>
#include <unordered_set>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace velmoran {

// The drive walk's reads: the drive links are read once for the whole walk, and a folder's
// identity is the one its parent's directory entry gave (d_ino), without a stat of its own,
// wherever that is sure to be the same: on file systems whose directory entries carry the
// inode numbers that stat gives, and not where a mount point covers the entry.
class LinuxFolderScanner : public FolderScanner
{
public:
    LinuxFolderScanner(const LinuxFileSystem& files, std::string name)
        : m_files(files), m_name(std::move(name)), m_generation(++s_generations),
          m_keepBudget(keepBudget())
    {
        readMountPoints();
    }

    void scan(const std::string& folder, const FolderId& known, FolderScan& result) override
    {
        result.clear();
        OpenFolders& open = openFolders();
        std::string path;
        Descriptor folderFd(open.openBelowParent(folder, path));
        if (folderFd.get() < 0)
            folderFd.reset(m_files.openForScan(folder, literalPath(folder), path));
        const int fd = folderFd.get();
        if (known == FolderId{})
            noteTheRootsFileSystem(fd);
        FolderId id = known;
        if (known == FolderId{} || m_covered.count(known) != 0 || !entriesCarryInodes(fd, known)) {
            struct stat st
            {
            };
            if (::fstat(fd, &st) != 0)
                throw OperationError("read the folder", {folder}, std::strerror(errno));
            id = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
        }
        std::vector<std::string> linked;
        m_files.scanOpenFolder(folder, path, fd, id, m_name, result, &linked);
        if (!result.subfolders.empty() && open.keep(folder, std::move(path), fd, std::move(linked)))
            folderFd.release();
    }

    bool mayBeMountPoint(const FolderId& known) override { return m_covered.count(known) != 0; }
    bool surelyAnswers(const FolderId& known) override
    {
        return !(known == FolderId{}) && m_covered.count(known) == 0 &&
               m_localDevices.count(known.device) != 0;
    }

    // Counted where the walk's first folder lies on a file system of a block device, whose
    // reads are the thread's own; not on network or FUSE file systems, whose waits are not.
    std::optional<std::uint64_t> diskBytesRead() override
    {
        if (m_rootOffDisk.load(std::memory_order_relaxed))
            return std::nullopt;
        rusage usage{};
        if (::getrusage(RUSAGE_THREAD, &usage) != 0)
            return std::nullopt;
        return static_cast<std::uint64_t>(usage.ru_inblock) * 512;
    }

private:
    // The folders one thread has read whose subfolders it may read next (a thread reads
    // depth first), kept open so that a subfolder opens by its name within the open parent
    // instead of by its whole path again. That opens what the whole path opens: only names
    // of plain folder entries (no links) are opened so, below parents opened by what their
    // own path gave, and a path too long to open is left to the path as well.
    class OpenFolders
    {
    public:
        // kept: how many folders all threads of the walk keep open, at most budget.
        OpenFolders(std::atomic<long>& kept, long budget) : m_kept(kept), m_budget(budget) {}
        OpenFolders(const OpenFolders&) = delete;
        OpenFolders& operator=(const OpenFolders&) = delete;
        ~OpenFolders() { closeAll(); }

        // The folder (ending in "\") opened within its parent, and its Unix path; -1 when
        // its parent is not open here or the name cannot be opened so.
        int openBelowParent(const std::string& folder, std::string& path)
        {
            // Folders that do not hold this one are done with.
            while (!m_open.empty() && !(folder.size() > m_open.back().folder.size() &&
                                        folder.starts_with(m_open.back().folder))) {
                ::close(m_open.back().fd);
                m_open.pop_back();
                m_kept.fetch_sub(1, std::memory_order_relaxed);
            }
            if (m_open.empty() || folder.back() != '\\')
                return -1;
            const Open& parent = m_open.back();
            const std::string_view name(folder.data() + parent.folder.size(),
                                        folder.size() - 1 - parent.folder.size());
            if (name.empty() || name == "." || name == ".." ||
                name.find_first_of("\\/") != std::string_view::npos ||
                std::find(parent.linked.begin(), parent.linked.end(), name) != parent.linked.end())
                return -1;
            path = parent.path;
            if (path.back() != '/')
                path += '/';
            path += name;
            if (path.size() >= PATH_MAX)
                return -1;
            const int fd = ::openat(parent.fd, path.c_str() + (path.size() - name.size()),
                                    O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (fd < 0 && (errno == EMFILE || errno == ENFILE))
                closeAll(); // the descriptors are needed elsewhere
            return fd;
        }

        // Keeps the folder just read open for its subfolders; false when it is not kept.
        bool keep(const std::string& folder, std::string path, int fd,
                  std::vector<std::string> linked)
        {
            if (m_open.size() >= MaxOpen || folder.empty() ||
                (folder.back() != '\\' && folder.back() != '/') || path.empty())
                return false;
            if (m_kept.fetch_add(1, std::memory_order_relaxed) >= m_budget) {
                m_kept.fetch_sub(1, std::memory_order_relaxed);
                return false;
            }
            m_open.push_back({folder, std::move(path), fd, std::move(linked)});
            return true;
        }

    private:
        void closeAll()
        {
            for (const Open& open : m_open)
                ::close(open.fd);
            m_kept.fetch_sub(static_cast<long>(m_open.size()), std::memory_order_relaxed);
            m_open.clear();
        }

        struct Open
        {
            std::string folder; // as the walk names it, ending in a separator
            std::string path;   // the Unix path it was opened by
            int fd;
            std::vector<std::string> linked; // subfolders whose entries are links
        };
        // Deeper folders open by their paths: a walk's threads hold at most this many each.
        static constexpr std::size_t MaxOpen = 32;
        std::vector<Open> m_open;
        std::atomic<long>& m_kept;
        const long m_budget;
    };

    // How many folders the walk's threads may keep open together: a quarter of the
    // process's descriptors, less some, so that the rest of the program never runs short.
    static long keepBudget()
    {
        rlimit limit{};
        if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
            return 0;
        if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > 4096)
            return 1000;
        return std::max(0L, static_cast<long>(limit.rlim_cur) / 4 - 16);
    }

    // The calling thread's open folders for this walk.
    OpenFolders& openFolders()
    {
        thread_local unsigned generation = 0;
        thread_local OpenFolders* folders = nullptr;
        if (generation != m_generation) {
            const std::thread::id self = std::this_thread::get_id();
            const std::lock_guard<std::mutex> lock(m_openMutex);
            auto mine = std::find_if(m_open.begin(), m_open.end(),
                                     [&](const auto& open) { return open.first == self; });
            if (mine == m_open.end())
                mine = m_open.insert(mine,
                                     {self, std::make_unique<OpenFolders>(m_kept, m_keepBudget)});
            folders = mine->second.get();
            generation = m_generation;
        }
        return *folders;
    }

    struct IdHash
    {
        std::size_t operator()(const FolderId& id) const
        {
            return std::hash<std::uint64_t>()(id.inode * 31 + id.device);
        }
    };

    // Drive links resolved once for this walk (each letter the first time it is met).
    std::string literalPath(const std::string& folder)
    {
        const int drive = driveIndex(folder);
        if (drive < 0)
            return std::string();
        const char letter = static_cast<char>('a' + drive);
        const auto index = static_cast<std::size_t>(drive);
        std::call_once(m_driveOnce[index], [&] {
            const std::optional<fs::path> target = m_files.m_prefix.driveTarget(letter);
            m_driveTargets[index] = target ? target->string() : std::string();
        });
        if (m_driveTargets[index].empty())
            return std::string();
        return WinePrefix::joinLiterally(m_driveTargets[index], folder, 2);
    }

    void noteTheRootsFileSystem(int fd)
    {
        struct statfs st
        {
        };
        const bool onDisk =
            ::fstatfs(fd, &st) == 0 &&
            (st.f_type == EXT4_SUPER_MAGIC || st.f_type == XFS_SUPER_MAGIC ||
             st.f_type == BTRFS_SUPER_MAGIC || st.f_type == F2FS_SUPER_MAGIC ||
             st.f_type == MSDOS_SUPER_MAGIC || st.f_type == ISOFS_SUPER_MAGIC ||
             st.f_type == UDF_SUPER_MAGIC || st.f_type == ExfatMagic || st.f_type == Ntfs3Magic);
        m_rootOffDisk.store(!onDisk, std::memory_order_relaxed);
    }

    static bool isOctal(char c) { return c >= '0' && c <= '7'; }

    // The file systems of local disks (and of memory), whose reads answer unless the disk
    // itself fails; network and FUSE file systems may stop answering for good.
    static bool isLocal(const std::string& type)
    {
        static const std::unordered_set<std::string> Local = {
            "ext2",     "ext3",  "ext4",    "xfs",    "btrfs",   "f2fs",    "jfs",
            "reiserfs", "tmpfs", "ramfs",   "vfat",   "msdos",   "exfat",   "ntfs3",
            "iso9660",  "udf",   "overlay", "nilfs2", "hfsplus", "bcachefs"};
        return Local.count(type) != 0;
    }

    static std::string unescaped(const std::string& escaped)
    {
        std::string text;
        for (std::size_t i = 0; i < escaped.size(); ++i) {
            if (escaped[i] == '\\' && i + 3 < escaped.size() && isOctal(escaped[i + 1]) &&
                isOctal(escaped[i + 2]) && isOctal(escaped[i + 3])) {
                text += static_cast<char>(std::stoi(escaped.substr(i + 1, 3), nullptr, 8));
                i += 3;
            } else {
                text += escaped[i];
            }
        }
        return text;
    }

    static bool holds(const std::string& folder, const std::string& path)
    {
        return folder == "/" || path == folder ||
               (path.starts_with(folder) && path.size() > folder.size() &&
                path[folder.size()] == '/');
    }

    // The devices of local file systems, and the entries that mount points cover: (device
    // of the folder that holds the entry, the entry's inode). Such a folder's own identity is
    // that of what is mounted on it. Only folders of local file systems are read for that:
    // one on a network share that stopped answering would never answer.
    void readMountPoints()
    {
        struct Mount
        {
            std::string point;
            bool local;
        };
        std::vector<Mount> mounts;
        std::ifstream table("/proc/self/mountinfo");
        std::string line;
        while (std::getline(table, line)) {
            // ID PARENT MAJOR:MINOR ROOT MOUNT-POINT ... - TYPE ...; blanks in names as \ooo.
            std::istringstream fields(line);
            std::string skip, device, escaped, type;
            fields >> skip >> skip >> device >> skip >> escaped;
            const std::size_t dash = line.find(" - ");
            if (dash != std::string::npos)
                std::istringstream(line.substr(dash + 3)) >> type;
            const std::size_t colon = device.find(':');
            const bool local = isLocal(type);
            if (local && colon != std::string::npos)
                m_localDevices.insert(static_cast<std::uint64_t>(
                    makedev(std::strtoul(device.c_str(), nullptr, 10),
                            std::strtoul(device.c_str() + colon + 1, nullptr, 10))));
            mounts.push_back({unescaped(escaped), local});
        }
        for (const Mount& mount : mounts) {
            const std::string& point = mount.point;
            if (point.size() < 2 || point[0] != '/')
                continue;
            const std::size_t slash = point.find_last_of('/');
            const std::string parent = slash == 0 ? "/" : point.substr(0, slash);
            const std::string entryName = point.substr(slash + 1);
            // The file system that holds the parent: the last one mounted where it lies.
            const Mount* holder = nullptr;
            for (const Mount& other : mounts)
                if (holds(other.point, parent) &&
                    (!holder || other.point.size() >= holder->point.size()))
                    holder = &other;
            if (!holder || !holder->local)
                continue;
            DIR* dir = ::opendir(parent.c_str());
            if (!dir)
                continue;
            struct stat st
            {
            };
            if (::fstat(::dirfd(dir), &st) == 0)
                while (const dirent* entry = ::readdir(dir))
                    if (entryName == entry->d_name)
                        m_covered.insert({static_cast<std::uint64_t>(st.st_dev),
                                          static_cast<std::uint64_t>(entry->d_ino)});
            ::closedir(dir);
        }
    }

    // Whether the directory entries of the folder's file system carry the inode numbers
    // that stat gives: file systems known to, checked once per device on each thread.
    bool entriesCarryInodes(int fd, const FolderId& known)
    {
        thread_local unsigned generation = 0;
        thread_local std::uint64_t device = 0;
        thread_local bool carries = false;
        if (generation != m_generation || device != known.device) {
            struct statfs st
            {
            };
            carries = ::fstatfs(fd, &st) == 0 &&
                      (st.f_type == EXT4_SUPER_MAGIC || st.f_type == TMPFS_MAGIC ||
                       st.f_type == XFS_SUPER_MAGIC);
            generation = m_generation;
            device = known.device;
        }
        return carries;
    }

    const LinuxFileSystem& m_files;
    const std::string m_name;
    const unsigned m_generation;
    std::array<std::once_flag, 26> m_driveOnce;
    std::array<std::string, 26> m_driveTargets;
    std::unordered_set<FolderId, IdHash> m_covered;
    std::unordered_set<std::uint64_t> m_localDevices;
    std::atomic<bool> m_rootOffDisk{false};
    const long m_keepBudget;
    std::atomic<long> m_kept{0};
    std::mutex m_openMutex;
    // Each thread's open folders; after m_kept, so that they are closed while it is there.
    std::vector<std::pair<std::thread::id, std::unique_ptr<OpenFolders>>> m_open;
    static constexpr long ExfatMagic = 0x2011BAB0;
    static constexpr long Ntfs3Magic = 0x7366746E;
    static std::atomic<unsigned> s_generations;
};

std::atomic<unsigned> LinuxFolderScanner::s_generations{0};

std::unique_ptr<FolderScanner> LinuxFileSystem::folderScanner(const std::string& name)
{
    return std::make_unique<LinuxFolderScanner>(*this, name);
}

} // namespace velmoran