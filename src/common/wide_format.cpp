#include "common/wide_format.h"

#include <cwchar>
#include <stdio.h>
#include <vector>

std::wstring FormatWideV(size_t maxChars, const wchar_t* format, va_list args) {
    if (format == nullptr) return {};
    // _vsnwprintf keeps the platform's rule; it reports -1 when the text does
    // not fit, so grow up to the cap and cut there.
    size_t capacity = maxChars < 256 ? maxChars + 1 : 256;
    for (;;) {
        std::vector<wchar_t> buffer(capacity + 1, L'\0');
        va_list copy;
        va_copy(copy, args);
        const int written = _vsnwprintf(buffer.data(), capacity, format, copy);
        va_end(copy);
        if (written >= 0 && static_cast<size_t>(written) < capacity) {
            std::wstring text(buffer.data(), static_cast<size_t>(written));
            if (text.size() > maxChars) text.resize(maxChars);
            if (!text.empty() && text.back() >= 0xD800 && text.back() <= 0xDBFF) text.pop_back();
            return text;
        }
        if (capacity > maxChars) {
            std::wstring text(buffer.data(), maxChars);
            if (!text.empty() && text.back() >= 0xD800 && text.back() <= 0xDBFF) text.pop_back();
            return text;
        }
        capacity = capacity * 4 > maxChars ? maxChars + 1 : capacity * 4;
    }
}

std::wstring FormatWide(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::wstring text = FormatWideV(size_t{1} << 20, format, args);
    va_end(args);
    return text;
}
