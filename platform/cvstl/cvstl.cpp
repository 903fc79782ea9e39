#include "cvstl.h"

#include <cstdint>

namespace {
const wchar_t kReplacement = 0xFFFD;

void appendUtf8(std::string &out, uint32_t code)
{
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

// Reads the sequence that starts at text[0] (size > 0) and returns how many bytes it covers: the whole
// sequence when it is well-formed (valid, with its code point in code), else its maximal subpart.
size_t decodeNext(const char *text, size_t size, uint32_t &code, bool &valid)
{
    const unsigned char lead = static_cast<unsigned char>(text[0]);
    valid = false;
    if (lead < 0x80) {
        code = lead;
        valid = true;
        return 1;
    }
    size_t needed = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        needed = 1;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        needed = 2;
        code = lead & 0x0F;
        if (lead == 0xE0) {
            low = 0xA0; // overlong below U+0800
        } else if (lead == 0xED) {
            high = 0x9F; // surrogates
        }
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        needed = 3;
        code = lead & 0x07;
        if (lead == 0xF0) {
            low = 0x90; // overlong below U+10000
        } else if (lead == 0xF4) {
            high = 0x8F; // above U+10FFFF
        }
    } else {
        return 1;
    }
    size_t j = 1;
    for (size_t k = 0; k < needed; ++k, ++j) {
        if (j >= size) {
            return j;
        }
        const unsigned char next = static_cast<unsigned char>(text[j]);
        const unsigned char min = k == 0 ? low : 0x80;
        const unsigned char max = k == 0 ? high : 0xBF;
        if (next < min || next > max) {
            return j;
        }
        code = (code << 6) | (next & 0x3F);
    }
    valid = true;
    return j;
}
} // namespace

namespace cv {

// Each maximal subpart of an ill-formed sequence becomes one U+FFFD, the way the Unicode standard
// recommends, so the result does not depend on how far a decoder happens to look ahead.
std::wstring string_utf8_to_wstring(const std::string &text)
{
    std::wstring out;
    out.reserve(text.size());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        uint32_t code = 0;
        bool valid = false;
        i += decodeNext(text.data() + i, n - i, code, valid);
        out.push_back(valid ? static_cast<wchar_t>(code) : kReplacement);
    }
    return out;
}

bool is_valid_utf8(const char *text, size_t size)
{
    size_t i = 0;
    while (i < size) {
        uint32_t code = 0;
        bool valid = false;
        i += decodeNext(text + i, size - i, code, valid);
        if (!valid) {
            return false;
        }
    }
    return true;
}

std::string wstring_to_string_utf8(const std::wstring &text)
{
    std::string out;
    out.reserve(text.size());
    for (const wchar_t c : text) {
        uint32_t code = static_cast<uint32_t>(c);
        if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            code = 0xFFFD;
        }
        appendUtf8(out, code);
    }
    return out;
}

} // namespace cv
