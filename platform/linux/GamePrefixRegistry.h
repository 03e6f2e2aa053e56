#pragma once

#include "core/Registry.h"
#include "platform/linux/LinuxEnvironment.h"
#include "platform/linux/WinePrefix.h"

namespace velmoran {

// The prefix that Velmoran works in for its whole run, chosen when it starts: $WINEPREFIX
// when set; else the one prefix of searchWinePrefixes whose registry holds the value; else
// (none, or several) ~/.wine, whose drives the drive list then shows.
WinePrefix chooseWorkingPrefix(const LinuxEnvironment& environment, const std::string& keyPath,
                               const std::string& valueName);

// The registry of the prefix that holds the game, looked up afresh at every read.
// With $WINEPREFIX set, that prefix's alone (WineRegistryReader). Without it, the registry
// of every prefix that searchWinePrefixes finds: exactly one that holds the value gives it;
// none gives nothing, and describeLocation lists every place looked in; several, or one that
// is not the working prefix (the game moved while Velmoran runs), raise an OperationError
// that names them and says how to choose, so that the command changes nothing.
class GamePrefixRegistry : public RegistryReader
{
public:
    GamePrefixRegistry(LinuxEnvironment environment, WinePrefix working);

    std::optional<std::string> readString(RootKey root, const std::string& keyPath,
                                          const std::string& valueName) override;
    std::string describeLocation(RootKey root, const std::string& keyPath,
                                 const std::string& valueName) const override;

    const WinePrefix& workingPrefix() const { return m_working; }

private:
    LinuxEnvironment m_environment;
    WinePrefix m_working;
};

} // namespace velmoran
