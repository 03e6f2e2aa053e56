#pragma once

#include "core/Registry.h"

namespace velmoran {

// Reads string values from the Windows registry, in its 32-bit view: the game's installer
// is a 32-bit program, so on 64-bit Windows its key lies under Wow6432Node.
class WindowsRegistryReader : public RegistryReader
{
public:
    std::optional<std::string> readString(RootKey root, const std::string& keyPath,
                                          const std::string& valueName) override;
    std::string describeLocation(RootKey root, const std::string& keyPath,
                                 const std::string& valueName) const override;
};

} // namespace velmoran
