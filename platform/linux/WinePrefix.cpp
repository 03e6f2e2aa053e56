#include "platform/linux/WinePrefix.h"

#include "core/AsciiText.h"
#include "core/OperationError.h"
#include "core/PathRules.h"

#include <algorithm>
#include <dirent.h>
#include <string_view>
#include <sys/stat.h>
#include <system_error>

namespace fs = std::filesystem;

namespace velmoran {

namespace {

// The entry of `folder` whose name equals `name` without regard to case, if any.
std::optional<std::string> findIgnoringCase(const fs::path& folder, const std::string& name)
{
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return std::nullopt;
    std::optional<std::string> found;
    while (dirent* entry = ::readdir(dir)) {
        if (equalsIgnoreCase(entry->d_name, name)) {
            found = entry->d_name;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

} // namespace

WinePrefix::WinePrefix(fs::path root) : m_root(std::move(root)) {}

WinePrefix WinePrefix::fromEnvironment()
{
    return fromEnvironment(LinuxEnvironment::fromProcess());
}

WinePrefix WinePrefix::fromEnvironment(const LinuxEnvironment& environment)
{
    if (const std::optional<std::string>& env = environment.winePrefix) {
        fs::path root(*env);
        if (root.is_absolute())
            return WinePrefix(root.lexically_normal());
        WinePrefix prefix(root);
        prefix.m_error = "WINEPREFIX is set to \"" + *env +
                         "\", which is not an absolute path; Wine does not accept it";
        return prefix;
    }
    return WinePrefix(environment.home / ".wine");
}

std::vector<WineDrive> WinePrefix::drives() const
{
    std::vector<WineDrive> result;
    if (!m_error.empty())
        return result;
    std::error_code ec;
    if (fs::is_directory(dosDevices(), ec)) {
        for (char letter = 'a'; letter <= 'z'; ++letter) {
            const fs::path link = dosDevices() / std::string{letter, ':'};
            if (!fs::is_symlink(link, ec))
                continue;
            fs::path target = fs::read_symlink(link, ec);
            if (ec)
                continue;
            if (target.is_relative())
                target = (dosDevices() / target).lexically_normal();
            result.push_back({letter, target});
        }
        return result;
    }
    if (fs::is_directory(m_root / "drive_c", ec))
        result.push_back({'c', m_root / "drive_c"});
    result.push_back({'z', fs::path("/")});
    return result;
}

std::optional<fs::path> WinePrefix::driveTarget(char letter) const
{
    if (!isAsciiLetter(letter) || !m_error.empty())
        return std::nullopt;
    letter = asciiLower(letter);
    // One link read, not the whole drive list: every path that is mapped comes here.
    std::error_code ec;
    if (fs::is_directory(dosDevices(), ec)) {
        const fs::path link = dosDevices() / std::string{letter, ':'};
        if (!fs::is_symlink(link, ec))
            return std::nullopt;
        fs::path target = fs::read_symlink(link, ec);
        if (ec)
            return std::nullopt;
        if (target.is_relative())
            target = (dosDevices() / target).lexically_normal();
        return target;
    }
    for (const WineDrive& drive : drives())
        if (drive.letter == letter)
            return drive.target;
    return std::nullopt;
}

fs::path WinePrefix::toUnix(const std::string& windowsPath, const std::string& operation) const
{
    if (!m_error.empty())
        throw OperationError(operation, {windowsPath}, m_error);
    // A Unix path (the program's own folder, the temporary folder) is taken as it is.
    const bool unixPath = !windowsPath.empty() && windowsPath[0] == '/';
    if (!unixPath && driveIndex(windowsPath) < 0)
        throw OperationError(operation, {windowsPath},
                             "the path does not begin with a drive letter");
    const std::optional<fs::path> target =
        unixPath ? std::optional<fs::path>("/") : driveTarget(windowsPath[0]);
    if (!target)
        throw OperationError(operation, {windowsPath},
                             std::string("drive ") + windowsPath.substr(0, 2) +
                                 " is not defined in the Wine prefix " + m_root.string());
    // Most paths name existing files exactly as stored (the drive walk's do): one lstat
    // of the whole path then answers, with no folder read.
    {
        const std::string literal = joinLiterally(target->string(), windowsPath, unixPath ? 1 : 2);
        const bool plain = !literal.empty();
        struct stat st
        {
        };
        if (plain && ::lstat(literal.c_str(), &st) == 0)
            return fs::path(literal);
    }
    fs::path result = *target;
    std::size_t missing = 0; // trailing components of result that exist in no case
    std::size_t pos = unixPath ? 1 : 2;
    while (pos < windowsPath.size()) {
        std::size_t end = windowsPath.find_first_of("\\/", pos);
        if (end == std::string::npos)
            end = windowsPath.size();
        const std::string part = windowsPath.substr(pos, end - pos);
        pos = end + 1;
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (result != *target)
                result = result.parent_path();
            if (missing > 0)
                --missing;
            continue;
        }
        if (missing == 0) {
            std::error_code ec;
            if (fs::symlink_status(result / part, ec).type() != fs::file_type::not_found) {
                result /= part;
                continue;
            }
            if (std::optional<std::string> other = findIgnoringCase(result, part)) {
                result /= *other;
                continue;
            }
        }
        ++missing;
        result /= part;
    }
    return result;
}

std::string WinePrefix::joinLiterally(std::string base, std::string_view windowsPath,
                                      std::size_t from)
{
    std::size_t pos = from;
    while (pos < windowsPath.size()) {
        std::size_t end = windowsPath.find_first_of("\\/", pos);
        if (end == std::string_view::npos)
            end = windowsPath.size();
        const std::string_view part = windowsPath.substr(pos, end - pos);
        pos = end + 1;
        if (part.empty())
            continue;
        if (part == "." || part == "..")
            return std::string();
        if (base.empty() || base.back() != '/')
            base += '/';
        base += part;
    }
    return base;
}

} // namespace velmoran
