// The start of a Windows program in the working prefix, through its launcher's recipe.
#include "platform/linux/WineProgramStarter.h"

#include "core/OperationError.h"
#include "platform/linux/DetachedProcess.h"
#include "platform/linux/LaunchRecipe.h"
#include "platform/linux/WinePrefixSearch.h"

#include <cstring>
#include <sys/stat.h>

extern char** environ;

namespace velmoran {

WineProgramStarter::WineProgramStarter(WinePrefix prefix,
                                       std::optional<LinuxEnvironment> environment)
    : m_prefix(std::move(prefix)), m_environment(std::move(environment))
{
}

void WineProgramStarter::startProgram(const std::string& program,
                                      const std::vector<std::string>& arguments,
                                      const std::string& workingFolder)
{
    const std::string operation = "start " + program;
    const LinuxEnvironment environment =
        m_environment ? *m_environment : LinuxEnvironment::fromProcess();
    const std::string folder = m_prefix.toUnix(workingFolder, operation).string();
    struct stat st
    {
    };
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        throw OperationError(operation, {workingFolder},
                             "the game folder " + folder + " does not exist");
    const std::string exe = m_prefix.toUnix(program, operation).string();
    if (::stat(exe.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        throw OperationError(operation, {program}, "the program " + exe + " does not exist");

    const LaunchRecipe recipe =
        launchRecipe(startFor(environment, m_prefix.root()), m_prefix.root(), environment, program,
                     exe, arguments, folder, operation);
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        bool replaced = std::strncmp(*e, "WINEPREFIX=", 11) == 0;
        for (const auto& [name, value] : recipe.environment)
            replaced = replaced || (std::strncmp(*e, name.c_str(), name.size()) == 0 &&
                                    (*e)[name.size()] == '=');
        if (!replaced)
            env.emplace_back(*e);
    }
    for (const auto& [name, value] : recipe.environment)
        if (!value.empty())
            env.push_back(name + "=" + value);
    if (const int error =
            startDetached({recipe.program, recipe.arguments, env, recipe.workingFolder}))
        throw OperationError(operation, {recipe.program}, std::strerror(error));
}

} // namespace velmoran
