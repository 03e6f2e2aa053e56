// The tests' FUSE file system (tests/fuse/FaultyFs.cpp) over a backing folder, mounted on a
// folder while the object lives: its process is killed (so that every request it never
// answered fails at once) and the folder unmounted at the end, whatever the test found.
#pragma once

#include "support/ScratchFolder.h"

#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace velmoran::testing {

class FuseMount
{
public:
    // Faults as the program takes them: "write:ENOSPC", "readdir:hang:/dead-list", ...
    FuseMount(const fs::path& backing, const fs::path& point, std::vector<std::string> faults = {})
        : m_point(point), m_log(point.string() + ".log")
    {
        fs::create_directories(point);
        fs::create_directories(backing);
        std::vector<std::string> arguments{VELMORAN_FAULTY_FS, backing.string(), point.string()};
        arguments.insert(arguments.end(), faults.begin(), faults.end());
        std::vector<char*> argv;
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        const std::string log = m_log.string();
        struct stat before = {}, st = {};
        ::stat(point.c_str(), &before);
        m_process = ::fork();
        if (m_process == 0) {
            const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(out, 1);
            ::dup2(out, 2);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        // Mounted once the folder lies on another device, unless the program ended first.
        bool ended = false;
        const auto settled = [&] {
            return (::stat(point.c_str(), &st) == 0 && st.st_dev != before.st_dev) ||
                   (ended = ::waitpid(m_process, nullptr, WNOHANG) == m_process);
        };
        m_mounted = QTest::qWaitFor(settled, 20000) && !ended;
        if (ended) {
            m_process = -1;
            m_failure = readFile(log);
        } else if (!m_mounted) {
            m_failure = "the file system did not come up within 20 s";
        }
    }
    ~FuseMount() { end(); }
    FuseMount(const FuseMount&) = delete;
    FuseMount& operator=(const FuseMount&) = delete;

    void end()
    {
        if (m_process > 0) {
            ::kill(m_process, SIGKILL);
            ::waitpid(m_process, nullptr, 0);
            m_process = -1;
        }
        const std::string unmount = "fusermount3 -u -z '" + m_point.string() + "' 2>/dev/null";
        if (std::exchange(m_mounted, false) && std::system(unmount.c_str()) != 0)
            ADD_FAILURE() << "could not unmount " << m_point;
    }
    bool mounted() const { return m_mounted; }
    const std::string& failure() const { return m_failure; }
    // What the file system has told of the faults it met.
    std::string told() const { return readFile(m_log); }
    // Waits until the file system has been asked for a request that it never answers, as
    // "readdir /dead-list"; false when it has not within 20 s.
    bool waitUntilAsked(const std::string& request) const
    {
        return QTest::qWaitFor(
            [&] { return told().find("never answering " + request) != std::string::npos; }, 20000);
    }

private:
    fs::path m_point, m_log;
    pid_t m_process = -1;
    bool m_mounted = false;
    std::string m_failure;
};

} // namespace velmoran::testing
