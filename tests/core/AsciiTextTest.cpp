#include "core/AsciiText.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

using namespace velmoran;

namespace {

// Every byte and every pair of bytes against the C library in the "C" locale (the tests
// never change the locale), which is where ASCII ends.
TEST(AsciiText, AgreesWithTheCLibraryForEveryByte)
{
    for (int i = 0; i < 256; ++i) {
        const char c = static_cast<char>(i);
        SCOPED_TRACE(i);
        ASSERT_EQ(isAsciiLetter(c), std::isalpha(i) != 0);
        ASSERT_EQ(isAsciiDigit(c), std::isdigit(i) != 0);
        ASSERT_EQ(asciiLower(c), static_cast<char>(std::tolower(i)));
        const std::string path{c, ':'};
        ASSERT_EQ(driveIndex(path), std::isalpha(i) ? std::tolower(i) - 'a' : -1);
        ASSERT_EQ(driveIndex(std::string{c, ';'}), -1);
        ASSERT_EQ(driveIndex(std::string{c}), -1);
        for (int j = 0; j < 256; ++j)
            ASSERT_EQ(equalsIgnoreAsciiCase(std::string{c}, std::string{static_cast<char>(j)}),
                      std::tolower(i) == std::tolower(j))
                << j;
    }
    EXPECT_EQ(asciiLowered("GE-Proton (Latest) \xC3\x89"), "ge-proton (latest) \xC3\x89");
    EXPECT_EQ(driveIndex("z:\\x"), 25);
    EXPECT_FALSE(equalsIgnoreAsciiCase("Path", "Pat"));
    EXPECT_FALSE(equalsIgnoreAsciiCase("Pat", "Path"));
    EXPECT_TRUE(equalsIgnoreAsciiCase("LibraryFolders", "libraryfolders"));
}

} // namespace
