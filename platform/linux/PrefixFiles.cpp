// The helpers of the launchers' prefix lookups: listings, size-limited reads, YAML values.
#include "platform/linux/PrefixFiles.h"

#include "platform/linux/SafeFiles.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace velmoran {

namespace {

// Game files and bottle files are a few kilobytes; anything far larger is not one.
constexpr std::size_t MaxYamlSize = 1 << 20;

} // namespace

std::vector<fs::path> folderEntries(const fs::path& folder, std::vector<std::string>& passedOver)
{
    std::vector<fs::path> entries;
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) {
        if (ec != std::errc::no_such_file_or_directory && ec != std::errc::not_a_directory)
            passedOver.push_back(folder.string() + ": could not be read (" + ec.message() + ")");
        return entries;
    }
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec)
            break;
        entries.push_back(it->path());
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

std::optional<std::string> readLauncherFile(const fs::path& file, std::size_t maxSize,
                                            std::vector<std::string>& passedOver, bool noteMissing)
{
    Descriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat st
    {
    };
    std::string reason;
    std::string text;
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0) {
        if (errno == ENOENT && !noteMissing)
            return std::nullopt;
        reason = std::strerror(errno);
    } else if (!S_ISREG(st.st_mode)) {
        reason = "not a file";
    } else if (static_cast<std::size_t>(st.st_size) > maxSize) {
        reason = "larger than a launcher's file of this kind can be (" +
                 std::to_string(maxSize / 1024) + " KiB)";
    } else {
        text.resize(static_cast<std::size_t>(st.st_size));
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = ::read(fd.get(), text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                reason = std::strerror(errno);
            if (n <= 0)
                break;
            done += static_cast<std::size_t>(n);
        }
        text.resize(done);
    }
    if (!reason.empty()) {
        passedOver.push_back(file.string() + ": could not be read (" + reason + ")");
        return std::nullopt;
    }
    return text;
}

std::optional<YAML::Node> loadYaml(const fs::path& file, std::vector<std::string>& passedOver,
                                   bool noteMissing)
{
    const std::optional<std::string> text =
        readLauncherFile(file, MaxYamlSize, passedOver, noteMissing);
    if (!text)
        return std::nullopt;
    try {
        return YAML::Load(*text);
    } catch (const std::exception& e) {
        passedOver.push_back(file.string() + ": not valid YAML (" + e.what() + ")");
    }
    return std::nullopt;
}

std::optional<std::string> scalarAt(const YAML::Node& document,
                                    std::initializer_list<const char*> keys)
{
    try {
        YAML::Node node = document; // rebinding below never changes the document
        for (const char* key : keys) {
            if (!node.IsMap())
                return std::nullopt;
            const YAML::Node& map = node;
            const YAML::Node child = map[key];
            if (!child)
                return std::nullopt;
            node.reset(child);
        }
        if (node.IsScalar() && !node.Scalar().empty())
            return node.Scalar();
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

bool plainName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

fs::path expandHome(const std::string& path, const fs::path& home)
{
    if (path == "~" || path.starts_with("~/"))
        return home / path.substr(std::min<std::size_t>(path.size(), 2));
    return path;
}

void PrefixCollector::add(const fs::path& root, const std::string& origin, PrefixStart start)
{
    // One stat for the new folder; the ones found before keep theirs (a lookup may find many).
    struct stat st
    {
    };
    const bool known = ::stat(root.c_str(), &st) == 0;
    const std::pair<unsigned long, unsigned long> identity =
        known ? std::pair<unsigned long, unsigned long>(st.st_dev, st.st_ino)
              : std::pair<unsigned long, unsigned long>(0, 0);
    for (std::size_t i = 0; i < m_search.prefixes.size(); ++i) {
        FoundPrefix& found = m_search.prefixes[i];
        const bool same = known && m_identities[i].second != 0
                              ? m_identities[i] == identity
                              : found.root.lexically_normal() == root.lexically_normal();
        if (!same)
            continue;
        if (found.start.unknown())
            found.start = std::move(start);
        else if (found.start.through == StartThrough::Wine && start.through == StartThrough::Wine &&
                 found.start.missing.empty())
            found.start.wines.insert(found.start.wines.end(), start.wines.begin(),
                                     start.wines.end());
        return;
    }
    fs::path named = root.lexically_normal();
    if (!named.has_filename() && named.has_relative_path())
        named = named.parent_path(); // "/games/d2/" as "/games/d2"
    m_search.prefixes.push_back({named, origin, std::move(start)});
    m_identities.push_back(identity);
}

} // namespace velmoran
