#pragma once

#include "core/ProgramStarter.h"

namespace velmoran {

// Starts exactly the given program through CreateProcessW.
class WindowsProgramStarter : public ProgramStarter
{
public:
    void startProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const std::string& workingFolder) override;
};

// The command line of a program and its arguments, each quoted where it needs it under
// the rules with which Windows programs split their command line.
std::wstring buildCommandLine(const std::wstring& program,
                              const std::vector<std::wstring>& arguments);

} // namespace velmoran
