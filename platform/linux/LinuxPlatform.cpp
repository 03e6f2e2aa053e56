#include "platform/linux/LinuxPlatform.h"

#include "core/GameFolder.h"
#include "platform/linux/GamePrefixRegistry.h"
#include "platform/linux/LinuxDrives.h"
#include "platform/linux/LinuxFileSystem.h"
#include "platform/linux/WineProgramStarter.h"
#include "platform/linux/XdgUrlViewer.h"

#include <cstdlib>
#include <filesystem>

namespace velmoran {

namespace {

std::string applicationFolder()
{
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::current_path(ec).string() : exe.parent_path().string();
}

std::string temporaryFolder()
{
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = tmp && *tmp == '/' ? tmp : "/tmp";
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

class LinuxPlatformServices : public PlatformServices
{
public:
    LinuxPlatformServices(const LinuxEnvironment& environment, const WinePrefix& prefix)
        : m_files(prefix), m_registry(environment, prefix), m_starter(prefix, environment),
          m_drives(prefix),
          m_viewer(prefix), m_platform{m_files,  m_registry,          m_starter,        m_drives,
                                       m_viewer, applicationFolder(), temporaryFolder()}
    {
    }

    Platform& platform() override { return m_platform; }

private:
    LinuxFileSystem m_files;
    GamePrefixRegistry m_registry;
    WineProgramStarter m_starter;
    LinuxDrives m_drives;
    XdgUrlViewer m_viewer;
    Platform m_platform;
};

} // namespace

std::unique_ptr<PlatformServices> createLinuxPlatformServices(const LinuxEnvironment& environment)
{
    return std::make_unique<LinuxPlatformServices>(
        environment, chooseWorkingPrefix(environment, GameKeyPath, GameValueName));
}

std::unique_ptr<PlatformServices> createPlatformServices()
{
    return createLinuxPlatformServices(LinuxEnvironment::fromProcess());
}

} // namespace velmoran
