#pragma once

#include "core/ProgramStarter.h"
#include "platform/linux/LinuxEnvironment.h"
#include "platform/linux/WinePrefix.h"

#include <optional>
#include <string>

namespace velmoran {

// The Wine that starts programs in the prefix: $WINE when set (a path, or a name looked up on
// PATH); else the first installed runner that a Lutris game file or a Bottles bottle names
// for that prefix (a runner named but not installed is passed over); else wine on PATH.
// Raises an OperationError naming `operation` when there is none.
std::string chooseWine(const LinuxEnvironment& environment, const WinePrefix& prefix,
                       const std::string& operation);

// Starts Windows programs through Wine (see chooseWine) in the Wine prefix, detached so
// that they outlive Velmoran.
class WineProgramStarter : public ProgramStarter
{
public:
    // Without an environment, the process's own is read at every start.
    explicit WineProgramStarter(WinePrefix prefix,
                                std::optional<LinuxEnvironment> environment = std::nullopt);

    void startProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const std::string& workingFolder) override;

private:
    WinePrefix m_prefix;
    std::optional<LinuxEnvironment> m_environment;
};

} // namespace velmoran
