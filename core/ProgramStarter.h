#pragma once

#include <string>
#include <vector>

namespace velmoran {

// Starts programs without waiting for them.
class ProgramStarter
{
public:
    virtual ~ProgramStarter() = default;
    // Starts exactly `program` (a Windows path) with the arguments, each passed as one
    // argument, in a normal window that gets the focus, with `workingFolder` as its
    // current folder. Returns once the program has been started; raises an
    // OperationError when it cannot be.
    virtual void startProgram(const std::string& program, const std::vector<std::string>& arguments,
                              const std::string& workingFolder) = 0;
};

// Opens a web address in the desktop's browser through an Internet shortcut file.
class UrlViewer
{
public:
    virtual ~UrlViewer() = default;
    // shortcutFile: the written shortcut (a Windows path); address: the URL it holds.
    // Takes care that the file is deleted once the viewer no longer needs it.
    virtual void openShortcut(const std::string& shortcutFile, const std::string& address) = 0;
};

} // namespace velmoran
