#include "support/stringx.h"

#include <cstdio>

void FormatV(_stringx<>& target, const wchar_t* format, va_list arguments)
{
    va_list counting;
    va_copy(counting, arguments);
    // The Microsoft formatters: %s takes a wide string in a wide format.
    int count = _vscwprintf(format, counting);
    va_end(counting);
    std::size_t needed = count < 0 ? 0 : static_cast<std::size_t>(count) + 1;
    if (needed == 0) {
        target.clear();
        return;
    }
    if (needed > target.length()) {
        target.append(needed - target.length(), L'\0');
    }
    _stringx<>::string_buffer buffer(target);
    _vsnwprintf_s(buffer.get(), needed, _TRUNCATE, format, arguments);
}

void Format(_stringx<>& target, const wchar_t* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    FormatV(target, format, arguments);
    va_end(arguments);
}

_stringx<> FormatText(const wchar_t* format, ...)
{
    _stringx<> text;
    va_list arguments;
    va_start(arguments, format);
    FormatV(text, format, arguments);
    va_end(arguments);
    return text;
}
