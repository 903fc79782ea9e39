// UTF-8 to wide text and back. The input is decoded as UTF-8, and also read as an array of wide
// characters (any 32-bit values) for the encoder.

#include "FuzzCheck.h"
#include "cvstl.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

// Well-formed UTF-8 by the table of the Unicode standard (no overlong forms, no surrogates, nothing
// above U+10FFFF).
bool wellFormed(const std::string &text)
{
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char b0 = static_cast<unsigned char>(text[i]);
        size_t length;
        unsigned char low = 0x80, high = 0xBF;
        if (b0 <= 0x7F) {
            length = 1;
        } else if (b0 >= 0xC2 && b0 <= 0xDF) {
            length = 2;
        } else if (b0 == 0xE0) {
            length = 3, low = 0xA0;
        } else if ((b0 >= 0xE1 && b0 <= 0xEC) || b0 == 0xEE || b0 == 0xEF) {
            length = 3;
        } else if (b0 == 0xED) {
            length = 3, high = 0x9F;
        } else if (b0 == 0xF0) {
            length = 4, low = 0x90;
        } else if (b0 >= 0xF1 && b0 <= 0xF3) {
            length = 4;
        } else if (b0 == 0xF4) {
            length = 4, high = 0x8F;
        } else {
            return false;
        }
        if (n - i < length)
            return false;
        for (size_t k = 1; k < length; ++k) {
            const unsigned char b = static_cast<unsigned char>(text[i + k]);
            const unsigned char lo = k == 1 ? low : 0x80;
            const unsigned char hi = k == 1 ? high : 0xBF;
            if (b < lo || b > hi)
                return false;
        }
        i += length;
    }
    return true;
}

bool isScalarValue(uint32_t code)
{
    return code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string input(reinterpret_cast<const char *>(data), size);

    const std::wstring wide = cv::string_utf8_to_wstring(input);
    FUZZ_CHECK(wide.size() <= input.size());
    bool replaced = false;
    for (const wchar_t c : wide) {
        FUZZ_CHECK(isScalarValue(static_cast<uint32_t>(c)));
        replaced = replaced || c == 0xFFFD;
    }
    const std::string back = cv::wstring_to_string_utf8(wide);
    FUZZ_CHECK(wellFormed(back));
    // Decoding what was encoded changes nothing.
    FUZZ_CHECK(cv::string_utf8_to_wstring(back) == wide);
    FUZZ_CHECK(cv::is_valid_utf8(input.data(), input.size()) == wellFormed(input));
    if (wellFormed(input)) {
        FUZZ_CHECK(back == input);
    } else {
        FUZZ_CHECK(replaced);
        FUZZ_CHECK(back != input);
    }

    // Any wide text encodes to well-formed UTF-8; its scalar values survive, the rest become U+FFFD.
    std::wstring raw(size / sizeof(wchar_t), L'\0');
    if (!raw.empty())
        std::memcpy(&raw[0], data, raw.size() * sizeof(wchar_t));
    const std::string encoded = cv::wstring_to_string_utf8(raw);
    FUZZ_CHECK(wellFormed(encoded));
    const std::wstring decoded = cv::string_utf8_to_wstring(encoded);
    FUZZ_CHECK(decoded.size() == raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        const uint32_t code = static_cast<uint32_t>(raw[i]);
        FUZZ_CHECK(static_cast<uint32_t>(decoded[i]) == (isScalarValue(code) ? code : 0xFFFDu));
    }
    return 0;
}
