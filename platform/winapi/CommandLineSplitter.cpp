#include "CommandLineSplitter.h"

namespace {
bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}
} // namespace

std::vector<std::string> CommandLineSplitter::split(const std::string &commandLine)
{
    std::vector<std::string> arguments;
    const size_t n = commandLine.size();
    size_t i = 0;
    for (;;) {
        while (i < n && isBlank(commandLine[i])) {
            ++i;
        }
        if (i >= n) {
            break;
        }
        std::string argument;
        bool quoted = false;
        while (i < n) {
            const char c = commandLine[i];
            if (isBlank(c) && !quoted) {
                break;
            }
            if (c == '\\') {
                size_t backslashes = 0;
                while (i < n && commandLine[i] == '\\') {
                    ++backslashes;
                    ++i;
                }
                if (i < n && commandLine[i] == '"') {
                    argument.append(backslashes / 2, '\\');
                    if (backslashes % 2 == 1) {
                        argument.push_back('"');
                        ++i;
                    }
                    // An even count leaves the quote for the next round, where it toggles quoting.
                } else {
                    argument.append(backslashes, '\\');
                }
            } else if (c == '"') {
                if (quoted && i + 1 < n && commandLine[i + 1] == '"') {
                    argument.push_back('"');
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
            } else {
                argument.push_back(c);
                ++i;
            }
        }
        arguments.push_back(argument);
    }
    return arguments;
}
