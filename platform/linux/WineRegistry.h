#pragma once

#include "core/Registry.h"
#include "platform/linux/WinePrefix.h"

#include <optional>
#include <string>
#include <string_view>

namespace velmoran {

// Looks a string value up in the text of a Wine registry file (system.reg), as Wine itself
// reads it. keyPath is relative to the file's root (HKEY_LOCAL_MACHINE for system.reg).
// In a win64 file a key under Software is looked for in the 32-bit view
// (Software\Wow6432Node\...) first, then as given. Nothing when the text is not a Wine
// registry file or holds no such string value; never fails otherwise.
std::optional<std::string> findWineRegistryString(std::string_view fileText,
                                                  std::string_view keyPath,
                                                  std::string_view valueName);

// Unescapes one quoted Wine registry string starting after its opening quote; gives the
// text as UTF-8 and sets `end` past the closing quote, or nothing when it is not closed.
std::optional<std::string> unescapeWineString(std::string_view text, std::size_t& end);

// The registry of a Wine prefix, read whole from its system.reg at every lookup.
class WineRegistryReader : public RegistryReader
{
public:
    explicit WineRegistryReader(WinePrefix prefix);

    std::optional<std::string> readString(RootKey root, const std::string& keyPath,
                                          const std::string& valueName) override;
    std::string describeLocation(RootKey root, const std::string& keyPath,
                                 const std::string& valueName) const override;

private:
    WinePrefix m_prefix;
};

} // namespace velmoran
