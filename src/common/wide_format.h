#pragma once
// Every wide printf-style format of the program goes through here so that
// the platform's rule holds everywhere: %s takes a wide string, %S a narrow
// one. (This compiler's swprintf follows ISO C instead, where %s is narrow.)
#include <cstdarg>
#include <string>

// The formatted text, cut to at most maxChars characters (never in the middle
// of a surrogate pair).
std::wstring FormatWideV(size_t maxChars, const wchar_t* format, va_list args);
std::wstring FormatWide(const wchar_t* format, ...);
