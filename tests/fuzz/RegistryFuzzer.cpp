// Any bytes as a system.reg (another program writes it): nothing may crash or trip a sanitizer.
#include "platform/linux/WineRegistry.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const char* key : {"SOFTWARE\\Blizzard Entertainment\\Diablo II", "Software", "", "\\"})
        (void)velmoran::findWineRegistryString(text, key, "InstallPath");
    std::size_t end = 0;
    (void)velmoran::unescapeWineString(text, end);
    return 0;
}
