#pragma once

#include "core/ProgramStarter.h"
#include "platform/linux/WinePrefix.h"

namespace velmoran {

// Starts Windows programs through `wine` (found on PATH) in the Wine prefix, detached so
// that they outlive Velmoran.
class WineProgramStarter : public ProgramStarter
{
public:
    explicit WineProgramStarter(WinePrefix prefix);

    void startProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const std::string& workingFolder) override;

private:
    WinePrefix m_prefix;
};

} // namespace velmoran
