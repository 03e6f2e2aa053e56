#include "support/TestPlatform.h"

#include <cstdlib>

namespace velmoran::testing {

TestPlatform::TestPlatform(const std::filesystem::path& winePrefix)
{
#ifdef _WIN32
    ::_putenv_s("WINEPREFIX", winePrefix.string().c_str()); // not read by the Windows layer
#else
    ::setenv("WINEPREFIX", winePrefix.string().c_str(), 1);
#endif
    m_services = createPlatformServices();
}

Platform& TestPlatform::with(RegistryReader* registry, ProgramStarter* starter, FileSystem* files)
{
    Platform& p = real();
    m_mixed.reset(new Platform{files ? *files : p.files, registry ? *registry : p.registry,
                               starter ? *starter : p.starter, p.drives, p.viewer,
                               p.applicationFolder, p.temporaryFolder});
    return *m_mixed;
}

} // namespace velmoran::testing
