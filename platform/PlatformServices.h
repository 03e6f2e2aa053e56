#pragma once

#include "core/Platform.h"

#include <memory>

namespace velmoran {

// Owns this operating system's implementations of the core's interfaces.
class PlatformServices
{
public:
    virtual ~PlatformServices() = default;
    virtual Platform& platform() = 0;
};

// Built from the process's environment (on Linux, the Wine prefix).
std::unique_ptr<PlatformServices> createPlatformServices();

} // namespace velmoran
