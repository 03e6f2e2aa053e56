#pragma once

#include "platform/PlatformServices.h"
#include "support/StandIns.h"

#include <filesystem>
#include <memory>

namespace velmoran::testing {

// This system's real platform services on a given Wine prefix (WINEPREFIX is set to it while
// the object lives; Windows does not read it), with the files, registry or starter replaceable.
class TestPlatform
{
public:
    explicit TestPlatform(const std::filesystem::path& winePrefix)
        : m_prefix("WINEPREFIX", winePrefix.string()), m_services(createPlatformServices())
    {
    }
    Platform& real() { return m_services->platform(); }
    Platform& with(RegistryReader* registry, ProgramStarter* starter = nullptr,
                   FileSystem* files = nullptr)
    {
        Platform& p = real();
        m_mixed.reset(new Platform{files ? *files : p.files, registry ? *registry : p.registry,
                                   starter ? *starter : p.starter, p.drives, p.viewer,
                                   p.applicationFolder, p.temporaryFolder});
        return *m_mixed;
    }

private:
    ScopedVariable m_prefix;
    std::unique_ptr<PlatformServices> m_services;
    std::unique_ptr<Platform> m_mixed;
};

} // namespace velmoran::testing
