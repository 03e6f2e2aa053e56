#pragma once

#include "core/UserMessages.h"

namespace velmoran {

// The program's message box: modal, warning icon, one OK button.
class QtUserMessages : public UserMessages
{
public:
    void showMessage(const std::string& text, const std::string& title) override;
};

} // namespace velmoran
