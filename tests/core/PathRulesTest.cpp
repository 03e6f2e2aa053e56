#include "core/PathRules.h"

#include <gtest/gtest.h>

#include <string>

using namespace velmoran;

namespace {

// Windows' own wildcard rules, as FindFirstFile applies them to one name: "pattern|name".
TEST(PathRules, WildcardsMatchAsWindowsMatchesThem)
{
    const char* const matching[] = {"*.*|patch_d2.mpq",
                                    "*.*|README",
                                    "*.*|.bashrc",
                                    "*.*|a.b.c",
                                    "*.*|trailing.",
                                    "*|anything at all",
                                    "*|.x",
                                    "**|x",
                                    "*.mpq|patch_d2.mpq",
                                    "*.MPQ|Patch_D2.mpq",
                                    "*.mpq|.mpq",
                                    "**.mpq|x.mpq",
                                    "patch_d2.mpq|PATCH_D2.MPQ",
                                    "Caf\xC3\xA9|CAF\xC3\x89",
                                    "patch_d2.*|patch_d2",
                                    "patch_d2.*|patch_d2.mpq",
                                    "a*.*|abc",
                                    "*.|README",
                                    "readme.|README",
                                    ".*|.profile",
                                    ".p*|.profile",
                                    "?|a",
                                    "?|\xC3\xA9",
                                    "a?c|abc",
                                    "p*d2.m?q|patch_d2.mpq",
                                    "?atch_d2.mpq|Patch_d2.mpq",
                                    "???|ab",
                                    "a??.txt|a.txt",
                                    "????????.???|patch_d2.mpq",
                                    "????????.???|d2.txt",
                                    "*a*b*c|xaybzc",
                                    "*patch*|MyPatch_D2.MPQ",
                                    "*.*.*|a.b.c",
                                    "\xC3\x89t\xC3\xA9|\xC3\xA9T\xC3\x89",
                                    "\xD0\x94\xD0\xB8\xD0\xB0|\xD0\xB4\xD0\x98\xD0\x90",
                                    "\xFF\xFE|\xFF\xFE",
                                    "Zy-El|zY-eL",
                                    "\xF0\x90\x80\x80|\xF0\x90\x80\x80",
                                    "a|A"};
    const char* const other[] = {"*.mpq|patch_d2.mpq.bak",
                                 "*.mpq|mpq",
                                 "*.mpq|patch_d2.mpqx",
                                 "patch_d2.mpq|patch_d2.mpqx",
                                 "patch_d2.mpq|patch_d2",
                                 "patch_d2.mpq|xpatch_d2.mpq",
                                 "patch_d2.*|patch_d2x",
                                 "*.|a.txt",
                                 ".*|profile",
                                 ".p*|p.rofile",
                                 "?|ab",
                                 "a?c|ac",
                                 "???|abcd",
                                 "a??.txt|abcd.txt",
                                 "a?b|a.b",
                                 "*a*b*c|xaybzcd",
                                 "*x|xxxxxxxxxxxxxxxxxxxxxxxxy",
                                 "\xC9|\xE9",
                                 "a|b",
                                 "|a"};
    for (const bool matches : {true, false})
        for (const std::string& row :
             matches ? std::vector<std::string>(std::begin(matching), std::end(matching))
                     : std::vector<std::string>(std::begin(other), std::end(other))) {
            const std::string pattern = row.substr(0, row.find('|')),
                              name = row.substr(row.find('|') + 1);
            EXPECT_EQ(wildcardMatch(pattern, name), matches) << row;
            if (pattern.find_first_of("*?") == std::string::npos &&
                !pattern.ends_with('.')) { // plain names
                EXPECT_EQ(equalsIgnoreCase(pattern, name), matches) << row;
                EXPECT_EQ(foldCase(name).size(), name.size()) << row;
            }
        }
    EXPECT_FALSE(wildcardMatch("*a*a*a*a*a*a*a*a*a*a*b", std::string(200, 'a')));
}

TEST(PathRules, PathPieces)
{
    const std::tuple<const char*, const char*, const char*, const char*> rows[] = {
        // path, last component, parent, with one trailing separator
        {"c:\\Games\\patch_d2.mpq", "patch_d2.mpq", "c:\\Games", "c:\\Games\\patch_d2.mpq\\"},
        {"c:\\*.*", "*.*", "c:", "c:\\*.*\\"},
        {"c:\\Games\\", "", "c:\\Games", "c:\\Games\\"},
        {"c:", "c:", "", "c:\\"},
        {"name", "name", "", "name\\"}};
    for (const auto& [path, last, parent, separated] : rows) {
        EXPECT_EQ(lastComponent(path), last) << path;
        EXPECT_EQ(parentPath(path), parent) << path;
        EXPECT_EQ(withTrailingSeparator(path), separated) << path;
        EXPECT_EQ(hasWildcards(path), std::string(path).find('*') != std::string::npos) << path;
    }
    EXPECT_TRUE(hasWildcards("a?"));
}

} // namespace
