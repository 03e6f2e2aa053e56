#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace velmoran::testing {

// What one start of the stand-in opener recorded.
struct OpenerRun
{
    std::vector<std::string> arguments;
    std::string session; // its session id
    std::string input;   // what its standard input is
};

// Linux only. A stand-in xdg-open put first on PATH for the object's lifetime: each start writes
// one record file (its arguments, session and standard input) into a folder, whole or not at all.
class StandInOpener
{
public:
    explicit StandInOpener(const std::filesystem::path& root);
    ~StandInOpener();
    StandInOpener(const StandInOpener&) = delete;
    StandInOpener& operator=(const StandInOpener&) = delete;

    // The folder that holds the stand-in "xdg-open".
    const std::filesystem::path& bin() const { return m_bin; }

    // The records of at least `count` starts, waiting up to 20 s for the detached openers
    // to write them; fewer when they do not come.
    std::vector<OpenerRun> waitFor(std::size_t count) const;

private:
    std::filesystem::path m_bin;
    std::filesystem::path m_records;
    std::string m_oldPath;
};

} // namespace velmoran::testing
