#include "platform/linux/WineProgramStarter.h"

#include "core/OperationError.h"

#include "platform/linux/DetachedProcess.h"

#include <cstring>
#include <sys/stat.h>

extern char** environ;

namespace velmoran {

WineProgramStarter::WineProgramStarter(WinePrefix prefix)
    : m_prefix(std::move(prefix))
{
}

void WineProgramStarter::startProgram(const std::string& program,
                                      const std::vector<std::string>& arguments,
                                      const std::string& workingFolder)
{
    const std::string operation = "start " + program;
    const std::string wine = findOnPath("wine");
    if (wine.empty())
        throw OperationError(operation, {},
                             "wine was not found on PATH. Velmoran starts the game through "
                             "Wine; install it (on Debian: apt install wine) and try again.");
    const std::string folder = m_prefix.toUnix(workingFolder, operation).string();
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        throw OperationError(operation, {workingFolder},
                             "the game folder " + folder + " does not exist");
    const std::string exe = m_prefix.toUnix(program, operation).string();
    if (::stat(exe.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        throw OperationError(operation, {program}, "the program " + exe + " does not exist");

    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "WINEPREFIX=", 11) != 0)
            env.emplace_back(*e);
    env.push_back("WINEPREFIX=" + m_prefix.root().string());

    std::vector<std::string> args{program};
    args.insert(args.end(), arguments.begin(), arguments.end());
    if (const int error = startDetached({wine, args, env, folder}))
        throw OperationError(operation, {wine}, std::strerror(error));
}

} // namespace velmoran
