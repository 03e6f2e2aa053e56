#pragma once

#include <string>

namespace velmoran {

inline constexpr const char* ProgramTitle = "Velmoran";

// The program's message box: modal, warning icon, one OK button, the given title.
// Returns once the user has closed it.
class UserMessages
{
public:
    virtual ~UserMessages() = default;
    virtual void showMessage(const std::string& text, const std::string& title) = 0;
};

} // namespace velmoran
