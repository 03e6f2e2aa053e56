// The desktop opener xdg-open belongs to Linux desktops; nothing here on Windows.
#ifndef _WIN32
#include "support/StandInOpener.h"

#include "support/ScratchFolder.h"

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace velmoran::testing {

StandInOpener::StandInOpener(const fs::path& root)
    : m_bin(root / "bin"), m_records(root / "records")
{
    fs::create_directories(m_records);
    writeFile(m_bin / "xdg-open", "#!/bin/sh\n"
                                  "out=\"" +
                                      m_records.string() +
                                      "/$$\"\n"
                                      "{ for a in \"$@\"; do printf 'arg=%s\\n' \"$a\"; done\n"
                                      "  printf 'sid=%s\\n' \"$(cut -d' ' -f6 /proc/$$/stat)\"\n"
                                      "  printf 'stdin=%s\\n' \"$(readlink /proc/$$/fd/0)\"\n"
                                      "} > \"$out.part\" && mv \"$out.part\" \"$out\"\n");
    fs::permissions(m_bin / "xdg-open", fs::perms::owner_all);
    const char* path = std::getenv("PATH");
    m_oldPath = path ? path : "";
    ::setenv("PATH", (m_bin.string() + ":" + m_oldPath).c_str(), 1);
}

StandInOpener::~StandInOpener()
{
    ::setenv("PATH", m_oldPath.c_str(), 1);
}

std::vector<OpenerRun> StandInOpener::waitFor(std::size_t count) const
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::vector<OpenerRun> runs;
    while (true) {
        runs.clear();
        for (const fs::directory_entry& e : fs::directory_iterator(m_records)) {
            if (e.path().extension() == ".part")
                continue;
            OpenerRun run;
            std::istringstream lines(readFile(e.path()));
            for (std::string line; std::getline(lines, line);) {
                if (line.starts_with("arg="))
                    run.arguments.push_back(line.substr(4));
                else if (line.starts_with("sid="))
                    run.session = line.substr(4);
                else if (line.starts_with("stdin="))
                    run.input = line.substr(6);
            }
            runs.push_back(run);
        }
        if (runs.size() >= count || std::chrono::steady_clock::now() > deadline)
            return runs;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace velmoran::testing

#endif
