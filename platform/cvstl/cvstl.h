#pragma once

#include <cstddef>
#include <string>

namespace cv {
// Invalid UTF-8 sequences become U+FFFD; never throws.
std::wstring string_utf8_to_wstring(const std::string &text);
std::string wstring_to_string_utf8(const std::wstring &text);
// Well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF, no sequence cut short.
bool is_valid_utf8(const char *text, size_t size);
} // namespace cv
