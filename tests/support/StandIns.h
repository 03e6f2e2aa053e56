#pragma once

#include "support/ScratchFolder.h"

#include <chrono>
#include <cstdlib>
#include <optional>
#include <thread>
#include <vector>

namespace velmoran::testing {

// Sets an environment variable (or removes it, for no value) for the object's lifetime.
class ScopedVariable
{
public:
    ScopedVariable(std::string name, const std::optional<std::string>& value)
        : m_name(std::move(name))
    {
        if (const char* old = std::getenv(m_name.c_str()))
            m_old = old;
        set(value);
    }
    ~ScopedVariable() { set(m_old); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    void set(const std::optional<std::string>& value) const
    {
#ifdef _WIN32
        ::_putenv_s(m_name.c_str(), value ? value->c_str() : "");
#else
        value ? ::setenv(m_name.c_str(), value->c_str(), 1) : ::unsetenv(m_name.c_str());
#endif
    }
    std::string m_name;
    std::optional<std::string> m_old;
};

// Linux only: stand-ins for "wine" and "xdg-open", first on PATH for the object's lifetime;
// each start writes one record whole: "cwd=", "WINEPREFIX=", "sid=", "stdin=", "arg="s.
class StandInPrograms
{
public:
    explicit StandInPrograms(const fs::path& root)
        : m_bin(root / "bin"), m_records(root / "records"),
          m_path("PATH", m_bin.string() + ":" +
                             (std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin"))
    {
        for (const char* program : {"wine", "xdg-open"}) {
            fs::create_directories(m_records / program);
            writeFile(m_bin / program,
                      "#!/bin/sh\nout=\"" + (m_records / program).string() +
                          "/$$\"\n{ printf 'cwd=%s\\nWINEPREFIX=%s\\n' \"$(pwd)\" \"$WINEPREFIX\"\n"
                          "  printf 'sid=%s\\n' \"$(cut -d' ' -f6 /proc/$$/stat)\"\n"
                          "  printf 'stdin=%s\\n' \"$(readlink /proc/$$/fd/0)\"\n"
                          "  for a in \"$@\"; do printf 'arg=%s\\n' \"$a\"; done\n"
                          "} > \"$out.part\" && mv \"$out.part\" \"$out\"\n");
            fs::permissions(m_bin / program, fs::perms::owner_all);
        }
    }
    // The records of at least `count` starts, each as its lines; fewer when 20 s pass first.
    std::vector<std::vector<std::string>> waitFor(const std::string& program,
                                                  std::size_t count) const
    {
        std::vector<std::vector<std::string>> runs;
        for (int waits = 0; waits == 0 || (runs.size() < count && waits < 2000); ++waits) {
            std::this_thread::sleep_for(std::chrono::milliseconds(waits ? 10 : 0));
            runs.clear();
            for (const auto& e : fs::directory_iterator(m_records / program))
                if (e.path().extension() != ".part") {
                    std::istringstream text(readFile(e.path()));
                    runs.emplace_back();
                    for (std::string line; std::getline(text, line);)
                        runs.back().push_back(line);
                }
        }
        return runs;
    }

private:
    fs::path m_bin, m_records;
    ScopedVariable m_path;
};

} // namespace velmoran::testing
