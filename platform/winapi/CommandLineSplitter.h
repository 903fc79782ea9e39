#pragma once

#include <string>
#include <vector>

// Windows command-line rules (CommandLineToArgvW and the C runtime): blanks separate arguments outside
// quotes, 2n backslashes before a quote give n backslashes and a quote that toggles quoting, 2n+1 give
// n backslashes and a literal quote, "" inside quotes gives a literal quote, other backslashes are literal.
class CommandLineSplitter
{
public:
    static std::vector<std::string> split(const std::string &commandLine);
};
