#include "core/PathRules.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace velmoran;

namespace {

// Windows' own wildcard rules, as FindFirstFile applies them to one name.
TEST(PathRules, WildcardsMatchAsWindowsMatchesThem)
{
    const std::tuple<const char*, const char*, bool> rows[] = {
        {"*.*", "README", true},
        {"*.MPQ", "Patch_D2.mpq", true},
        {"*.mpq", ".mpq", true},
        {"patch_d2.mpq", "PATCH_D2.MPQ", true},
        {"Caf\xC3\xA9", "CAF\xC3\x89", true},
        {"\xD0\x94\xD0\xB8\xD0\xB0", "\xD0\xB4\xD0\x98\xD0\x90", true},
        {"\xFF\xFE", "\xFF\xFE", true},
        {"\xF0\x90\x80\x80", "\xF0\x90\x80\x80", true},
        {"patch_d2.*", "patch_d2", true},
        {"*.", "README", true},
        {".*", ".profile", true},
        {"?", "\xC3\xA9", true},
        {"p*d2.m?q", "patch_d2.mpq", true},
        {"a??.txt", "a.txt", true},
        {"*a*b*c", "xaybzc", true},
        {"*.mpq", "patch_d2.mpq.bak", false},
        {"patch_d2.mpq", "patch_d2.mpqx", false},
        {"patch_d2.*", "patch_d2x", false},
        {"*.", "a.txt", false},
        {".*", "profile", false},
        {"a??.txt", "abcd.txt", false},
        {"a?b", "a.b", false},
        {"*a*b*c", "xaybzcd", false},
        {"*x", "xxxxxxxxxxxxxxxxxxxxxxxxy", false},
        {"\xC9", "\xE9", false},
        {"", "a", false},
        {"*a*a*a*a*a*a*a*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
         false},
    };
    for (const auto& [pattern, name, matches] : rows) {
        EXPECT_EQ(wildcardMatch(pattern, name), matches) << pattern << " " << name;
        const std::string plain = pattern;
        if (plain.find_first_of("*?") == std::string::npos && !plain.ends_with('.')) {
            EXPECT_EQ(equalsIgnoreCase(pattern, name), matches) << pattern << " " << name;
            EXPECT_EQ(foldCase(name).size(), std::string(name).size()) << name;
        }
    }
}

} // namespace
