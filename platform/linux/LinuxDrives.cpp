#include "platform/linux/LinuxDrives.h"

#include "core/OperationError.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <system_error>

namespace fs = std::filesystem;

namespace velmoran {

namespace {

bool holds(const std::string& folder, const std::string& path)
{
    if (folder == "/")
        return true;
    return path == folder || (path.starts_with(folder) && path[folder.size()] == '/');
}

} // namespace

LinuxDrives::LinuxDrives(WinePrefix prefix) : m_prefix(std::move(prefix)) {}

std::string LinuxDrives::driveName(const WineDrive& drive)
{
    return std::string{drive.letter, ':'} + " [" + drive.target.string() + "]";
}

std::vector<std::string> LinuxDrives::driveNames()
{
    std::vector<std::string> names;
    for (const WineDrive& drive : m_prefix.drives())
        names.push_back(driveName(drive));
    return names;
}

std::string LinuxDrives::currentDrive()
{
    std::error_code ec;
    const fs::path current = fs::current_path(ec);
    std::string best = "c:";
    std::size_t bestLength = 0;
    bool found = false;
    const std::vector<WineDrive> drives = m_prefix.drives();
    for (const WineDrive& drive : drives) {
        // Compare real folders: the current folder never holds links, a drive's target may.
        fs::path target = fs::canonical(drive.target, ec);
        if (ec)
            continue;
        const std::string folder = target.string();
        if (!ec && holds(folder, current.string()) && (!found || folder.size() > bestLength)) {
            best = driveName(drive);
            bestLength = folder.size();
            found = true;
        }
    }
    if (!found)
        for (const WineDrive& drive : drives)
            if (drive.letter == 'c')
                return driveName(drive);
    return best;
}

void LinuxDrives::testReadable(const std::string& driveName)
{
    const std::string operation = "read the drive";
    if (driveName.size() < 2 || driveName[1] != ':')
        throw OperationError(operation, {driveName}, "that is not a drive name");
    if (!m_prefix.error().empty())
        throw OperationError(operation, {driveName}, m_prefix.error());
    const std::optional<fs::path> target = m_prefix.driveTarget(driveName[0]);
    if (!target)
        throw OperationError(operation, {driveName},
                             "the Wine prefix " + m_prefix.root().string() + " has no drive " +
                                 driveName.substr(0, 2));
    DIR* dir = ::opendir(target->c_str());
    if (!dir)
        throw OperationError(operation, {driveName, target->string()}, std::strerror(errno));
    errno = 0;
    const bool read = ::readdir(dir) != nullptr || errno == 0;
    const int error = errno;
    ::closedir(dir);
    if (!read)
        throw OperationError(operation, {driveName, target->string()}, std::strerror(error));
}

} // namespace velmoran
