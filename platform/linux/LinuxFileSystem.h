#pragma once

#include "core/FileSystem.h"
#include "platform/linux/WinePrefix.h"

#include <array>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace velmoran {

// Windows file semantics on the files of a Wine prefix: Windows paths map through the
// prefix's drive links and then name by name without regard to case; hidden and system
// are Wine's user.DOSATTRIB extended attribute (or a leading dot); every file that is
// replaced is replaced whole (see SafeFiles). The file operations are in LinuxFileSystem.cpp,
// findFile in LinuxListing.cpp, copyFolderTree in LinuxTreeCopy.cpp, scanFolder in
// LinuxFolderScan.cpp and the walk's folderScanner in LinuxFolderScanner.cpp.
class LinuxFileSystem : public FileSystem
{
public:
    explicit LinuxFileSystem(WinePrefix prefix);

    void copyFile(const std::string& source, const std::string& destination) override;
    bool moveFile(const std::string& source, const std::string& destination) override;
    void deleteFiles(const std::string& pattern) override;
    void makeFolder(const std::string& path) override;
    void removeFolder(const std::string& path) override;
    void setAttributes(const std::string& path, unsigned value) override;
    unsigned fileAttributes(const std::string& path) override;
    std::unique_ptr<Listing> findFile(const std::string& pattern, FindFilter filter) override;
    void copyFolderTree(const std::string& source, const std::string& destination) override;
    void writeTextFile(const std::string& path, const std::vector<std::string>& lines) override;
    bool sameContents(const std::string& first, const std::string& second) override;
    void scanFolder(const std::string& folder, const std::string& name,
                    FolderScan& result) override;
    std::unique_ptr<FolderScanner> folderScanner(const std::string& name) override;

    // The Unix path a Windows path leads to.
    std::filesystem::path unixPath(const std::string& path, const std::string& operation) const;

private:
    friend class LinuxFolderScanner;

    struct Excluded
    {
        std::string path;
        FolderId id;
    };

    bool isExcluded(const std::string& childPath, const FolderId& id) const;
    // The Unix path of a Windows path taken literally (its names as stored) through a cached
    // drive link; empty when the path needs the full mapping.
    std::string literalPath(const std::string& folder) const;
    // Opens a folder for scanFolder by its literal path (empty: none), else through the full
    // mapping; path becomes the Unix path opened.
    int openForScan(const std::string& folder, std::string literal, std::string& path) const;
    // Reads the open folder fd at Unix path `path`; id: its identity, when known. linked, when
    // given, receives the names of the subfolders whose entries are links (or of no type).
    void scanOpenFolder(const std::string& folder, const std::string& path, int fd,
                        const FolderId& id, const std::string& name, FolderScan& result,
                        std::vector<std::string>* linked = nullptr) const;

    WinePrefix m_prefix;
    // Folders the drive walk never enters: the kernel's /proc, /sys and /dev, and the
    // prefix's dosdevices folder (its links lead back into the drives).
    std::vector<Excluded> m_excluded;

    // Drive targets for the drive walk, read again whenever the dosdevices folder changes.
    mutable std::mutex m_driveCacheMutex;
    mutable struct timespec m_driveCacheTime
    {
    };
    mutable std::uint64_t m_driveCacheInode = 0;
    mutable std::array<std::string, 26> m_driveTargets;
    mutable std::array<bool, 26> m_driveKnown{};
};

} // namespace velmoran
