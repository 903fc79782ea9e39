#include "TraceFormatter.h"

#include <sys/types.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// Wider fields than this are left to vsnprintf; no trace line is that long anyway.
constexpr size_t kMaxWidth = 1u << 20;

// Keeps what fits in the buffer and counts everything, as vsnprintf does.
class Output
{
public:
    Output(char *buffer, size_t size) : m_at(buffer), m_end(size > 0 ? buffer + size - 1 : buffer) {}

    void put(const char *data, size_t length)
    {
        const size_t copied = copyable(length);
        if (copied > 0) {
            memcpy(m_at, data, copied);
            m_at += copied;
        }
        m_total += length;
    }

    void fill(char character, size_t count)
    {
        const size_t copied = copyable(count);
        if (copied > 0) {
            memset(m_at, character, copied);
            m_at += copied;
        }
        m_total += count;
    }

    void terminate(size_t size)
    {
        if (size > 0) {
            *m_at = '\0';
        }
    }

    size_t total() const { return m_total; }

private:
    size_t copyable(size_t length) const
    {
        const size_t room = static_cast<size_t>(m_end - m_at);
        return length < room ? length : room;
    }

    char *m_at;
    char *m_end;
    size_t m_total = 0;
};

enum class Length
{
    Int,
    Char,
    Short,
    Long,
    LongLong,
    Size,
    Max,
    Difference
};

struct Field
{
    size_t width = 0;
    bool left = false;
    bool zero = false;
};

void putPadded(Output &out, const Field &field, const char *text, size_t length)
{
    const size_t padding = field.width > length ? field.width - length : 0;
    if (!field.left) {
        out.fill(' ', padding);
    }
    out.put(text, length);
    if (field.left) {
        out.fill(' ', padding);
    }
}

// Writes the digits of magnitude so that they end at end; returns where they start.
char *decimalDigits(char *end, unsigned long long magnitude)
{
    static const char pairs[] =
        "0001020304050607080910111213141516171819202122232425262728293031323334353637383940414243"
        "4445464748495051525354555657585960616263646566676869707172737475767778798081828384858687"
        "888990919293949596979899";
    char *start = end;
    while (magnitude > 0xffffffffull) {
        const unsigned pair = static_cast<unsigned>(magnitude % 100);
        magnitude /= 100;
        start -= 2;
        memcpy(start, pairs + 2 * pair, 2);
    }
    auto small = static_cast<unsigned>(magnitude);
    while (small >= 100) {
        const unsigned pair = small % 100;
        small /= 100;
        start -= 2;
        memcpy(start, pairs + 2 * pair, 2);
    }
    if (small >= 10) {
        start -= 2;
        memcpy(start, pairs + 2 * small, 2);
    } else {
        *--start = static_cast<char>('0' + small);
    }
    return start;
}

char *powerOfTwoDigits(char *end, unsigned long long magnitude, unsigned bits, bool upper)
{
    const char *digitSet = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    const unsigned mask = (1u << bits) - 1;
    char *start = end;
    do {
        *--start = digitSet[magnitude & mask];
        magnitude >>= bits;
    } while (magnitude != 0);
    return start;
}

// conversion is 'd', 'u', 'o', 'x' or 'X'.
void putInteger(Output &out, const Field &field, bool negative, unsigned long long magnitude, char conversion)
{
    char digits[32];
    char *const end = digits + sizeof(digits);
    char *start = conversion == 'd' || conversion == 'u' ? decimalDigits(end, magnitude)
                  : conversion == 'o'                    ? powerOfTwoDigits(end, magnitude, 3, false)
                                      : powerOfTwoDigits(end, magnitude, 4, conversion == 'X');
    const size_t count = static_cast<size_t>(end - start);
    if (field.zero && !field.left) {
        const size_t length = count + (negative ? 1 : 0);
        if (negative) {
            out.put("-", 1);
        }
        out.fill('0', field.width > length ? field.width - length : 0);
        out.put(start, count);
        return;
    }
    if (negative) {
        *--start = '-';
    }
    putPadded(out, field, start, static_cast<size_t>(end - start));
}

bool isDigit(char character)
{
    return character >= '0' && character <= '9';
}

// Formats the whole text, or returns false at the first conversion it leaves to vsnprintf. Arguments are
// read only here: a va_list handed on to a helper may not be used again by its caller.
bool formatCommon(Output &out, const char *format, va_list arguments)
{
    const char *at = format;
    for (;;) {
        const char *percent = strchrnul(at, '%');
        out.put(at, static_cast<size_t>(percent - at));
        if (*percent == '\0') {
            return true;
        }
        at = percent + 1;
        if (*at == '%') {
            out.put("%", 1);
            ++at;
            continue;
        }

        Field field;
        for (;; ++at) {
            if (*at == '-') {
                field.left = true;
            } else if (*at == '0') {
                field.zero = true;
            } else {
                break;
            }
        }
        while (isDigit(*at)) {
            field.width = field.width * 10 + static_cast<size_t>(*at++ - '0');
            if (field.width > kMaxWidth) {
                return false;
            }
        }
        if (*at == '$' || *at == '*') {
            return false;
        }
        long precision = -1;
        if (*at == '.') {
            ++at;
            if (*at == '*') {
                ++at;
                if (isDigit(*at)) {
                    return false;
                }
                const int given = va_arg(arguments, int);
                precision = given < 0 ? -1 : given;
            } else {
                precision = 0;
                while (isDigit(*at)) {
                    precision = precision * 10 + (*at++ - '0');
                    if (precision > static_cast<long>(kMaxWidth)) {
                        return false;
                    }
                }
            }
        }

        Length length = Length::Int;
        switch (*at) {
        case 'h':
            ++at;
            length = *at == 'h' ? (++at, Length::Char) : Length::Short;
            break;
        case 'l':
            ++at;
            length = *at == 'l' ? (++at, Length::LongLong) : Length::Long;
            break;
        case 'z':
            ++at;
            length = Length::Size;
            break;
        case 'j':
            ++at;
            length = Length::Max;
            break;
        case 't':
            ++at;
            length = Length::Difference;
            break;
        default:
            break;
        }

        const char conversion = *at;
        switch (conversion) {
        case 'd':
        case 'i': {
            if (precision >= 0) {
                return false;
            }
            long long value = 0;
            switch (length) {
            case Length::Int:
                value = va_arg(arguments, int);
                break;
            case Length::Char:
                value = static_cast<signed char>(va_arg(arguments, int));
                break;
            case Length::Short:
                value = static_cast<short>(va_arg(arguments, int));
                break;
            case Length::Long:
                value = va_arg(arguments, long);
                break;
            case Length::LongLong:
                value = va_arg(arguments, long long);
                break;
            case Length::Size:
                value = va_arg(arguments, ssize_t);
                break;
            case Length::Max:
                value = va_arg(arguments, intmax_t);
                break;
            case Length::Difference:
                value = va_arg(arguments, ptrdiff_t);
                break;
            }
            const unsigned long long magnitude = value < 0 ? 0ull - static_cast<unsigned long long>(value)
                                                           : static_cast<unsigned long long>(value);
            putInteger(out, field, value < 0, magnitude, 'd');
            break;
        }
        case 'u':
        case 'x':
        case 'X':
        case 'o': {
            if (precision >= 0) {
                return false;
            }
            unsigned long long value = 0;
            switch (length) {
            case Length::Int:
                value = va_arg(arguments, unsigned);
                break;
            case Length::Char:
                value = static_cast<unsigned char>(va_arg(arguments, unsigned));
                break;
            case Length::Short:
                value = static_cast<unsigned short>(va_arg(arguments, unsigned));
                break;
            case Length::Long:
                value = va_arg(arguments, unsigned long);
                break;
            case Length::LongLong:
                value = va_arg(arguments, unsigned long long);
                break;
            case Length::Size:
                value = va_arg(arguments, size_t);
                break;
            case Length::Max:
                value = va_arg(arguments, uintmax_t);
                break;
            case Length::Difference:
                value = static_cast<size_t>(va_arg(arguments, ptrdiff_t));
                break;
            }
            putInteger(out, field, false, value, conversion);
            break;
        }
        case 'c': {
            if (length != Length::Int || field.zero || precision >= 0) {
                return false;
            }
            const char character = static_cast<char>(static_cast<unsigned char>(va_arg(arguments, int)));
            putPadded(out, field, &character, 1);
            break;
        }
        case 's': {
            if (length != Length::Int || field.zero) {
                return false;
            }
            const char *text = va_arg(arguments, const char *);
            if (!text) {
                return false;
            }
            const size_t textLength =
                precision >= 0 ? strnlen(text, static_cast<size_t>(precision)) : strlen(text);
            putPadded(out, field, text, textLength);
            break;
        }
        default:
            return false;
        }
        ++at;
    }
}

} // namespace

int TraceFormatter::format(char *buffer, size_t size, const char *format, va_list arguments)
{
    Output out(buffer, size);
    // The text before the first conversion goes first: by then the caller's va_start has settled, and
    // copying the list does not wait for it.
    const char *percent = strchrnul(format, '%');
    out.put(format, static_cast<size_t>(percent - format));
    bool done = true;
    if (*percent != '\0') {
        va_list copy;
        va_copy(copy, arguments);
        done = formatCommon(out, percent, copy);
        va_end(copy);
    }
    if (!done || out.total() > static_cast<size_t>(INT_MAX)) {
        return vsnprintf(buffer, size, format, arguments);
    }
    out.terminate(size);
    return static_cast<int>(out.total());
}
