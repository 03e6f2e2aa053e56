#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace velmoran {

enum class RootKey : std::uint32_t {
    LocalMachine = 0x80000002u,
};

// Reads one string value from the registry (on Linux, the Wine prefix's registry file).
class RegistryReader
{
public:
    virtual ~RegistryReader() = default;
    // The value's text, or nothing when the store, key or value is missing.
    // A store that exists but cannot be read raises an OperationError.
    virtual std::optional<std::string> readString(RootKey root, const std::string& keyPath,
                                                  const std::string& valueName) = 0;
    // Where readString looks for the key, in words for a message to the user.
    virtual std::string describeLocation(RootKey root, const std::string& keyPath,
                                         const std::string& valueName) const = 0;
};

} // namespace velmoran
