#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmoran {

// Attribute flags of a file or folder, with their Windows values.
namespace Attribute {
constexpr unsigned Normal = 0;
constexpr unsigned ReadOnly = 1;
constexpr unsigned Hidden = 2;
constexpr unsigned System = 4;
constexpr unsigned Directory = 16;
constexpr unsigned Archive = 32;
} // namespace Attribute

// Which entries a listing returns.
enum class FindFilter {
    Ordinary, // files that are neither hidden, system nor folders
    Hidden,   // ordinary files and hidden files
    Folder,   // ordinary files, and folders that are neither hidden nor system
};

// One open listing. Every caller holds its own, so listings never disturb each other.
class Listing
{
public:
    virtual ~Listing() = default;
    // The next matching name (the name alone, without its folder), or empty text when the
    // listing is exhausted. Asking again after that raises an OperationError.
    virtual std::string next() = 0;
};

// Identity of a folder on its device, used to never walk the same folder twice.
// Both zero when the platform cannot tell.
struct FolderId
{
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    friend bool operator==(const FolderId&, const FolderId&) = default;
};

// What one read of one folder gives the drive walk.
struct FolderScan
{
    std::vector<std::string> subfolders; // visible subfolders, in listing order, no "." or ".."
    std::vector<FolderId> subfolderIds;  // parallel to subfolders
    std::vector<std::string> matches;    // visible files whose name equals the one sought
    FolderId folder;                     // the folder read itself; zero when not known
    void clear()
    {
        subfolders.clear();
        subfolderIds.clear();
        matches.clear();
        folder = {};
    }
};

// Reads the folders of one drive walk; made once per walk, so that what every read shares
// is worked out once. scan may be called from several threads at once.
class FolderScanner
{
public:
    virtual ~FolderScanner() = default;
    // One read of one folder, as FileSystem::scanFolder. known: the folder's identity as its
    // parent's read gave it (zero for the walk's first folder); a scanner may take it as the
    // folder's own where it is sure that both are the same.
    virtual void scan(const std::string& folder, const FolderId& known, FolderScan& result) = 0;
    // How many bytes the calling thread has read from the disk so far (not from the cache),
    // where the platform can tell; empty where it cannot.
    virtual std::optional<std::uint64_t> diskBytesRead() { return std::nullopt; }
    // Whether the folder whose parent's read gave `known` may be where another file system
    // is mounted: its device is then not known.device.
    virtual bool mayBeMountPoint(const FolderId& /*known*/) { return false; }
    // Whether a read of that folder surely answers: it lies on a local disk's file system,
    // not on a network or FUSE one that may stop answering.
    virtual bool surelyAnswers(const FolderId& /*known*/) { return false; }
};

// The file operations. Every path is a Windows path ("c:\Games\Diablo II\patch_d2.mpq");
// names compare without regard to case. Each operation does what it says or raises an
// OperationError that names the operation, the path(s) and the system's reason.
class FileSystem
{
public:
    virtual ~FileSystem() = default;

    // Copies one file; a file of the destination's name is replaced. Never leaves a
    // truncated destination behind. Copying a file onto itself leaves it untouched.
    virtual void copyFile(const std::string& source, const std::string& destination) = 0;
    // Moves one file within one file system (volume) by an atomic rename, replacing a file of
    // the destination's name, and makes the move durable: at every moment the file lies
    // whole under one of its two names. A file keeps its contents, attributes and times.
    // Returns false, having changed nothing, when source and destination lie on different
    // file systems: the caller then copies. Moving a file onto itself leaves it untouched.
    virtual bool moveFile(const std::string& source, const std::string& destination) = 0;
    // Deletes every file that matches; the last component may hold * and ?.
    // Fails when no file matches.
    virtual void deleteFiles(const std::string& pattern) = 0;
    // Fails when the folder exists already or its parent is missing.
    virtual void makeFolder(const std::string& path) = 0;
    // Fails when the folder is missing or not empty.
    virtual void removeFolder(const std::string& path) = 0;
    // Sets the whole attribute set: Attribute::Normal or Attribute::Hidden.
    virtual void setAttributes(const std::string& path, unsigned value) = 0;
    // The attribute flags of a file or folder.
    virtual unsigned fileAttributes(const std::string& path) = 0;
    // Starts a listing of the names that match the pattern (wildcards * and ? in the last
    // component) under the filter. A missing folder gives an empty listing.
    virtual std::unique_ptr<Listing> findFile(const std::string& pattern, FindFilter filter) = 0;
    // Copies a folder with all it holds, overwriting on: a missing destination is created,
    // an existing one is merged into. Fails when the source folder is missing.
    virtual void copyFolderTree(const std::string& source, const std::string& destination) = 0;
    // Creates or empties the file and writes each line as 8-bit text in the Windows ANSI
    // code page, followed by CR LF.
    virtual void writeTextFile(const std::string& path, const std::vector<std::string>& lines) = 0;
    // True when both files hold the same bytes.
    virtual bool sameContents(const std::string& first, const std::string& second) = 0;

    // One read of one folder for the drive walk (folder ends in "\"). Hidden and system
    // entries are left out, so are folders the platform never walks. Raises an
    // OperationError when the folder cannot be read.
    virtual void scanFolder(const std::string& folder, const std::string& name,
                            FolderScan& result) = 0;
    // A scanner for one drive walk for files named `name`. By default each of its reads is a
    // scanFolder.
    virtual std::unique_ptr<FolderScanner> folderScanner(const std::string& name);
};

// The first name that find file gives, or empty text.
std::string findFirst(FileSystem& files, const std::string& pattern, FindFilter filter);

} // namespace velmoran
