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
    ~ScopedVariable() { set(m_old); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    void set(const std::optional<std::string>& value) const;
    std::string m_name;
    std::optional<std::string> m_old;
};

// Linux only: stand-ins for "wine" and "xdg-open", first on PATH for the object's lifetime;
// each start writes one record whole: "cwd=", "WINEPREFIX=", "sid=", "stdin=", "arg="s.
class StandInPrograms
{
public:
    explicit StandInPrograms(const std::filesystem::path& root);
    // The records of at least `count` starts, each as its lines; fewer when 20 s pass first.
    std::vector<std::vector<std::string>> waitFor(const std::string& program,
                                                  std::size_t count) const;
    const std::filesystem::path& bin() const { return m_bin; }

private:
    std::filesystem::path m_bin, m_records;
    ScopedVariable m_path;
};

} // namespace velmoran::testing
