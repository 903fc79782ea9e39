#pragma once

#include <string>

namespace cv {
// Invalid UTF-8 sequences become U+FFFD; never throws.
std::wstring string_utf8_to_wstring(const std::string &text);
std::string wstring_to_string_utf8(const std::wstring &text);
} // namespace cv
