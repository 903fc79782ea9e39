// The Windows command-line splitter. The input is split as a command line; its arguments, quoted again
// by the Windows rules and joined, must split back into the same arguments. The input's NUL-separated
// pieces make a second argument list that must survive the same round trip.

#include "CommandLineSplitter.h"
#include "FuzzCheck.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// Quoting by the rules the splitter reads: plain arguments stay as they are; others are enclosed in
// quotes, with the backslashes before a quote (or before the closing quote) doubled.
std::string quoteArgument(const std::string &argument)
{
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos)
        return argument;
    std::string out = "\"";
    size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            out.append(2 * backslashes + 1, '\\');
        } else {
            out.append(backslashes, '\\');
        }
        backslashes = 0;
        out.push_back(c);
    }
    out.append(2 * backslashes, '\\');
    out.push_back('"');
    return out;
}

std::string joinQuoted(const std::vector<std::string> &arguments)
{
    std::string line;
    for (const std::string &argument : arguments) {
        if (!line.empty())
            line += ' ';
        line += quoteArgument(argument);
    }
    return line;
}

void checkRoundTrip(const std::vector<std::string> &arguments)
{
    const std::string line = joinQuoted(arguments);
    FUZZ_CHECK(CommandLineSplitter::split(line) == arguments);
    // Blanks around the line change nothing.
    FUZZ_CHECK(CommandLineSplitter::split(" \t" + line + "\t ") == arguments);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string input(reinterpret_cast<const char *>(data), size);

    const std::vector<std::string> split = CommandLineSplitter::split(input);
    size_t total = 0;
    for (const std::string &argument : split)
        total += argument.size();
    // Quotes and escaping backslashes only ever vanish; nothing is invented.
    FUZZ_CHECK(total <= input.size());
    FUZZ_CHECK(split.size() <= input.size() / 2 + 1);
    if (input.find_first_of("\"\\") == std::string::npos) {
        for (const std::string &argument : split)
            FUZZ_CHECK(!argument.empty() && argument.find_first_of(" \t") == std::string::npos);
    }
    checkRoundTrip(split);

    std::vector<std::string> pieces;
    if (!input.empty()) {
        size_t start = 0;
        for (;;) {
            const size_t nul = input.find('\0', start);
            pieces.push_back(input.substr(start, nul == std::string::npos ? std::string::npos : nul - start));
            if (nul == std::string::npos)
                break;
            start = nul + 1;
        }
    }
    checkRoundTrip(pieces);
    return 0;
}
