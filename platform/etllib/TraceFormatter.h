#pragma once

#include <cstdarg>
#include <cstddef>

// printf-style formatting of trace texts. What the program's own lines use (%d %i %u %x %X %o with
// their length modifiers, %c, %s, %.*s, %%, the flags '-' and '0' and a width) is formatted here in one
// pass over the format; any other conversion or flag hands the whole text to vsnprintf, so the result
// is always exactly what vsnprintf gives.
class TraceFormatter
{
public:
    // The contract of vsnprintf: writes at most size - 1 characters and a terminating NUL (nothing when
    // size is 0) and returns the length of the complete text, or a negative value on error.
    static int format(char *buffer, size_t size, const char *format, va_list arguments);
};
