#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace velmoran::testing {

// Sets an environment variable (or removes it, for no value) for the object's lifetime.
class ScopedVariable
{
public:
    ScopedVariable(std::string name, const std::optional<std::string>& value);
    ~ScopedVariable();
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_old;
};

// Linux only: stand-ins for "wine" and "xdg-open", first on PATH for the object's lifetime.
// Each start writes one record file, whole or not at all, of lines "cwd=", "WINEPREFIX=",
// "sid=" (its session), "stdin=" (what its standard input is) and one "arg=" per argument.
class StandInPrograms
{
public:
    explicit StandInPrograms(const std::filesystem::path& root);
    // The records of at least `count` starts of the program, each as its lines; waits up to
    // 20 s for detached programs, and gives fewer when they do not come.
    std::vector<std::vector<std::string>> waitFor(const std::string& program,
                                                  std::size_t count) const;
    const std::filesystem::path& bin() const { return m_bin; }

private:
    std::filesystem::path m_bin, m_records;
    ScopedVariable m_path;
};

} // namespace velmoran::testing
