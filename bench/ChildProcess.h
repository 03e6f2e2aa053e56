#pragma once

// Running the other tools of a benchmark, and dropping the page cache between cold runs.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <grp.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace velmoran::bench {

struct ToolRun
{
    double ms = 0;
    long peakKilobytes = 0;
    std::string out;
    std::string err;
    int exitCode = -1; // -1 when the tool did not exit by itself
    bool ok() const { return exitCode == 0; }
};

// Runs argv (as user 65534 when asNobody), waits for it and collects its output. Exit codes
// 90 and 91 are this function's own: the user could not be changed, the program not started.
inline ToolRun runTool(const std::vector<std::string>& argv, bool asNobody)
{
    int out[2], err[2];
    if (::pipe(out) != 0 || ::pipe(err) != 0) {
        std::perror("pipe");
        std::exit(1);
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        ::close(out[0]);
        ::close(err[0]);
        if (asNobody &&
            (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(90);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(91);
    }
    ::close(out[1]);
    ::close(err[1]);
    ToolRun run;
    char buffer[1 << 16];
    // stderr is small (messages, warnings); read it after stdout.
    for (ssize_t got; (got = ::read(out[0], buffer, sizeof buffer)) > 0;)
        run.out.append(buffer, static_cast<std::size_t>(got));
    for (ssize_t got; (got = ::read(err[0], buffer, sizeof buffer)) > 0;)
        run.err.append(buffer, static_cast<std::size_t>(got));
    ::close(out[0]);
    ::close(err[0]);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    run.ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    run.peakKilobytes = usage.ru_maxrss;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// Empties the page cache (root only); false where it cannot.
inline bool dropCaches()
{
    ::sync();
    const int fd = ::open("/proc/sys/vm/drop_caches", O_WRONLY);
    if (fd < 0)
        return false;
    const bool done = ::write(fd, "3\n", 2) == 2;
    ::close(fd);
    return done;
}

} // namespace velmoran::bench
