#pragma once

#include "core/OperationError.h"

#include <functional>
#include <optional>
#include <string>

namespace velmoran::testing {

// Runs work in a child process that has dropped to user and group 65534 (the tests run as
// root, and root reads every folder whatever its permission bits) and gives what work
// returned, or nothing when the child could not drop its rights.
std::optional<std::string> runAsNobody(const std::function<std::string()>& work);

// The text of the OperationError that the operation raises, or "(no failure)".
template <typename F> std::string failureOf(F&& operation)
{
    try {
        operation();
    } catch (const OperationError& error) {
        return error.what();
    }
    return "(no failure)";
}

} // namespace velmoran::testing
