#pragma once

#include <filesystem>
#include <optional>
#include <string>

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

// The tests' helper programs: VELMORAN_TEST_HELPERS, else tests/helpers of the source tree.
std::filesystem::path testHelpersFolder();

// Puts the stand-in wine of tests/helpers/bin first on PATH for the object's lifetime; it
// writes how it was started (working folder, WINEPREFIX, arguments) into `record`.
class StandInWine
{
public:
    explicit StandInWine(std::filesystem::path record);

    bool available() const;
    // What the stand-in recorded, waiting a few seconds for the detached start.
    std::string recorded() const;

private:
    std::filesystem::path m_record;
    ScopedVariable m_path;
    ScopedVariable m_recordVariable;
};

} // namespace velmoran::testing
