#include "platform/linux/WinePrefixSearch.h"

#include "core/OperationError.h"
#include "platform/linux/WineRegistry.h"

#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <optional>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace velmoran {

namespace {

// Game files and bottle files are a few kilobytes; anything far larger is not one.
constexpr off_t MaxYamlSize = 1 << 20;

const char* const FlatpakBottles = ".var/app/com.usebottles.bottles/data/bottles";

// The entries of a folder, in name order; nothing when it is missing.
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

bool endsWith(const fs::path& path, std::string_view tail)
{
    return path.filename().string().ends_with(tail);
}

// A YAML file, parsed; nothing (and a note) when it cannot be read or parsed.
std::optional<YAML::Node> loadYaml(const fs::path& file, std::vector<std::string>& passedOver)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    struct stat st
    {
    };
    std::string reason;
    std::string text;
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        reason = std::strerror(errno);
    } else if (!S_ISREG(st.st_mode)) {
        reason = "not a file";
    } else if (st.st_size > MaxYamlSize) {
        reason = "larger than a game manager's file can be";
    } else {
        text.resize(static_cast<std::size_t>(st.st_size));
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = ::read(fd, text.data() + done, text.size() - done);
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
    if (fd >= 0)
        ::close(fd);
    if (!reason.empty()) {
        passedOver.push_back(file.string() + ": could not be read (" + reason + ")");
        return std::nullopt;
    }
    try {
        return YAML::Load(text);
    } catch (const std::exception& e) {
        passedOver.push_back(file.string() + ": not valid YAML (" + e.what() + ")");
    }
    return std::nullopt;
}

// The text at a path of mapping keys, when it is a scalar.
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

// A runner's name as a single folder name, never a way out of the runners folder.
bool plainName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

class Collector
{
public:
    explicit Collector(PrefixSearch& search) : m_search(search) {}

    void add(const fs::path& root, const std::string& origin, std::optional<fs::path> runner)
    {
        for (FoundPrefix& found : m_search.prefixes) {
            if (sameFolder(found.root, root)) {
                if (runner)
                    found.runners.push_back(*runner);
                return;
            }
        }
        fs::path named = root.lexically_normal();
        if (!named.has_filename() && named.has_relative_path())
            named = named.parent_path(); // "/games/d2/" as "/games/d2"
        m_search.prefixes.push_back({named, origin, {}});
        if (runner)
            m_search.prefixes.back().runners.push_back(*runner);
    }

private:
    PrefixSearch& m_search;
};

void searchLutris(const LinuxEnvironment& environment, const fs::path& games, Collector& collector,
                  PrefixSearch& search)
{
    search.searched.push_back("the Lutris game files " + (games / "*.yml").string());
    const fs::path wineRunners = environment.userData() / "lutris" / "runners" / "wine";
    for (const fs::path& file : folderEntries(games, search.passedOver)) {
        if (!endsWith(file, ".yml"))
            continue;
        const std::optional<YAML::Node> document = loadYaml(file, search.passedOver);
        if (!document)
            continue;
        std::optional<std::string> named = scalarAt(*document, {"game", "prefix"});
        if (!named)
            continue; // not a game that runs through Wine
        fs::path prefix;
        if (*named == "~" || named->starts_with("~/"))
            prefix = environment.home / named->substr(std::min<std::size_t>(named->size(), 2));
        else
            prefix = *named;
        const std::string says = file.string() + ": names the prefix " + *named + ", which ";
        std::error_code ec;
        if (!prefix.is_absolute()) {
            search.passedOver.push_back(says + "is not an absolute path");
        } else if (!fs::exists(prefix, ec)) {
            search.passedOver.push_back(says + (fs::is_symlink(prefix, ec)
                                                    ? "is a link that leads nowhere"
                                                    : "does not exist"));
        } else if (!isWinePrefix(prefix)) {
            search.passedOver.push_back(says + "is not a Wine prefix (no system.reg and drive_c)");
        } else {
            std::optional<fs::path> runner;
            const std::optional<std::string> version = scalarAt(*document, {"wine", "version"});
            if (version && plainName(*version))
                runner = wineRunners / *version / "bin" / "wine";
            collector.add(prefix, "Lutris game file " + file.filename().string(), runner);
        }
    }
}

void searchBottles(const fs::path& base, Collector& collector, PrefixSearch& search)
{
    const fs::path bottles = base / "bottles";
    search.searched.push_back("the Bottles bottles " + (bottles / "*").string());
    for (const fs::path& bottle : folderEntries(bottles, search.passedOver)) {
        if (!isWinePrefix(bottle))
            continue;
        std::optional<fs::path> runner;
        std::error_code ec;
        if (fs::exists(bottle / "bottle.yml", ec))
            if (const std::optional<YAML::Node> config =
                    loadYaml(bottle / "bottle.yml", search.passedOver))
                if (const std::optional<std::string> name = scalarAt(*config, {"Runner"});
                    name && plainName(*name) && !name->starts_with("sys-"))
                    runner = base / "runners" / *name / "bin" / "wine";
        collector.add(bottle, "Bottles bottle " + bottle.filename().string(), runner);
    }
}

} // namespace

bool isWinePrefix(const fs::path& folder)
{
    std::error_code ec;
    return fs::is_regular_file(folder / "system.reg", ec) &&
           fs::is_directory(folder / "drive_c", ec);
}

bool sameFolder(const fs::path& first, const fs::path& second)
{
    struct stat a
    {
    };
    struct stat b
    {
    };
    if (::stat(first.c_str(), &a) == 0 && ::stat(second.c_str(), &b) == 0)
        return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
    return first.lexically_normal() == second.lexically_normal();
}

PrefixSearch searchWinePrefixes(const LinuxEnvironment& environment)
{
    PrefixSearch search;
    Collector collector(search);

    const fs::path defaultPrefix = environment.home / ".wine";
    search.searched.push_back(defaultPrefix.string());
    if (isWinePrefix(defaultPrefix))
        collector.add(defaultPrefix, "Wine's default prefix", std::nullopt);

    searchLutris(environment, environment.userData() / "lutris" / "games", collector, search);
    searchLutris(environment, environment.userConfig() / "lutris" / "games", collector, search);

    const fs::path games = environment.home / "Games";
    search.searched.push_back("the folders in " + games.string());
    for (const fs::path& folder : folderEntries(games, search.passedOver))
        if (isWinePrefix(folder))
            collector.add(folder, "a folder in " + games.string(), std::nullopt);

    searchBottles(environment.userData() / "bottles", collector, search);
    searchBottles(environment.home / FlatpakBottles, collector, search);
    return search;
}

ValueSearch findPrefixesHolding(const LinuxEnvironment& environment, const std::string& keyPath,
                                const std::string& valueName)
{
    ValueSearch result{searchWinePrefixes(environment), {}};
    for (const FoundPrefix& prefix : result.search.prefixes) {
        try {
            WineRegistryReader registry{WinePrefix(prefix.root)};
            if (std::optional<std::string> value =
                    registry.readString(RootKey::LocalMachine, keyPath, valueName))
                result.holding.push_back({prefix, std::move(*value)});
        } catch (const OperationError& e) {
            result.search.passedOver.push_back((prefix.root / "system.reg").string() +
                                               ": could not be read (" + e.reason() + ")");
        }
    }
    return result;
}

} // namespace velmoran
