#include "platform/linux/DetachedProcess.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <linux/close_range.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace velmoran {

namespace {

void writeAll(int fd, const void* data, std::size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
}

std::vector<char*> pointers(std::vector<std::string>& texts)
{
    std::vector<char*> result;
    for (std::string& text : texts)
        result.push_back(text.data());
    result.push_back(nullptr);
    return result;
}

} // namespace

std::string findOnPath(const std::string& name)
{
    const char* path = std::getenv("PATH");
    const std::string folders = path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t pos = 0;
    while (pos <= folders.size()) {
        std::size_t end = folders.find(':', pos);
        if (end == std::string::npos)
            end = folders.size();
        std::string folder = folders.substr(pos, end - pos);
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

int startDetached(const DetachedProgram& start)
{
    // Everything the child needs is built before fork: after it, only system calls.
    std::vector<std::string> args{start.program};
    args.insert(args.end(), start.arguments.begin(), start.arguments.end());
    std::vector<char*> argv = pointers(args);
    std::vector<std::string> env = start.environment;
    std::vector<char*> envp = pointers(env);
    char** environment = start.environment.empty() ? environ : envp.data();

    // A close-on-exec pipe carries a failed start's errno back.
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return errno;
    const pid_t child = ::fork();
    if (child < 0) {
        const int error = errno;
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return error;
    }
    if (child == 0) {
        ::close(pipeFds[0]);
        const pid_t grandchild = ::fork();
        if (grandchild != 0) {
            const int error = errno;
            if (grandchild < 0)
                writeAll(pipeFds[1], &error, sizeof error);
            ::_exit(grandchild < 0 ? 1 : 0);
        }
        ::setsid();
        const int devNull = ::open("/dev/null", O_RDONLY);
        if (devNull >= 0) {
            ::dup2(devNull, 0);
            if (devNull != 0)
                ::close(devNull);
        }
        ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
        if (start.workingFolder.empty() || ::chdir(start.workingFolder.c_str()) == 0)
            ::execve(start.program.c_str(), argv.data(), environment);
        const int error = errno;
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
    return got == static_cast<ssize_t>(sizeof error) ? error : 0;
}

} // namespace velmoran
