// The fold of names without regard to case, checked against glibc's towupper in C.UTF-8
// (Unicode's simple upper-case mapping) over the whole Basic Multilingual Plane. Windows
// keeps a letter as it is where its capital lower-cases to another letter: those below.
#include "core/PathRules.h"

#include <gtest/gtest.h>

#include <locale.h>
#include <wctype.h>

using namespace velmoran;

namespace {

struct Exception
{
    char32_t first;
    char32_t last;
    const char* reason;
};

const Exception WindowsKeeps[] = {
    {0x00B5, 0x00B5, "micro sign: U+039C lower-cases to U+03BC"},
    {0x0131, 0x0131, "dotless i: I lower-cases to i"},
    {0x017F, 0x017F, "long s: S lower-cases to s"},
    {0x01C5, 0x01C5, "title-case digraph: U+01C4 lower-cases to U+01C6"},
    {0x01C8, 0x01C8, "title-case digraph: U+01C7 lower-cases to U+01C9"},
    {0x01CB, 0x01CB, "title-case digraph: U+01CA lower-cases to U+01CC"},
    {0x01F2, 0x01F2, "title-case digraph: U+01F1 lower-cases to U+01F3"},
    {0x0345, 0x0345, "ypogegrammeni: U+0399 lower-cases to U+03B9"},
    {0x03C2, 0x03C2, "final sigma: U+03A3 lower-cases to U+03C3"},
    {0x03D0, 0x03D1, "Greek beta and theta symbols: capitals lower-case to the letters"},
    {0x03D5, 0x03D6, "Greek phi and pi symbols: capitals lower-case to the letters"},
    {0x03F0, 0x03F1, "Greek kappa and rho symbols: capitals lower-case to the letters"},
    {0x03F5, 0x03F5, "Greek lunate epsilon: U+0395 lower-cases to U+03B5"},
    {0x1C80, 0x1C88, "old Cyrillic letter shapes: capitals lower-case to the letters"},
    {0x1E9B, 0x1E9B, "long s with dot above: U+1E60 lower-cases to U+1E61"},
    {0x1FBE, 0x1FBE, "prosgegrammeni: U+0399 lower-cases to U+03B9"},
};

const Exception* windowsKeeps(char32_t c)
{
    for (const Exception& e : WindowsKeeps)
        if (c >= e.first && c <= e.last)
            return &e;
    return nullptr;
}

TEST(CaseFoldingAgainstGlibc, EveryCharacterBecomesItsCapital)
{
    const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    ASSERT_NE(utf8, locale_t(nullptr));
    for (char32_t c = 0; c < 0x10000; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF)
            continue;
        const auto glibc = static_cast<char32_t>(::towupper_l(static_cast<wint_t>(c), utf8));
        if (const Exception* keeps = windowsKeeps(c)) {
            EXPECT_NE(glibc, c) << std::hex << int(c) << ": " << keeps->reason;
            EXPECT_EQ(foldCodePoint(c), c) << std::hex << int(c) << ": " << keeps->reason;
        } else {
            EXPECT_EQ(foldCodePoint(c), glibc) << std::hex << int(c);
        }
    }
    ::freelocale(utf8);
}

} // namespace
