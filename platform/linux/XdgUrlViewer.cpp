#include "platform/linux/XdgUrlViewer.h"

#include "core/OperationError.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/close_range.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace velmoran {

namespace {

constexpr const char* Opener = "xdg-open";

// The first executable file `name` in the folders of PATH.
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
        struct stat st
        {
        };
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

bool isSchemeCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '-' || c == '.';
}

bool isLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

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

// Starts the program with one argument in a session of its own, from a grandchild, so it
// outlives Velmoran and leaves no zombie. Returns 0 once the program runs, else the errno
// of the failed start.
int startDetached(const std::string& program, const std::string& argument)
{
    std::string arg0 = program;
    std::string arg1 = argument;
    char* argv[] = {arg0.data(), arg1.data(), nullptr};

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
        // The opener gets no descriptor of Velmoran's but the standard three, and no input.
        const int devNull = ::open("/dev/null", O_RDONLY);
        if (devNull >= 0) {
            ::dup2(devNull, 0);
            if (devNull != 0)
                ::close(devNull);
        }
        ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
        ::execv(program.c_str(), argv);
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

} // namespace

XdgUrlViewer::XdgUrlViewer(WinePrefix prefix) : m_prefix(std::move(prefix)) {}

std::string XdgUrlViewer::openerAddress(const std::string& address)
{
    // A scheme is letters, digits, "+", "-" and "." after a first letter, then ":". A host
    // name ("example.org:8080") has a dot before the colon, and "localhost:8080" a digit
    // after it: neither names a scheme.
    const std::size_t colon = address.find(':');
    bool hasScheme = colon != std::string::npos && colon > 0 && isLetter(address[0]);
    for (std::size_t i = 0; hasScheme && i < colon; ++i)
        hasScheme = isSchemeCharacter(address[i]) && address[i] != '.';
    if (hasScheme && colon + 1 < address.size() && address[colon + 1] >= '0' &&
        address[colon + 1] <= '9')
        hasScheme = false;
    return hasScheme ? address : "http://" + address;
}

void XdgUrlViewer::openShortcut(const std::string& shortcutFile, const std::string& address)
{
    const std::string operation = "open the web address " + address;
    const std::string file = m_prefix.toUnix(shortcutFile, operation).string();
    const std::string opener = findOnPath(Opener);
    const int error = opener.empty() ? 0 : startDetached(opener, openerAddress(address));

    // The opener works from the address alone and never reads the file: whether it started
    // or not, the file goes now.
    const int removed = ::unlink(file.c_str()) == 0 ? 0 : errno;

    if (opener.empty())
        throw OperationError(operation, {},
                             "xdg-open was not found on PATH. Velmoran opens web addresses "
                             "with the desktop's own opener; install it (on Debian: apt "
                             "install xdg-utils) and try again.");
    if (error != 0)
        throw OperationError(operation, {opener}, std::strerror(error));
    if (removed != 0 && removed != ENOENT)
        throw OperationError("delete the shortcut file", {shortcutFile, file},
                             std::strerror(removed));
}

} // namespace velmoran
