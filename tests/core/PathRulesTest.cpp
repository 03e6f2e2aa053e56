#include "core/PathRules.h"

#include <gtest/gtest.h>

#include <string>

using namespace velmoran;

namespace {

struct MatchCase
{
    const char* pattern;
    std::string name;
    bool matches;
};

// Windows' own wildcard rules, as FindFirstFile applies them to one name.
const MatchCase WildcardCases[] = {
    // "*.*" and "*" match every name, with or without a dot, leading dots included.
    {"*.*", "patch_d2.mpq", true},
    {"*.*", "README", true},
    {"*.*", ".bashrc", true},
    {"*.*", "a.b.c", true},
    {"*.*", "trailing.", true},
    {"*", "anything at all", true},
    {"*", ".x", true},
    {"**", "x", true},
    // Extensions, without regard to case.
    {"*.mpq", "patch_d2.mpq", true},
    {"*.MPQ", "Patch_D2.mpq", true},
    {"*.mpq", ".mpq", true},
    {"*.mpq", "patch_d2.mpq.bak", false},
    {"*.mpq", "mpq", false},
    {"*.mpq", "patch_d2.mpqx", false},
    {"**.mpq", "x.mpq", true},
    // Exact names.
    {"patch_d2.mpq", "PATCH_D2.MPQ", true},
    {"patch_d2.mpq", "patch_d2.mpqx", false},
    {"patch_d2.mpq", "patch_d2", false},
    {"patch_d2.mpq", "xpatch_d2.mpq", false},
    {"Caf\xC3\xA9", "CAF\xC3\x89", true},
    // "x.*" also matches x without any extension; "x." matches only names without a dot.
    {"patch_d2.*", "patch_d2", true},
    {"patch_d2.*", "patch_d2.mpq", true},
    {"patch_d2.*", "patch_d2x", false},
    {"a*.*", "abc", true},
    {"*.", "README", true},
    {"*.", "a.txt", false},
    {"readme.", "README", true},
    // Leading dots.
    {".*", ".profile", true},
    {".*", "profile", false},
    {".p*", ".profile", true},
    {".p*", "p.rofile", false},
    // "?" is one character (a whole UTF-8 character, not a byte)...
    {"?", "a", true},
    {"?", "ab", false},
    {"?", "\xC3\xA9", true},
    {"a?c", "abc", true},
    {"a?c", "ac", false},
    {"p*d2.m?q", "patch_d2.mpq", true},
    {"?atch_d2.mpq", "Patch_d2.mpq", true},
    // ... that at a dot or at the end of the name matches nothing, as in DOS.
    {"???", "ab", true},
    {"???", "abcd", false},
    {"a??.txt", "a.txt", true},
    {"a??.txt", "abcd.txt", false},
    {"????????.???", "patch_d2.mpq", true},
    {"????????.???", "d2.txt", true},
    {"a?b", "a.b", false},
    // Stars that have to give back characters.
    {"*a*b*c", "xaybzc", true},
    {"*a*b*c", "xaybzcd", false},
    {"*patch*", "MyPatch_D2.MPQ", true},
    {"*.*.*", "a.b.c", true},
    {"*x", "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxy", false},
    {"*a*a*a*a*a*a*a*a*a*a*b", std::string(200, 'a'), false},
    {"", "a", false},
};

TEST(PathRules, WildcardsMatchAsWindowsMatchesThem)
{
    for (const MatchCase& c : WildcardCases)
        EXPECT_EQ(wildcardMatch(c.pattern, c.name), c.matches)
            << "pattern \"" << c.pattern << "\", name \"" << c.name << "\"";
}

TEST(PathRules, CaseFoldingKeepsLengthAndOtherBytes)
{
    struct Case
    {
        std::string a;
        std::string b;
        bool equal;
    };
    const Case cases[] = {
        {"PATCH_D2.MPQ", "patch_d2.mpq", true},
        {"\xC3\x89t\xC3\xA9", "\xC3\xA9T\xC3\x89", true}, // Été
        {"\xD0\x94\xD0\xB8\xD0\xB0\xD0\xB1\xD0\xBB\xD0\xBE",
         "\xD0\xB4\xD0\x98\xD0\x90\xD0\x91\xD0\x9B\xD0\x9E", true}, // Диабло
        {"\xFF\xFE", "\xFF\xFE", true},
        {"\xC9", "\xE9", false}, // Latin-1 bytes are not UTF-8: kept as they are
        {"a", "b", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(equalsIgnoreCase(c.a, c.b), c.equal) << c.a << " / " << c.b;
        EXPECT_EQ(foldCase(c.a).size(), c.a.size()) << c.a;
    }
}

TEST(PathRules, PathPieces)
{
    struct Case
    {
        const char* path;
        const char* last;
        const char* parent;
    };
    const Case cases[] = {
        {"c:\\Games\\patch_d2.mpq", "patch_d2.mpq", "c:\\Games"},
        {"c:\\*.*", "*.*", "c:"},
        {"c:\\Games\\", "", "c:\\Games"},
        {"name", "name", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(lastComponent(c.path), c.last) << c.path;
        EXPECT_EQ(parentPath(c.path), c.parent) << c.path;
    }
    EXPECT_EQ(withTrailingSeparator("c:"), "c:\\");
    EXPECT_EQ(withTrailingSeparator("c:\\"), "c:\\");
    EXPECT_EQ(withTrailingSeparator("c:\\Games"), "c:\\Games\\");
    EXPECT_TRUE(hasWildcards("*.mpq"));
    EXPECT_TRUE(hasWildcards("a?"));
    EXPECT_FALSE(hasWildcards("patch_d2.mpq"));
}

} // namespace
