#include <doctest.h>

#include "app/hotkey_text_core.h"
#include "cloud/utf8_core.h"

TEST_CASE("UTF-8 and wide text convert both ways") {
    const std::wstring wide = L"Vid\u00e9o \u0412\u0438\u0434\u0435\u043e \U0001F3A5";
    const std::string utf8 = "Vid\xC3\xA9o \xD0\x92\xD0\xB8\xD0\xB4\xD0\xB5\xD0\xBE \xF0\x9F\x8E\xA5";
    CHECK(WideToUtf8(wide) == utf8);
    CHECK(Utf8ToWide(utf8) == wide);
    CHECK(Utf8ToWide("") == L"");
}

TEST_CASE("broken UTF-8 becomes replacement characters without eating good text") {
    CHECK(Utf8ToWide("a\xFF" "b") == L"a\uFFFDb");
    CHECK(Utf8ToWide("a\xE2\x82" "b") == L"a\uFFFDb");
    CHECK(Utf8ToWide("\xC0\xAF") == L"\uFFFD\uFFFD");
    CHECK(Utf8ToWide("\xED\xA0\x80") == L"\uFFFD");  // an encoded surrogate
    CHECK(Utf8ToWide("\xF0\x9F") == L"\uFFFD");      // cut at the end
}

TEST_CASE("a lone surrogate in wide text becomes a replacement character") {
    std::wstring lone;
    lone.push_back(static_cast<wchar_t>(0xD800));
    lone += L"x";
    CHECK(WideToUtf8(lone) == "\xEF\xBF\xBDx");
}

TEST_CASE("shortcut texts: fixed modifier order and the decimal fallback") {
    CHECK(ShortcutText(kModAlt | kModShift, 0x52, L"R") == L"Alt+Shift+R");
    CHECK(ShortcutText(7, 0x52, L"R") == L"Ctrl+Alt+Shift+R");
    CHECK(ShortcutText(15 | 0x4000, 0x41, L"A") == L"Ctrl+Alt+Shift+Win+A");
    CHECK(ShortcutText(kModAlt | kModShift, 255, L"") == L"Alt+Shift+255");
    CHECK(ShortcutText(0, 0x70, L"F1") == L"F1");
}
