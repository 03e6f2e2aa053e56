// The copy of a whole folder tree (the save folder's backup): each file replaced whole,
// names merged without regard to case, never round a link that leads back up.
#include "platform/linux/LinuxFileSystem.h"

#include "core/OperationError.h"
#include "core/PathRules.h"
#include "platform/linux/DosAttributes.h"
#include "platform/linux/LinuxFolderEntries.h"
#include "platform/linux/SafeFiles.h"

#include <cerrno>
#include <dirent.h>
#include <map>
#include <optional>
#include <sys/stat.h>
#include <utility>

namespace fs = std::filesystem;

namespace velmoran {

namespace {

// The names of a folder's entries (without "." and ".."), by folded name; for merging
// into a folder without regard to case.
std::map<std::string, std::string> namesByFoldedName(const fs::path& folder)
{
    std::map<std::string, std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir))
            if (!isDotOrDotDot(entry->d_name))
                names.emplace(foldCase(entry->d_name), entry->d_name);
        ::closedir(dir);
    }
    return names;
}

struct FolderEntry
{
    std::string name;
    bool folder;
};

std::vector<FolderEntry> readFolder(const fs::path& folder, const FailureContext& context)
{
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        raiseErrno(context, errno, "cannot read the folder " + folder.string());
    std::vector<FolderEntry> entries;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (!entry)
            break;
        if (isDotOrDotDot(entry->d_name) || SafeFiles::isTemporaryName(entry->d_name))
            continue;
        entries.push_back({entry->d_name,
                           isFolderEntry(entry->d_type, joinPath(folder.string(), entry->d_name))});
    }
    const int error = errno;
    ::closedir(dir);
    if (error != 0)
        raiseErrno(context, error, "cannot read the folder " + folder.string());
    return entries;
}

struct TreeCopy
{
    const FailureContext& context;
    std::vector<std::pair<dev_t, ino_t>> ancestors;

    void copy(const fs::path& source, const fs::path& destination)
    {
        struct stat sourceStat
        {
        };
        if (::stat(source.c_str(), &sourceStat) != 0)
            raiseErrno(context, errno, "cannot read the folder " + source.string());
        for (const auto& [device, inode] : ancestors)
            if (device == sourceStat.st_dev && inode == sourceStat.st_ino)
                raiseFailure(context, "the folder " + source.string() +
                                          " leads back to a folder that holds it (a link loop)");
        ancestors.emplace_back(sourceStat.st_dev, sourceStat.st_ino);

        struct stat destinationStat
        {
        };
        if (::stat(destination.c_str(), &destinationStat) == 0) {
            if (!S_ISDIR(destinationStat.st_mode))
                raiseFailure(context, "a file has the name of the folder " + destination.string());
        } else if (errno == ENOENT) {
            // A read-only source folder gives a copy that can still be written into (a
            // Windows folder's read-only flag never keeps files out).
            if (::mkdir(destination.c_str(), (sourceStat.st_mode & 07777) | S_IRWXU) != 0)
                raiseErrno(context, errno, "cannot make the folder " + destination.string());
            if (const std::optional<unsigned> stored = DosAttributes::read(source.c_str()))
                DosAttributes::write(destination.c_str(), "", *stored);
            SafeFiles::syncFolder(destination.parent_path(), context);
        } else {
            raiseErrno(context, errno, "cannot reach the folder " + destination.string());
        }
        SafeFiles::removeStrayTemporaries(destination);

        const std::map<std::string, std::string> existing = namesByFoldedName(destination);
        const auto target = [&](const std::string& name) {
            const auto found = existing.find(foldCase(name));
            return destination / (found == existing.end() ? name : found->second);
        };
        bool wroteFiles = false;
        std::vector<FolderEntry> entries = readFolder(source, context);
        for (const FolderEntry& entry : entries) {
            if (entry.folder)
                continue;
            SafeFiles::copyFile(source / entry.name, target(entry.name), context,
                                SafeFiles::FolderSync::Later);
            wroteFiles = true;
        }
        if (wroteFiles)
            SafeFiles::syncFolder(destination, context);
        for (const FolderEntry& entry : entries)
            if (entry.folder)
                copy(source / entry.name, target(entry.name));
        ancestors.pop_back();
    }
};

} // namespace

void LinuxFileSystem::copyFolderTree(const std::string& source, const std::string& destination)
{
    const FailureContext context{"copy the folder", {source, destination}};
    const fs::path from = unixPath(source, context.operation);
    fs::path to = unixPath(destination, context.operation);
    struct stat st
    {
    };
    if (::stat(from.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        raiseFailure(context, "the source folder does not exist");
    // A destination that ends in a separator is an existing folder to copy the source into.
    if (!destination.empty() && (destination.back() == '\\' || destination.back() == '/')) {
        if (::stat(to.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            raiseFailure(context, "the destination folder does not exist");
        to /= from.filename();
    }
    if (isInside(resolvedPath(to), resolvedPath(from)))
        raiseFailure(context, "the destination lies inside the source folder");
    TreeCopy copy{context, {}};
    copy.copy(from, to);
}

} // namespace velmoran
