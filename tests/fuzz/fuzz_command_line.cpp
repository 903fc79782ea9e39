// The start arguments: pieces of the input split at NUL bytes stand for argv[1..].

#include "FuzzCheck.h"
#include "TarnDesktopApp.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<std::string> pieces;
    const std::string input(reinterpret_cast<const char *>(data), size);
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

    std::vector<std::vector<char>> storage;
    storage.reserve(pieces.size() + 1);
    storage.emplace_back(std::vector<char>{'t', 'a', 'r', 'n', '\0'});
    for (const std::string &piece : pieces) {
        storage.emplace_back(piece.begin(), piece.end());
        storage.back().push_back('\0');
    }
    std::vector<char *> argv;
    for (auto &s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(storage.size());

    // Blanks join the pieces, but none comes before the first non-empty piece.
    std::string expected;
    for (const std::string &piece : pieces) {
        if (!expected.empty())
            expected += ' ';
        expected += piece;
    }
    const std::string text = TarnDesktopApp::commandLineText(argc, argv.data());
    FUZZ_CHECK(text == expected);
    FUZZ_CHECK(TarnDesktopApp::commandLineText(1, argv.data()).empty());
    FUZZ_CHECK(TarnDesktopApp::commandLineText(0, nullptr).empty());

    for (const int startShow : {1, 7}) {
        int show = startShow;
        int uninstall = 0;
        TarnDesktopApp::reduceCommandLine(argc, argv.data(), show, uninstall);
        FUZZ_CHECK(show == (text == "autorun" ? 0 : startShow));
        FUZZ_CHECK(uninstall == (text == "uninstall" ? 1 : 0));
        FUZZ_CHECK(!(show == 0 && uninstall == 1));
    }
    // Only the exact words count: an argument list that spells them with extra blanks or pieces does not.
    if (text == "autorun" || text == "uninstall") {
        size_t nonEmpty = 0;
        for (const std::string &piece : pieces)
            nonEmpty += piece.empty() ? 0 : 1;
        FUZZ_CHECK(nonEmpty == 1);
    }
    return 0;
}
