// The listing behind the find-file and find-next calls: a folder's names that match a
// wildcard and pass the hidden, system and folder filters, in the order Windows lists them.
#include "platform/linux/LinuxFileSystem.h"

#include "core/OperationError.h"
#include "core/PathRules.h"
#include "platform/linux/DosAttributes.h"
#include "platform/linux/LinuxFolderEntries.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <utility>

namespace fs = std::filesystem;

namespace velmoran {

namespace {

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

} // namespace

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

} // namespace velmoran
