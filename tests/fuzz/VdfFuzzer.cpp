// Any bytes as a Steam text file (Steam or a user writes it): nothing may crash, trip a
// sanitizer or run past the reader's depth and size limits.
#include "platform/linux/VdfText.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

std::size_t depth(const velmoran::VdfNode& node)
{
    std::size_t deepest = 0;
    for (const velmoran::VdfNode& child : node.children)
        if (const std::size_t d = depth(child); d > deepest)
            deepest = d;
    return node.block ? deepest + 1 : 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    velmoran::VdfLimits limits;
    limits.maxDepth = 8;
    limits.maxNodes = 2000;
    std::string error;
    if (const std::optional<velmoran::VdfNode> root = velmoran::parseVdf(text, error, limits)) {
        if (depth(*root) > limits.maxDepth + 1)
            std::abort(); // deeper than the limit allows
        (void)root->valueAt({"libraryfolders", "0", "path"});
    } else if (error.empty()) {
        std::abort(); // a refusal always says why
    }
    return 0;
}
