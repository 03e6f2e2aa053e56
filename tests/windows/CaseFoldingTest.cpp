// The fold of names without regard to case, checked against Windows' own functions over the
// whole Basic Multilingual Plane: the upper-case table of the file system (ntdll's
// RtlUpcaseUnicodeChar), CharUpperW, and CompareStringOrdinal's classes of equal names.
#include "core/PathRules.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <set>
#include <string>
#include <vector>

using namespace velmoran;

namespace {

using Upcase = WCHAR(WINAPI*)(WCHAR);

std::string utf8(char32_t c)
{
    std::string text;
    appendUtf8(text, c);
    return text;
}

int compareIgnoringCase(wchar_t a, wchar_t b)
{
    return ::CompareStringOrdinal(&a, 1, &b, 1, TRUE);
}

TEST(CaseFoldingAgainstWindows, EveryCharacterFoldsAsWindowsComparesIt)
{
    const auto upcase = reinterpret_cast<Upcase>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlUpcaseUnicodeChar")));
    ASSERT_NE(upcase, nullptr);
    std::vector<wchar_t> all;
    int disagreements = 0;
    for (char32_t c = 0; c < 0x10000; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF)
            continue;
        const auto unit = static_cast<wchar_t>(c);
        all.push_back(unit);
        const char32_t capital = upcase(unit);
        const auto charUpper = static_cast<char32_t>(
            reinterpret_cast<ULONG_PTR>(::CharUpperW(reinterpret_cast<LPWSTR>(ULONG_PTR(c)))));
        if (charUpper != capital)
            ++disagreements;
        EXPECT_EQ(foldCodePoint(c), capital) << std::hex << int(c);
        EXPECT_TRUE(equalsIgnoreCase(utf8(c), utf8(charUpper))) << std::hex << int(c);
    }
    std::cout << "RtlUpcaseUnicodeChar and CharUpperW differ at " << disagreements
              << " code points\n";

    // CompareStringOrdinal orders the code points; its classes of equal ones are runs in
    // that order. Each run must be one class of the fold, and each class one run.
    std::stable_sort(all.begin(), all.end(), [](wchar_t a, wchar_t b) {
        return compareIgnoringCase(a, b) == CSTR_LESS_THAN;
    });
    std::set<char32_t> classesSeen{foldCodePoint(all.front())};
    for (std::size_t i = 1; i < all.size(); ++i) {
        const int order = compareIgnoringCase(all[i - 1], all[i]);
        ASSERT_NE(order, CSTR_GREATER_THAN) << std::hex << int(all[i - 1]) << " " << int(all[i]);
        const bool sameFold = foldCodePoint(all[i - 1]) == foldCodePoint(all[i]);
        EXPECT_EQ(order == CSTR_EQUAL, sameFold)
            << std::hex << int(all[i - 1]) << " " << int(all[i]);
        if (order != CSTR_EQUAL) {
            EXPECT_TRUE(classesSeen.insert(foldCodePoint(all[i])).second)
                << std::hex << int(all[i]);
        }
    }
}

} // namespace
