#include "platform/linux/WineProgramStarter.h"

#include "core/OperationError.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace velmoran {

namespace {

// The first executable `name` on PATH.
std::string findOnPath(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::string rest = path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t pos = 0;
    while (pos <= rest.size()) {
        std::size_t end = rest.find(':', pos);
        if (end == std::string::npos)
            end = rest.size();
        std::string folder = rest.substr(pos, end - pos);
        pos = end + 1;
        if (folder.empty())
            folder = ".";
        const std::string candidate = folder + "/" + name;
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

bool writeAll(int fd, const void* data, std::size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

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

    // Everything the child needs is built before fork: after it, only system calls.
    std::vector<std::string> args{wine, program};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "WINEPREFIX=", 11) != 0)
            env.emplace_back(*e);
    env.push_back("WINEPREFIX=" + m_prefix.root().string());
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    // The game is started from a grandchild in a session of its own, so it outlives
    // Velmoran and leaves no zombie. A close-on-exec pipe carries back an exec failure.
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        throw OperationError(operation, {}, std::strerror(errno));
    const pid_t child = ::fork();
    if (child < 0) {
        const int error = errno;
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        throw OperationError(operation, {}, std::strerror(error));
    }
    if (child == 0) {
        ::close(pipeFds[0]);
        const pid_t grandchild = ::fork();
        if (grandchild != 0) {
            int error = errno;
            if (grandchild < 0)
                writeAll(pipeFds[1], &error, sizeof error);
            ::_exit(grandchild < 0 ? 1 : 0);
        }
        ::setsid();
        int error = 0;
        if (::chdir(folder.c_str()) == 0) {
            ::execve(wine.c_str(), argv.data(), envp.data());
        }
        error = errno;
        writeAll(pipeFds[1], &error, sizeof error);
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t got;
    do {
        got = ::read(pipeFds[0], &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    ::close(pipeFds[0]);
    if (got == static_cast<ssize_t>(sizeof error))
        throw OperationError(operation, {wine}, std::strerror(error));
}

} // namespace velmoran
