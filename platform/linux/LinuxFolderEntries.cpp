// Folder entries and paths as all of the Linux file layer sees them.
#include "platform/linux/LinuxFolderEntries.h"

#include "core/PathRules.h"

#include <dirent.h>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace velmoran {

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

std::string orderKey(std::string_view name)
{
    return foldCase(name);
}

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

} // namespace velmoran
