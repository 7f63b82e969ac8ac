#include <doctest.h>

#include "app/hotkeys.h"
#include "common/wide_format.h"

TEST_CASE("wide formats: %s is wide, %S narrow, also for non-ASCII paths") {
    const wchar_t* path = L"C:\\Users\\Zo\u00eb\\\u0412\u0438\u0434\u0435\u043e\\Recording.mp4";
    CHECK(FormatWide(L"Recording stopped (%s)", path) ==
          std::wstring(L"Recording stopped (") + path + L")");
    CHECK(FormatWide(L"%S and %d and %llu", "narrow", -5, 18446744073709551615ULL) ==
          L"narrow and -5 and 18446744073709551615");
    CHECK(FormatWide(L"%08X", 0xABCu) == L"00000ABC");
}

namespace {
std::wstring Capped(size_t max, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::wstring text = FormatWideV(max, format, args);
    va_end(args);
    return text;
}
}  // namespace

TEST_CASE("wide formats are cut at the cap, never inside a surrogate pair") {
    const std::wstring big(3000, L'z');
    CHECK(Capped(1023, L"%s", big.c_str()).size() == 1023);
    CHECK(Capped(1023, L"%s", L"short") == L"short");
    CHECK(Capped(3, L"ab\U0001F3A5") == L"ab");
    CHECK(Capped(4, L"ab\U0001F3A5") == L"ab\U0001F3A5");
}

TEST_CASE("shortcut texts use the keyboard layout's key names") {
    CHECK(HotkeyText(5, 0x52) == L"Alt+Shift+R");
    CHECK(HotkeyText(7, 0x53) == L"Ctrl+Alt+Shift+S");
    CHECK(HotkeyText(5, 255) == L"Alt+Shift+255");
}
