#pragma once

#include "platform/PlatformServices.h"

#include <filesystem>
#include <memory>

namespace velmoran::testing {

// This system's real platform services on a given Wine prefix (WINEPREFIX is set to it),
// with the files, registry, starter or viewer replaceable by a test's own.
class TestPlatform
{
public:
    explicit TestPlatform(const std::filesystem::path& winePrefix);
    Platform& real() { return m_services->platform(); }
    Platform& with(RegistryReader* registry, ProgramStarter* starter = nullptr,
                   FileSystem* files = nullptr);

private:
    std::unique_ptr<PlatformServices> m_services;
    std::unique_ptr<Platform> m_mixed;
};

} // namespace velmoran::testing
