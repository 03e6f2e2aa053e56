#include "platform/linux/LinuxFileSystem.h"

#include "core/OperationError.h"
#include "core/PathRules.h"
#include "platform/linux/Cp1252.h"
#include "platform/linux/DosAttributes.h"
#include "platform/linux/SafeFiles.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <linux/magic.h>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <string_view>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <thread>
#include <unistd.h>
#include <unordered_set>
#include <utility>

namespace fs = std::filesystem;

namespace velmoran {

namespace {

// A pattern split at its last separator: the folder and the last component.
struct SplitPattern
{
    std::string folder;
    std::string last;
};

SplitPattern splitPattern(const std::string& pattern)
{
    const std::size_t slash = pattern.find_last_of("\\/");
    if (slash == std::string::npos) {
        if (pattern.size() >= 2 && pattern[1] == ':')
            return {pattern.substr(0, 2), pattern.substr(2)};
        return {std::string(), pattern};
    }
    return {slash == 0 ? std::string("/") : pattern.substr(0, slash), pattern.substr(slash + 1)};
}

std::string joinPath(const std::string& folder, const char* name)
{
    std::string path = folder;
    if (path.empty() || path.back() != '/')
        path += '/';
    path += name;
    return path;
}

bool isDotOrDotDot(const char* name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Whether a directory entry is a folder; links count as what they lead to, as under Wine.
bool isFolderEntry(unsigned char type, const std::string& fullPath)
{
    if (type == DT_DIR)
        return true;
    if (type != DT_LNK && type != DT_UNKNOWN)
        return false;
    struct stat st
    {
    };
    return ::stat(fullPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Whether an entry passes a find filter; its hidden and system bits are read only here.
bool passesFilter(const char* name, const std::string& fullPath, bool folder, FindFilter filter)
{
    if (isDotOrDotDot(name))
        return filter == FindFilter::Folder;
    if (folder && filter != FindFilter::Folder)
        return false;
    const unsigned attributes = DosAttributes::effective(fullPath.c_str(), name);
    if (attributes & Attribute::System)
        return false;
    if (attributes & Attribute::Hidden)
        return filter == FindFilter::Hidden && !folder;
    return true;
}

// A listing gives its names until the empty text; asking again after that is a failure.
class ListingBase : public Listing
{
public:
    explicit ListingBase(std::string pattern) : m_pattern(std::move(pattern)) {}

    std::string next() final
    {
        if (m_closed)
            throw OperationError("find the next file", {m_pattern},
                                 "the listing has ended; no listing is open");
        std::string name = produce();
        if (name.empty())
            m_closed = true;
        return name;
    }

protected:
    virtual std::string produce() = 0;
    const std::string& pattern() const { return m_pattern; }

private:
    std::string m_pattern;
    bool m_closed = false;
};

// A listing of names read when it started, in listing order.
class FixedListing : public ListingBase
{
public:
    FixedListing(std::string pattern, std::vector<std::string> names)
        : ListingBase(std::move(pattern)), m_names(std::move(names))
    {
    }

private:
    std::string produce() override
    {
        return m_index < m_names.size() ? m_names[m_index++] : std::string();
    }

    std::vector<std::string> m_names;
    std::size_t m_index = 0;
};

// The sort key of a name in NTFS's order, the order in which Windows (and Wine, which
// sorts to imitate it) lists a folder: without regard to case, capitals first (so "_"
// comes after letters), then byte by byte for names that differ only in case.
std::string orderKey(std::string_view name)
{
    std::string key = foldCase(name);
    for (char& c : key)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return key;
}

// Sorts names (and the values that go with them) into listing order; "." and ".." first.
template <typename Value>
void sortForListing(std::vector<std::string>& names, std::vector<Value>* values)
{
    if (names.size() < 2)
        return;
    struct Item
    {
        std::string key;
        std::size_t index;
    };
    std::vector<Item> items;
    items.reserve(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string& name = names[i];
        items.push_back({name == "."    ? std::string()
                         : name == ".." ? std::string(1, '\0')
                                        : orderKey(name),
                         i});
    }
    std::sort(items.begin(), items.end(), [&](const Item& a, const Item& b) {
        if (a.key != b.key)
            return a.key < b.key;
        return names[a.index] < names[b.index];
    });
    std::vector<std::string> sortedNames;
    sortedNames.reserve(names.size());
    std::vector<Value> sortedValues;
    for (const Item& item : items) {
        sortedNames.push_back(std::move(names[item.index]));
        if (values)
            sortedValues.push_back((*values)[item.index]);
    }
    names = std::move(sortedNames);
    if (values)
        *values = std::move(sortedValues);
}

// The names of a folder that match a wildcard pattern and pass a filter, in listing order.
std::vector<std::string> matchingNames(DIR* dir, const std::string& folder,
                                       const std::string& wildcard, FindFilter filter,
                                       const std::string& pattern)
{
    std::vector<std::string> names;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (!entry) {
            if (errno != 0)
                throw OperationError("list the folder", {pattern}, std::strerror(errno));
            break;
        }
        if (!wildcardMatch(wildcard, entry->d_name))
            continue;
        const std::string fullPath = joinPath(folder, entry->d_name);
        const bool isFolder =
            !isDotOrDotDot(entry->d_name) && isFolderEntry(entry->d_type, fullPath);
        if (passesFilter(entry->d_name, fullPath, isFolder, filter))
            names.emplace_back(entry->d_name);
    }
    sortForListing<int>(names, nullptr);
    return names;
}

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

// The folder that holds path (or the path itself) without links, for comparing folders.
fs::path resolvedPath(const fs::path& path)
{
    std::error_code ec;
    fs::path resolved = fs::weakly_canonical(path, ec);
    return ec ? path.lexically_normal() : resolved;
}

bool isInside(const fs::path& inner, const fs::path& outer)
{
    const std::string a = inner.string();
    std::string b = outer.string();
    if (a == b)
        return true;
    if (b.empty() || b.back() != '/')
        b += '/';
    return a.starts_with(b);
}

} // namespace

LinuxFileSystem::LinuxFileSystem(WinePrefix prefix) : m_prefix(std::move(prefix))
{
    for (const fs::path& path :
         {fs::path("/proc"), fs::path("/sys"), fs::path("/dev"), m_prefix.dosDevices()}) {
        Excluded excluded{path.lexically_normal().string(), {}};
        struct stat st
        {
        };
        if (::stat(path.c_str(), &st) == 0)
            excluded.id = {static_cast<std::uint64_t>(st.st_dev),
                           static_cast<std::uint64_t>(st.st_ino)};
        m_excluded.push_back(excluded);
        std::error_code ec;
        const fs::path real = fs::canonical(path, ec);
        if (!ec && real.string() != excluded.path)
            m_excluded.push_back({real.string(), excluded.id});
    }
}

fs::path LinuxFileSystem::unixPath(const std::string& path, const std::string& operation) const
{
    // Names as stored lead straight to the file; others are looked up without regard to case.
    const std::string literal = literalPath(path);
    struct stat st
    {
    };
    if (!literal.empty() && ::lstat(literal.c_str(), &st) == 0)
        return fs::path(literal);
    return m_prefix.toUnix(path, operation);
}

void LinuxFileSystem::copyFile(const std::string& source, const std::string& destination)
{
    const FailureContext context{"copy the file", {source, destination}};
    const fs::path from = unixPath(source, context.operation);
    const fs::path to = unixPath(destination, context.operation);
    SafeFiles::removeStrayTemporaries(to.parent_path());
    SafeFiles::copyFile(from, to, context);
}

bool LinuxFileSystem::moveFile(const std::string& source, const std::string& destination)
{
    const FailureContext context{"move the file", {source, destination}};
    const fs::path from = unixPath(source, context.operation);
    const fs::path to = unixPath(destination, context.operation);
    struct stat sourceStat
    {
    };
    if (::stat(from.c_str(), &sourceStat) != 0)
        raiseErrno(context, errno, "cannot read " + from.string());
    if (S_ISDIR(sourceStat.st_mode))
        raiseFailure(context, from.string() + " is a folder");
    struct stat destinationStat
    {
    };
    if (::stat(to.c_str(), &destinationStat) == 0) {
        if (S_ISDIR(destinationStat.st_mode))
            raiseFailure(context, "a folder of that name exists");
        if (destinationStat.st_dev == sourceStat.st_dev &&
            destinationStat.st_ino == sourceStat.st_ino) {
            // One file: under its own name it stays as it is; another name of it (a hard
            // link) goes, as after a copy and a delete.
            if (resolvedPath(from) == resolvedPath(to))
                return true;
            if (::unlink(from.c_str()) != 0)
                raiseErrno(context, errno, "cannot delete " + from.string());
            SafeFiles::syncFolder(from.parent_path(), context);
            return true;
        }
    }
    SafeFiles::removeStrayTemporaries(to.parent_path());
    if (SafeFiles::renameFreeingLater(from, to) != 0) {
        if (errno == EXDEV)
            return false;
        raiseErrno(context, errno, "cannot rename " + from.string() + " to " + to.string());
    }
    // The new name first: until both folders are on disk, a crash leaves the file under
    // one of its names.
    SafeFiles::syncFolder(to.parent_path(), context);
    if (resolvedPath(from.parent_path()) != resolvedPath(to.parent_path()))
        SafeFiles::syncFolder(from.parent_path(), context);
    return true;
}

void LinuxFileSystem::deleteFiles(const std::string& pattern)
{
    const FailureContext context{"delete the files", {pattern}};
    const SplitPattern split = splitPattern(pattern);
    std::vector<fs::path> victims;
    if (!hasWildcards(split.last)) {
        const fs::path path = unixPath(pattern, context.operation);
        struct stat st
        {
        };
        if (::lstat(path.c_str(), &st) != 0)
            raiseErrno(context, errno, "no file matches");
        struct stat target
        {
        };
        if (::stat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode))
            raiseFailure(context, "no file matches: that name is a folder");
        victims.push_back(path);
    } else {
        const fs::path folder = unixPath(split.folder, context.operation);
        DIR* dir = ::opendir(folder.c_str());
        if (!dir) {
            const int error = errno;
            if (error == ENOENT || error == ENOTDIR)
                raiseFailure(context, "no file matches: the folder does not exist");
            raiseErrno(context, error, "cannot read the folder");
        }
        while (const dirent* entry = ::readdir(dir)) {
            if (isDotOrDotDot(entry->d_name) || !wildcardMatch(split.last, entry->d_name))
                continue;
            const std::string full = joinPath(folder.string(), entry->d_name);
            if (!isFolderEntry(entry->d_type, full))
                victims.emplace_back(full);
        }
        ::closedir(dir);
        if (victims.empty())
            raiseFailure(context, "no file matches");
    }
    for (const fs::path& victim : victims)
        if (SafeFiles::unlinkFreeingLater(victim) != 0)
            raiseErrno(context, errno, "cannot delete " + victim.string());
}

void LinuxFileSystem::makeFolder(const std::string& path)
{
    const FailureContext context{"make the folder", {path}};
    const fs::path folder = unixPath(path, context.operation);
    if (::mkdir(folder.c_str(), 0777) != 0) {
        const int error = errno;
        if (error == EEXIST)
            raiseFailure(context, "it exists already");
        if (error == ENOENT)
            raiseFailure(context, "its parent folder is missing");
        raiseErrno(context, error);
    }
    SafeFiles::syncFolder(folder.parent_path(), context);
}

void LinuxFileSystem::removeFolder(const std::string& path)
{
    const FailureContext context{"remove the folder", {path}};
    const fs::path folder = unixPath(path, context.operation);
    // Copies that a killed run left behind would otherwise keep the folder forever.
    SafeFiles::removeStrayTemporaries(folder);
    if (::rmdir(folder.c_str()) != 0) {
        const int error = errno;
        if (error == ENOENT)
            raiseFailure(context, "the folder does not exist");
        if (error == ENOTEMPTY || error == EEXIST)
            raiseFailure(context, "the folder is not empty");
        if (error == ENOTDIR)
            raiseFailure(context, "it is not a folder");
        raiseErrno(context, error);
    }
}

void LinuxFileSystem::setAttributes(const std::string& path, unsigned value)
{
    const FailureContext context{"set the attributes of", {path}};
    const fs::path file = unixPath(path, context.operation);
    struct stat st
    {
    };
    if (::stat(file.c_str(), &st) != 0)
        raiseErrno(context, errno);
    const std::string name = file.filename().string();
    if (const int error = DosAttributes::write(file.c_str(), name.c_str(), value)) {
        if (error == ENOTSUP || error == EOPNOTSUPP)
            raiseFailure(context, "the file system that holds " + file.string() +
                                      " cannot store the hidden or system attribute: it keeps "
                                      "no user extended attributes (user.DOSATTRIB)");
        raiseErrno(context, error, "cannot store the hidden or system attribute");
    }
    const bool readOnly = (st.st_mode & 0222) == 0;
    const bool wantReadOnly = (value & Attribute::ReadOnly) != 0;
    if (readOnly != wantReadOnly) {
        const mode_t mode =
            wantReadOnly ? (st.st_mode & 07777 & ~0222) : ((st.st_mode & 07777) | S_IWUSR);
        if (::chmod(file.c_str(), mode) != 0)
            raiseErrno(context, errno, "cannot change the read-only attribute");
    }
}

unsigned LinuxFileSystem::fileAttributes(const std::string& path)
{
    const FailureContext context{"read the attributes of", {path}};
    const fs::path file = unixPath(path, context.operation);
    struct stat st
    {
    };
    if (::stat(file.c_str(), &st) != 0)
        raiseErrno(context, errno);
    unsigned attributes = S_ISDIR(st.st_mode) ? Attribute::Directory : Attribute::Archive;
    if ((st.st_mode & 0222) == 0)
        attributes |= Attribute::ReadOnly;
    const std::string name = file.filename().string();
    return attributes | DosAttributes::effective(file.c_str(), name.c_str());
}

std::unique_ptr<Listing> LinuxFileSystem::findFile(const std::string& pattern, FindFilter filter)
{
    const SplitPattern split = splitPattern(pattern);
    const auto nothing = [&] {
        return std::make_unique<FixedListing>(pattern, std::vector<std::string>());
    };
    if (split.last.empty())
        return nothing();
    if (!hasWildcards(split.last)) {
        fs::path file;
        try {
            file = unixPath(pattern, "find the file");
        } catch (const OperationError&) {
            return nothing(); // no such drive: nothing matches
        }
        struct stat st
        {
        };
        const bool exists = ::stat(file.c_str(), &st) == 0 || ::lstat(file.c_str(), &st) == 0;
        const std::string name = file.filename().string();
        if (!exists || name.empty() || !wildcardMatch(split.last, name) ||
            !passesFilter(name.c_str(), file.string(), S_ISDIR(st.st_mode), filter))
            return nothing();
        return std::make_unique<FixedListing>(pattern, std::vector<std::string>{name});
    }
    fs::path folder;
    try {
        folder = unixPath(split.folder.empty() ? std::string(".") : split.folder, "find files");
    } catch (const OperationError&) {
        return nothing();
    }
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) {
        if (errno == ENOENT || errno == ENOTDIR)
            return nothing();
        throw OperationError("list the folder", {pattern}, std::strerror(errno));
    }
    struct Closer
    {
        DIR* dir;
        ~Closer() { ::closedir(dir); }
    } closer{dir};
    return std::make_unique<FixedListing>(
        pattern, matchingNames(dir, folder.string(), split.last, filter, pattern));
}

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

void LinuxFileSystem::writeTextFile(const std::string& path, const std::vector<std::string>& lines)
{
    const FailureContext context{"write the text file", {path}};
    const fs::path file = unixPath(path, context.operation);
    std::string bytes;
    for (const std::string& line : lines) {
        bytes += utf8ToCp1252(line);
        bytes += "\r\n";
    }
    SafeFiles::removeStrayTemporaries(file.parent_path());
    SafeFiles::writeFile(file, bytes, context);
}

bool LinuxFileSystem::sameContents(const std::string& first, const std::string& second)
{
    const FailureContext context{"compare the files", {first, second}};
    const fs::path paths[2] = {unixPath(first, context.operation),
                               unixPath(second, context.operation)};
    Descriptor fds[2];
    struct stat st[2]{};
    for (int i = 0; i < 2; ++i) {
        fds[i].reset(::open(paths[i].c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
        if (fds[i].get() < 0 || ::fstat(fds[i].get(), &st[i]) != 0)
            raiseErrno(context, errno, "cannot open " + paths[i].string());
        if (S_ISDIR(st[i].st_mode))
            raiseFailure(context, paths[i].string() + " is a folder");
        if (!S_ISREG(st[i].st_mode))
            raiseFailure(context, paths[i].string() + " is not a regular file");
    }
    if (st[0].st_dev == st[1].st_dev && st[0].st_ino == st[1].st_ino)
        return true;
    if (st[0].st_size != st[1].st_size)
        return false;
    constexpr std::size_t Chunk = 1u << 20;
    std::vector<char> buffers[2] = {std::vector<char>(Chunk), std::vector<char>(Chunk)};
    for (;;) {
        std::size_t got[2] = {0, 0};
        for (int i = 0; i < 2; ++i) {
            while (got[i] < Chunk) {
                const ssize_t n = ::read(fds[i].get(), buffers[i].data() + got[i], Chunk - got[i]);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0)
                    raiseErrno(context, errno, "cannot read " + paths[i].string());
                if (n == 0)
                    break;
                got[i] += static_cast<std::size_t>(n);
            }
        }
        if (got[0] != got[1] || std::memcmp(buffers[0].data(), buffers[1].data(), got[0]) != 0)
            return false;
        if (got[0] < Chunk)
            return true;
    }
}

bool LinuxFileSystem::isExcluded(const std::string& childPath, const FolderId& id) const
{
    for (const Excluded& excluded : m_excluded)
        if ((id.inode != 0 && id == excluded.id) || childPath == excluded.path)
            return true;
    return false;
}

std::string LinuxFileSystem::literalPath(const std::string& folder) const
{
    char letter = folder.size() >= 2 && folder[1] == ':' ? folder[0] : '\0';
    if (letter >= 'A' && letter <= 'Z')
        letter = static_cast<char>(letter - 'A' + 'a');
    if (letter < 'a' || letter > 'z')
        return std::string();
    std::string path;
    {
        const std::lock_guard<std::mutex> lock(m_driveCacheMutex);
        struct stat st
        {
        };
        const bool haveFolder = ::stat(m_prefix.dosDevices().c_str(), &st) == 0;
        const auto inode = haveFolder ? static_cast<std::uint64_t>(st.st_ino) : 0;
        if (!haveFolder || inode != m_driveCacheInode ||
            st.st_mtim.tv_sec != m_driveCacheTime.tv_sec ||
            st.st_mtim.tv_nsec != m_driveCacheTime.tv_nsec) {
            m_driveKnown.fill(false);
            m_driveCacheInode = inode;
            m_driveCacheTime = haveFolder ? st.st_mtim : timespec{};
        }
        // A change within the last second may not show in the folder's time yet (time
        // stamps are as coarse as the kernel's clock tick): read the link afresh then.
        struct timespec now
        {
        };
        ::clock_gettime(CLOCK_REALTIME, &now);
        const bool settled = haveFolder && now.tv_sec - st.st_mtim.tv_sec >= 2;
        const std::size_t index = static_cast<std::size_t>(letter - 'a');
        if (!m_driveKnown[index] || !settled) {
            const std::optional<fs::path> target = m_prefix.driveTarget(letter);
            m_driveTargets[index] = target ? target->string() : std::string();
            m_driveKnown[index] = settled && target;
        }
        path = m_driveTargets[index];
    }
    if (path.empty())
        return std::string();
    return WinePrefix::joinLiterally(std::move(path), folder, 2);
}

int LinuxFileSystem::openForScan(const std::string& folder, std::string literal,
                                 std::string& path) const
{
    // The walk gives names as they are stored, so the literal path opens at once; only a
    // path that does not (other capitals, "..") goes through the full mapping.
    path = std::move(literal);
    int fd = path.empty() ? -1 : ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 && (path.empty() || errno == ENOENT || errno == ENOTDIR)) {
        path = unixPath(folder, "read the folder").string();
        fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    if (fd < 0 && (errno == ENOENT || errno == ENOTDIR))
        throw FolderGone("read the folder", folder, std::strerror(errno));
    if (fd < 0)
        throw OperationError("read the folder", {folder}, std::strerror(errno));
    return fd;
}

void LinuxFileSystem::scanFolder(const std::string& folder, const std::string& name,
                                 FolderScan& result)
{
    result.clear();
    std::string path;
    const Descriptor fd(openForScan(folder, literalPath(folder), path));
    struct stat folderStat
    {
    };
    if (::fstat(fd.get(), &folderStat) != 0)
        throw OperationError("read the folder", {folder}, std::strerror(errno));
    scanOpenFolder(folder, path, fd.get(),
                   {static_cast<std::uint64_t>(folderStat.st_dev),
                    static_cast<std::uint64_t>(folderStat.st_ino)},
                   name, result);
}

void LinuxFileSystem::scanOpenFolder(const std::string& folder, const std::string& path, int fd,
                                     const FolderId& id, const std::string& name,
                                     FolderScan& result, std::vector<std::string>* linked) const
{
    result.folder = id;
    // One buffer per thread, reused for every folder: one getdents64 call reads a whole
    // ordinary folder.
    thread_local std::vector<char> buffer(256 * 1024);
    std::string child = path;
    if (child.empty() || child.back() != '/')
        child += '/';
    const std::size_t childBase = child.size();

    for (;;) {
        const ssize_t got = ::getdents64(fd, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw OperationError("read the folder", {folder}, std::strerror(errno));
        }
        if (got == 0)
            break;
        for (ssize_t offset = 0; offset < got;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buffer.data() + offset);
            offset += entry->d_reclen;
            const char* entryName = entry->d_name;
            if (isDotOrDotDot(entryName))
                continue;
            const std::size_t length = std::strlen(entryName);
            bool isFolder = entry->d_type == DT_DIR;
            bool isFile = entry->d_type == DT_REG;
            FolderId entryId{id.device, static_cast<std::uint64_t>(entry->d_ino)};
            const bool mayMatch = length == name.size() && equalsIgnoreCase(entryName, name);
            if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
                // Links count as what they lead to; a link that leads nowhere is passed over.
                struct stat st
                {
                };
                if (::fstatat(fd, entryName, &st, 0) != 0)
                    continue;
                isFolder = S_ISDIR(st.st_mode);
                isFile = S_ISREG(st.st_mode);
                entryId = {static_cast<std::uint64_t>(st.st_dev),
                           static_cast<std::uint64_t>(st.st_ino)};
            }
            if (!isFolder && !(isFile && mayMatch))
                continue;
            child.resize(childBase);
            child.append(entryName, length);
            if (isFolder && isExcluded(child, entryId))
                continue;
            if (DosAttributes::effectiveAt(fd, entryName, child.c_str()) &
                (Attribute::Hidden | Attribute::System))
                continue;
            if (isFolder) {
                result.subfolders.emplace_back(entryName, length);
                result.subfolderIds.push_back(entryId);
                if (linked && entry->d_type != DT_DIR)
                    linked->emplace_back(entryName, length);
            } else {
                result.matches.emplace_back(entryName, length);
            }
        }
    }
    sortForListing(result.subfolders, &result.subfolderIds);
    sortForListing<int>(result.matches, nullptr);
}

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
        char letter = folder.size() >= 2 && folder[1] == ':' ? folder[0] : '\0';
        if (letter >= 'A' && letter <= 'Z')
            letter = static_cast<char>(letter - 'A' + 'a');
        if (letter < 'a' || letter > 'z')
            return std::string();
        const std::size_t index = static_cast<std::size_t>(letter - 'a');
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

    // The entries that mount points cover: (device of the folder that holds the entry, the
    // entry's inode). Such a folder's own identity is that of what is mounted on it.
    void readMountPoints()
    {
        std::ifstream mounts("/proc/self/mountinfo");
        std::string line;
        while (std::getline(mounts, line)) {
            // ID PARENT MAJOR:MINOR ROOT MOUNT-POINT ...; blanks and such in names as \ooo.
            std::istringstream fields(line);
            std::string skip, escaped;
            fields >> skip >> skip >> skip >> skip >> escaped;
            std::string point;
            for (std::size_t i = 0; i < escaped.size(); ++i) {
                if (escaped[i] == '\\' && i + 3 < escaped.size() && isOctal(escaped[i + 1]) &&
                    isOctal(escaped[i + 2]) && isOctal(escaped[i + 3])) {
                    point += static_cast<char>(std::stoi(escaped.substr(i + 1, 3), nullptr, 8));
                    i += 3;
                } else {
                    point += escaped[i];
                }
            }
            if (point.size() < 2 || point[0] != '/')
                continue;
            const std::size_t slash = point.find_last_of('/');
            const std::string parent = slash == 0 ? "/" : point.substr(0, slash);
            const std::string entryName = point.substr(slash + 1);
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
