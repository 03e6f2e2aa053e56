#include "platform/linux/WineProgramStarter.h"

#include "core/OperationError.h"

#include "platform/linux/DetachedProcess.h"
#include "platform/linux/WinePrefixSearch.h"

#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

extern char** environ;

namespace velmoran {

namespace {

bool isProgram(const std::string& path)
{
    struct stat st
    {
    };
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

} // namespace

std::string chooseWine(const LinuxEnvironment& environment, const WinePrefix& prefix,
                       const std::string& operation)
{
    if (const std::optional<std::string>& named = environment.wine) {
        const std::string wine =
            named->find('/') == std::string::npos ? findOnPath(*named) : *named;
        if (wine.empty() || !isProgram(wine))
            throw OperationError(operation, {*named},
                                 "WINE is set to \"" + *named +
                                     "\", which is no program that can be run. Set it to your "
                                     "Wine program, or unset it to use wine from PATH.");
        return wine;
    }
    for (const FoundPrefix& found : searchWinePrefixes(environment).prefixes) {
        if (!sameFolder(found.root, prefix.root()))
            continue;
        for (const std::filesystem::path& runner : found.runners)
            if (isProgram(runner.string()))
                return runner.string();
    }
    const std::string wine = findOnPath("wine");
    if (wine.empty())
        throw OperationError(operation, {},
                             "wine was not found on PATH. Velmoran starts the game through "
                             "Wine; install it (on Debian: apt install wine) and try again.");
    return wine;
}

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
    const std::string wine = chooseWine(
        m_environment ? *m_environment : LinuxEnvironment::fromProcess(), m_prefix, operation);
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
