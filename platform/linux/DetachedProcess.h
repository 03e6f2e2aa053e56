#pragma once

#include <string>
#include <vector>

namespace velmoran {

// The first executable file `name` in the folders of PATH, or empty text.
std::string findOnPath(const std::string& name);

struct DetachedProgram
{
    std::string program;                // full path of the executable
    std::vector<std::string> arguments; // after argv[0], which is the program
    std::vector<std::string> environment; // "NAME=value"; empty: the process's own
    std::string workingFolder;          // empty: the process's own
};

// Starts the program from a grandchild in a session of its own, so that it outlives
// Velmoran and leaves no zombie; it gets no input and none of Velmoran's descriptors but
// the standard ones. Returns 0 once the program runs, else the errno of the failed start
// (a missing working folder included).
int startDetached(const DetachedProgram& start);

} // namespace velmoran
