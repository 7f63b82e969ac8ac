#pragma once
// UTF-8 <-> wide text. Wide strings are UTF-16 on Windows and UTF-32 where
// wchar_t is 32 bits (the native test build); both directions handle either.
// Invalid input never fails: each bad sequence becomes U+FFFD.
#include <string>
#include <string_view>

std::wstring Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::wstring_view wide);
