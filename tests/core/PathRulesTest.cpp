#include "core/PathRules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

using namespace velmoran;

namespace {

// Windows' own wildcard rules, as FindFirstFile applies them to one name: long names, many
// stars, bytes that are not UTF-8 (the short cases are all checked below).
TEST(PathRules, WildcardsMatchAsWindowsMatchesThem)
{
    const std::tuple<const char*, const char*, bool> rows[] = {
        {"*.*", "README", true},
        {"*.MPQ", "Patch_D2.mpq", true},
        {"patch_d2.mpq", "PATCH_D2.MPQ", true},
        {"\xFF\xFE", "\xFF\xFE", true},
        {"\xF0\x90\x80\x80", "\xF0\x90\x80\x80", true},
        {"\xC8\xBA?", "\xE2\xB1\xA5x", true},
        {"p*d2.m?q", "patch_d2.mpq", true},
        {"*.mpq", "patch_d2.mpq.bak", false},
        {"patch_d2.mpq", "patch_d2.mpqx", false},
        {"*x", "xxxxxxxxxxxxxxxxxxxxxxxxy", false},
        {"\xF0\x90\x90\xA8", "\xF0\x90\x90\x80", false},
        {"\xE0\x81\x81", "\xE0\x81\x41", false},
        {"\xED\xA0\x80\x61", "\xED\xA0\x80\x41", true},
        {"\xE2\xB1", "\xC8\xBA", false},
        {"*a*a*a*a*a*a*a*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
         false},
    };
    for (const auto& [pattern, name, matches] : rows) {
        EXPECT_EQ(wildcardMatch(pattern, name), matches) << pattern << " " << name;
        const std::string plain = pattern;
        if (plain.find_first_of("*?") == std::string::npos && !plain.ends_with('.')) {
            EXPECT_EQ(equalsIgnoreCase(pattern, name), matches) << pattern << " " << name;
        }
    }
}

// The rules above, written the plain recursive way: every pattern of up to four characters
// against every name of up to four, over letters in both cases (one of them two bytes
// long in UTF-8), dots, '*' and '?'.
bool sameLetter(std::string_view a, std::string_view b)
{
    const auto lower = [](std::string_view c) {
        return c == "A" ? "a" : c == "\xC3\x89" ? "\xC3\xA9" : c;
    };
    return std::string_view(lower(a)) == lower(b);
}

bool reference(const std::vector<std::string>& p, std::size_t i, const std::vector<std::string>& n,
               std::size_t j)
{
    if (i == p.size())
        return j == n.size();
    if (p[i] == "*")
        return reference(p, i + 1, n, j) || (j < n.size() && reference(p, i, n, j + 1));
    if (p[i] == "?") // one character but a dot; nothing at a dot or at the end
        return j == n.size() || n[j] == "." ? reference(p, i + 1, n, j)
                                            : reference(p, i + 1, n, j + 1);
    return j < n.size() && sameLetter(p[i], n[j]) && reference(p, i + 1, n, j + 1);
}

bool referenceMatch(std::vector<std::string> p, const std::vector<std::string>& n)
{
    if (reference(p, 0, n, 0))
        return true;
    const bool dotted = std::find(n.begin(), n.end(), ".") != n.end();
    if (p.size() >= 2 && p.back() == "*" && p[p.size() - 2] == ".") // "x.*" matches "x"
        return p.resize(p.size() - 2), reference(p, 0, n, 0);
    if (!p.empty() && p.back() == "." && !dotted) // "x." matches "x"
        return p.pop_back(), reference(p, 0, n, 0);
    return false;
}

// Every sequence of up to `most` characters of the alphabet.
std::vector<std::vector<std::string>> allUpTo(const std::vector<std::string>& alphabet, int most)
{
    std::vector<std::vector<std::string>> all{{}};
    for (std::size_t from = 0; from < all.size(); ++from)
        if (all[from].size() < std::size_t(most))
            for (const std::string& c : alphabet) {
                all.push_back(all[from]);
                all.back().push_back(c);
            }
    return all;
}

TEST(PathRules, WildcardsMatchAsThePlainRulesSayForEveryShortPatternAndName)
{
    const auto join = [](const std::vector<std::string>& parts) {
        std::string s;
        for (const std::string& c : parts)
            s += c;
        return s;
    };
    const auto names = allUpTo({"a", "A", ".", "\xC3\xA9"}, 4);
    std::size_t matched = 0;
    for (const auto& pattern : allUpTo({"a", ".", "*", "?", "\xC3\x89"}, 4)) {
        const std::string p = join(pattern);
        for (const auto& name : names) {
            const bool expected = referenceMatch(pattern, name);
            matched += expected;
            ASSERT_EQ(wildcardMatch(p, join(name)), expected) << p << " " << join(name);
        }
    }
    EXPECT_GT(matched, 5000u);
}

// Over the whole Basic Multilingual Plane: a folded character is one valid character that
// folds to itself, and names are equal without regard to case exactly when they fold alike.
TEST(PathRules, FoldingIsSoundForEveryCharacter)
{
    for (char32_t c = 0; c < 0x10000; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF)
            continue;
        std::string name;
        appendUtf8(name, c);
        const std::u8string standard = std::filesystem::path(std::u32string(1, c)).u8string();
        ASSERT_EQ(name, std::string(standard.begin(), standard.end())) << int(c);
        // A name cut short within longer text: only the bytes inside it count.
        for (std::size_t k = 1; k < name.size(); ++k)
            ASSERT_EQ(foldCase(std::string_view(name).substr(0, k)), name.substr(0, k)) << int(c);
        const char32_t capital = foldCodePoint(c);
        std::string folded;
        appendUtf8(folded, capital);
        ASSERT_TRUE(capital < 0x10000 && (capital < 0xD800 || capital > 0xDFFF)) << int(c);
        ASSERT_EQ(foldCase(name), folded) << int(c);
        ASSERT_EQ(foldCodePoint(capital), capital) << int(c);
        ASSERT_EQ(foldCase("a" + name + "\xFF"), "A" + folded + "\xFF") << int(c);
        ASSERT_TRUE(equalsIgnoreCase(name, folded) && equalsIgnoreCase(folded, name)) << int(c);
        for (const char32_t other : {c ^ 1, c + 1, capital + 1}) {
            std::string second;
            appendUtf8(second, other);
            ASSERT_EQ(equalsIgnoreCase(name, second), foldCase(name) == foldCase(second))
                << int(c) << " " << int(other);
            ASSERT_EQ(equalsIgnoreCase(second, name), equalsIgnoreCase(name, second)) << int(c);
        }
    }
}

} // namespace
