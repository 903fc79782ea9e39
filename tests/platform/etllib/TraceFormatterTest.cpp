#include "TraceFormatter.h"

#include <QtTest>

#include <sys/types.h>

#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const size_t kBufferBytes = 512;
const char kUntouched = 0x5a;

int viaVsnprintf(char *buffer, size_t size, const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const int result = vsnprintf(buffer, size, format, arguments);
    va_end(arguments);
    return result;
}

int viaTraceFormatter(char *buffer, size_t size, const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const int result = TraceFormatter::format(buffer, size, format, arguments);
    va_end(arguments);
    return result;
}

std::string printable(const char *data, size_t length)
{
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(data[i]);
        if (c >= 0x20 && c < 0x7f) {
            text += static_cast<char>(c);
        } else {
            char escaped[8];
            snprintf(escaped, sizeof(escaped), "\\x%02x", c);
            text += escaped;
        }
    }
    return text;
}

// The same text, the same return value and the same bytes written (none past the size, the terminating
// NUL where vsnprintf puts it) as vsnprintf, for buffers from none at all to roomy ones, cutting the
// text at every place that matters.
template <typename... Arguments> void expectSameAsVsnprintf(const char *format, Arguments... arguments)
{
    // A format vsnprintf rejects (a lone '%' at the end) must be rejected alike.
    const int length = viaVsnprintf(nullptr, 0, format, arguments...);
    std::vector<size_t> sizes = {0, 1, 2, 5, kBufferBytes};
    if (length > 0) {
        sizes.insert(sizes.end(), {size_t(length) - 1, size_t(length), size_t(length) + 1});
    }
    for (const size_t size : sizes) {
        if (size > kBufferBytes) {
            continue;
        }
        char expected[kBufferBytes];
        char actual[kBufferBytes];
        memset(expected, kUntouched, sizeof(expected));
        memset(actual, kUntouched, sizeof(actual));
        const int expectedResult = viaVsnprintf(expected, size, format, arguments...);
        const int actualResult = viaTraceFormatter(actual, size, format, arguments...);
        const std::string where = std::string("format \"") + format + "\", buffer of " +
                                  std::to_string(size) + ": expected \"" +
                                  printable(expected, std::min<size_t>(size, 64)) + "\", got \"" +
                                  printable(actual, std::min<size_t>(size, 64)) + "\"";
        QVERIFY2(actualResult == expectedResult, (where + ", returned " + std::to_string(actualResult) +
                                                  " instead of " + std::to_string(expectedResult))
                                                     .c_str());
        QVERIFY2(memcmp(expected, actual, sizeof(expected)) == 0, where.c_str());
    }
    // No size at all and no buffer, as callers measure a text.
    QCOMPARE(viaTraceFormatter(nullptr, 0, format, arguments...), length);
}

} // namespace

class TraceFormatterTest : public QObject
{
    Q_OBJECT

private slots:
    void plainTextAndPercent()
    {
        expectSameAsVsnprintf("");
        expectSameAsVsnprintf("no conversion at all");
        expectSameAsVsnprintf("100%% sure, %%d stays");
        expectSameAsVsnprintf("%%");
        expectSameAsVsnprintf("line break\n");
    }

    void signedIntegers()
    {
        for (const int value : {0, 1, -1, 42, -42, 9, 10, 99, 100, INT_MAX, INT_MIN}) {
            expectSameAsVsnprintf("%d", value);
            expectSameAsVsnprintf("[%i]", value);
            expectSameAsVsnprintf("%5d|%-5d|%05d|%-05d|%1d", value, value, value, value, value);
            expectSameAsVsnprintf("%012d", value);
        }
        expectSameAsVsnprintf("%hhd %hhd %hhd", 300, -129, 127);
        expectSameAsVsnprintf("%hd %hd", 70000, -32769);
        expectSameAsVsnprintf("%ld %ld %ld", LONG_MIN, LONG_MAX, 0L);
        expectSameAsVsnprintf("%lld %lld %020lld", LLONG_MIN, LLONG_MAX, -5LL);
        expectSameAsVsnprintf("%zd %jd %td", ssize_t(-5), INTMAX_MIN, ptrdiff_t(-7));
    }

    void unsignedIntegers()
    {
        for (const unsigned value : {0u, 1u, 7u, 8u, 15u, 16u, 255u, 0xdeadbeefu, UINT_MAX}) {
            expectSameAsVsnprintf("%u %x %X %o", value, value, value, value);
            expectSameAsVsnprintf("%08x|%-8X|%3o|%03o|%10u|%-10u|", value, value, value, value, value, value);
        }
        expectSameAsVsnprintf("%hhu %hhx %hu %ho", 300u, 0x1ffu, 70000u, 70000u);
        expectSameAsVsnprintf("%lu %lx %lo", ULONG_MAX, ULONG_MAX, ULONG_MAX);
        expectSameAsVsnprintf("%llu %llX", ULLONG_MAX, 0x0123456789abcdefULL);
        expectSameAsVsnprintf("%zu %zx %ju %tu %tx", SIZE_MAX, size_t(4096), UINTMAX_MAX, ptrdiff_t(-1),
                              ptrdiff_t(-2));
    }

    void charactersAndStrings()
    {
        expectSameAsVsnprintf("%c%c%c", 'a', 'B', ' ');
        expectSameAsVsnprintf("[%3c][%-3c][%1c]", 'x', 'y', 'z');
        expectSameAsVsnprintf("nul %c inside", 0);
        expectSameAsVsnprintf("high %c byte", 0xe9);
        const char *empty = "";
        const char *word = "trace";
        for (const char *text : {empty, word}) {
            expectSameAsVsnprintf("<%s>", text);
            expectSameAsVsnprintf("<%8s><%-8s><%1s>", text, text, text);
            expectSameAsVsnprintf("<%.2s><%.0s><%.99s><%10.3s><%-10.3s>", text, text, text, text, text);
            expectSameAsVsnprintf("<%.*s><%.*s><%.*s>", 3, text, -1, text, 0, text);
        }
        // A precision lets the text end without a NUL.
        const char unterminated[3] = {'a', 'b', 'c'};
        expectSameAsVsnprintf("%.3s|%.*s", unterminated, 2, unterminated);
        const std::string longText(700, 'w');
        expectSameAsVsnprintf("head %s tail", longText.c_str());
        expectSameAsVsnprintf("%s and %d then %s", "first", 2, "third");
    }

    void conversionsLeftToTheLibrary()
    {
        // Each of these is formatted by vsnprintf, also after other conversions have taken arguments.
        expectSameAsVsnprintf("%f %.2f %e %g", 1.5, 2.345, 1e10, 0.1);
        expectSameAsVsnprintf("%d then %f then %s", 7, 3.25, "end");
        expectSameAsVsnprintf("%+d % d %#x %#o %#X", 5, 5, 255, 8, 255);
        expectSameAsVsnprintf("%.3d %.0d %5.2u %.4x", 5, 0, 7u, 0xabu);
        expectSameAsVsnprintf("%*d|%-*d|%*s", 6, 42, 6, 42, -4, "ab");
        expectSameAsVsnprintf("%2$s %1$s", "world", "hello");
        expectSameAsVsnprintf("%p %p", reinterpret_cast<void *>(uintptr_t(0x1234)),
                              static_cast<void *>(nullptr));
        expectSameAsVsnprintf("%s", static_cast<const char *>(nullptr));
        expectSameAsVsnprintf("[%5%][%-%]");
        expectSameAsVsnprintf("%05s|%05c", "ab", 'c');
        expectSameAsVsnprintf("%Lf %a", 1.25L, 0.5);
        expectSameAsVsnprintf("%lc%ls", wint_t(L'x'), L"yz");
        expectSameAsVsnprintf("%hhs %zc", "odd", 'q');
        expectSameAsVsnprintf("%.*1$d", 3, 4);
        expectSameAsVsnprintf("%k %y");
        expectSameAsVsnprintf("%09999999d", 1);
        expectSameAsVsnprintf("trailing %");
    }
};

QTEST_GUILESS_MAIN(TraceFormatterTest)
#include "TraceFormatterTest.moc"
