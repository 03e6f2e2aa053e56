#pragma once

#include "core/ProgramStarter.h"
#include "platform/linux/LinuxEnvironment.h"
#include "platform/linux/WinePrefix.h"

#include <optional>
#include <string>

namespace velmoran {

// Starts Windows programs in the Wine prefix as the launcher that keeps the prefix starts them
// (startFor: its Wine, Proton, umu or Bottles), detached so that they outlive Velmoran, with
// the working folder given. A prefix no launcher names starts through $WINE, else wine on
// PATH; one whose own Wine or Proton is named but missing starts nothing and says so.
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
