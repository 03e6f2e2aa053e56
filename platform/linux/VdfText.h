#pragma once

// Steam's text key-value files (libraryfolders.vdf, config.vdf, compatibilitytool.vdf):
// quoted or bare keys and values, braces, escapes and // comments, read within limits.
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmoran {

// One key with either a text value or child nodes.
struct VdfNode
{
    std::string key;
    std::string value;
    std::vector<VdfNode> children;
    bool block = false; // true: children; false: value

    // The first child of that key, compared without regard to ASCII case (as Steam does).
    const VdfNode* child(std::string_view name) const;
    // The text at a path of child keys, when it is a value.
    std::optional<std::string> valueAt(std::initializer_list<std::string_view> path) const;
};

struct VdfLimits
{
    std::size_t maxDepth = 32;       // nested blocks
    std::size_t maxNodes = 200000;   // keys in the whole file
    std::size_t maxText = 16u << 20; // bytes of the file
};

// Parses a whole file into a root block whose children are the file's top-level keys.
// Gives nothing and a reason, in `error`, for text that is not such a file or exceeds a limit.
std::optional<VdfNode> parseVdf(std::string_view text, std::string& error,
                                const VdfLimits& limits = {});

} // namespace velmoran
