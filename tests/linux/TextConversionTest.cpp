// The UTF-8 to Windows-1252 conversion, checked against glibc's iconv over every 1- and
// 2-byte input, every 3-byte input that starts with a 3-byte lead, and dense samples of the
// rest. iconv is the judge of what is UTF-8 and of what Windows-1252 can hold.
#include "platform/linux/Cp1252.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iconv.h>
#include <stdexcept>
#include <string>

namespace {

class Iconv
{
public:
    Iconv(const char* to, const char* from) : m_handle(iconv_open(to, from))
    {
        if (m_handle == reinterpret_cast<iconv_t>(-1))
            throw std::runtime_error(std::string("iconv_open: ") + std::strerror(errno));
    }
    ~Iconv() { iconv_close(m_handle); }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    // Converts the first character of [in, in + size) into out; returns the bytes it took,
    // or 0 when no whole valid character starts there or it converts to nothing (glibc
    // drops Unicode's tag characters, where Windows writes "?").
    std::size_t first(const char* in, std::size_t size, char* out, std::size_t outSize)
    {
        iconv(m_handle, nullptr, nullptr, nullptr, nullptr);
        auto* from = const_cast<char*>(in);
        std::size_t left = size;
        std::size_t room = outSize;
        iconv(m_handle, &from, &left, &out, &room);
        return room == outSize ? 0 : size - left;
    }

private:
    iconv_t m_handle;
};

// What Windows' own conversion makes of text: each UTF-8 character that Windows-1252 has as
// its byte, any other as "?", and each byte that starts no valid character as it is.
class Reference
{
public:
    std::string convert(const std::string& text)
    {
        std::string out;
        std::size_t i = 0;
        while (i < text.size()) {
            char32_t codePoint = 0;
            const std::size_t taken = m_decode.first(text.data() + i, text.size() - i,
                                                     reinterpret_cast<char*>(&codePoint), 4);
            if (taken == 0) {
                out += text[i++];
                continue;
            }
            char byte = 0;
            out += m_encode.first(reinterpret_cast<const char*>(&codePoint), 4, &byte, 1) == 4
                       ? byte
                       : '?';
            i += taken;
        }
        return out;
    }

private:
    Iconv m_decode{"UTF-32LE", "UTF-8"};
    Iconv m_encode{"CP1252", "UTF-32LE"};
};

std::string hex(const std::string& bytes)
{
    std::string out;
    char digits[4];
    for (unsigned char b : bytes) {
        std::snprintf(digits, sizeof digits, "%02X ", b);
        out += digits;
    }
    return out;
}

// Checks every input that make(n, text) builds for n in [0, count); stops at the first few
// differences so that a fault does not flood the log.
template <typename Make> void agreeOver(std::uint32_t count, Make make)
{
    Reference reference;
    std::string text;
    int differences = 0;
    for (std::uint32_t n = 0; n < count && differences < 5; ++n) {
        make(n, text);
        const std::string expected = reference.convert(text);
        const std::string actual = velmoran::utf8ToCp1252(text);
        if (actual != expected) {
            ++differences;
            ADD_FAILURE() << "input " << hex(text) << "gives " << hex(actual) << "iconv "
                          << hex(expected);
        }
    }
}

} // namespace

TEST(Utf8ToCp1252AgainstIconv, EveryOneAndTwoByteInput)
{
    agreeOver(0x100, [](std::uint32_t n, std::string& text) { text.assign(1, char(n)); });
    agreeOver(0x10000, [](std::uint32_t n, std::string& text) { text = {char(n >> 8), char(n)}; });
}

// Third and fourth bytes of the sampled inputs: each boundary of the continuation range and
// its neighbours, ASCII, and lead bytes.
constexpr unsigned char Tails[] = {0x00, 0x41, 0x7F, 0x80, 0x81, 0x8F, 0x90, 0x9F, 0xA0,
                                   0xA9, 0xBE, 0xBF, 0xC0, 0xC3, 0xE2, 0xF0, 0xF4, 0xFF};
constexpr std::uint32_t TailCount = sizeof Tails;

TEST(Utf8ToCp1252AgainstIconv, EveryThreeByteInputWithAThreeByteLead)
{
    agreeOver(16 << 16, [](std::uint32_t n, std::string& text) {
        text = {char(0xE0 + (n >> 16)), char(n >> 8), char(n)};
    });
    // The other lead bytes, before every second byte and a sampled third.
    agreeOver(0x40 * 256 * TailCount, [](std::uint32_t n, std::string& text) {
        text = {char(0xC0 + n / (256 * TailCount)), char(n / TailCount % 256),
                char(Tails[n % TailCount])};
    });
}

TEST(Utf8ToCp1252AgainstIconv, FourByteInputsDenselySampled)
{
    // Every lead byte from 0xF0 to 0xF7 before every second byte, with sampled third and
    // fourth bytes; from 0xF8 on, a byte starts nothing.
    constexpr std::uint32_t tails = TailCount;
    agreeOver(8 * 256 * tails * tails, [](std::uint32_t n, std::string& text) {
        text = {char(0xF0 + n / (256 * tails * tails)), char(n / (tails * tails) % 256),
                char(Tails[n / tails % tails]), char(Tails[n % tails])};
    });
    // And every 61st code point past the Basic Multilingual Plane, well-formed, with a
    // character after it so that the length of each is checked too.
    agreeOver(0x100000 / 61, [](std::uint32_t n, std::string& text) {
        const char32_t c = 0x10000 + n * 61;
        text = {char(0xF0 | (c >> 18)), char(0x80 | ((c >> 12) & 0x3F)),
                char(0x80 | ((c >> 6) & 0x3F)), char(0x80 | (c & 0x3F)), 'x'};
    });
    // Every byte from 0x80 on before three sampled bytes: only 0xF0 to 0xF4 may take three.
    agreeOver(0x80 * tails * tails * tails, [](std::uint32_t n, std::string& text) {
        text = {char(0x80 + n / (tails * tails * tails)), char(Tails[n / (tails * tails) % tails]),
                char(Tails[n / tails % tails]), char(Tails[n % tails])};
    });
}
