#include "support/StandInWine.h"

#include "support/ScratchFolder.h"

#include <chrono>
#include <cstdlib>
#include <thread>

namespace fs = std::filesystem;

namespace velmoran::testing {

namespace {

void setVariable(const std::string& name, const std::optional<std::string>& value)
{
#ifdef _WIN32
    ::_putenv_s(name.c_str(), value ? value->c_str() : "");
#else
    if (value)
        ::setenv(name.c_str(), value->c_str(), 1);
    else
        ::unsetenv(name.c_str());
#endif
}

std::optional<std::string> variable(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

} // namespace

ScopedVariable::ScopedVariable(std::string name, const std::optional<std::string>& value)
    : m_name(std::move(name))
    , m_old(variable(m_name.c_str()))
{
    setVariable(m_name, value);
}

ScopedVariable::~ScopedVariable()
{
    setVariable(m_name, m_old);
}

fs::path testHelpersFolder()
{
    if (const std::optional<std::string> named = variable("VELMORAN_TEST_HELPERS"))
        return *named;
    return fs::path(VELMORAN_SOURCE_TESTS) / "helpers";
}

StandInWine::StandInWine(fs::path record)
    : m_record(std::move(record))
    , m_path("PATH", (testHelpersFolder() / "bin").string() + ":" +
                         variable("PATH").value_or("/usr/bin:/bin"))
    , m_recordVariable("VELMORAN_WINE_RECORD", m_record.string())
{
}

bool StandInWine::available() const
{
    return fs::exists(testHelpersFolder() / "bin" / "wine");
}

std::string StandInWine::recorded() const
{
    for (int i = 0; i < 500 && !fs::exists(m_record); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return fs::exists(m_record) ? readFile(m_record) : std::string("(wine was never started)");
}

} // namespace velmoran::testing
