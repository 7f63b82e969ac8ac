#include <doctest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "cloud/json_core.h"

namespace {

bool IsNull(const std::string& text) {
    const JsonValue v = ParseJson(text);
    return v.kind == JsonKind::Null && v.items.empty() && v.members.empty() && v.text.empty();
}

// The number a text reads as when it is the whole element of an array;
// none when the number does not take the text whole.
std::optional<double> Element(const std::string& text) {
    const JsonValue v = ParseJson("[" + text + "]");
    if (v.kind != JsonKind::Array || v.items.size() != 1 || v.items[0].kind != JsonKind::Number) return std::nullopt;
    return v.items[0].number;
}

std::string Nested(int depth, const std::string& inner) {
    return std::string(static_cast<size_t>(depth), '[') + inner + std::string(static_cast<size_t>(depth), ']');
}

}  // namespace

TEST_CASE("malformed, empty and truncated texts give Null") {
    for (const char* text : {"", " \t\r\n", "{\"a\":1,}", "[1,]", "[1 2]", "{\"a\" 1}", "{a:1}", "[1", "{\"a\":1",
                             "\"open", "\"ends in backslash\\", "{\"a\":}", "[,1]", "-", "x", "\v1"}) {
        INFO(text);
        // strtod skips a vertical tab itself, so only that text reads as a number.
        CHECK(IsNull(text) == (std::string(text) != "\v1"));
    }
    // What was read before the fault does not survive.
    CHECK(IsNull("{\"a\":[1,2,{\"b\":\"c\"}],\"d\":tru}"));
}

TEST_CASE("values of every kind, and the bytes after the first value are ignored") {
    const JsonValue v = ParseJson(" {\"a\":1,\"list\":[true,false,null,-2.5e1,\"s\"],\"o\":{}} trailing text");
    REQUIRE(v.kind == JsonKind::Object);
    CHECK(JsonMember(v, "a").number == 1.0);
    const JsonValue& list = JsonMember(v, "list");
    REQUIRE(list.items.size() == 5);
    CHECK((list.items[0].kind == JsonKind::Bool && list.items[0].flag));
    CHECK((list.items[1].kind == JsonKind::Bool && !list.items[1].flag));
    CHECK(list.items[2].kind == JsonKind::Null);
    CHECK(list.items[3].number == -25.0);
    CHECK(JsonText(list.items[4]) == L"s");
    CHECK(JsonMember(v, "o").kind == JsonKind::Object);
    // Only the literal's bytes are compared; the rest is left to what follows.
    CHECK(ParseJson("truex").flag);
    CHECK(IsNull("[truex]"));
    // Whatever strtod reads is a number.
    CHECK(ParseJson("+7").number == 7.0);
}

TEST_CASE("nesting stops at 32 levels") {
    CHECK(ParseJson(Nested(32, "1")).kind == JsonKind::Array);
    CHECK(IsNull(Nested(33, "1")));
    CHECK(ParseJson(Nested(33, "")).kind == JsonKind::Array);
    CHECK(IsNull(Nested(34, "")));
    CHECK(IsNull(Nested(100000, "")));  // deep input cannot exhaust the stack
}

TEST_CASE("string escapes, code points and surrogate pairs") {
    CHECK(ParseJson("\"\\u00e9\"").text == "\xC3\xA9");
    CHECK(ParseJson("\"\\ud83d\\ude00\"").text == "\xF0\x9F\x98\x80");
    CHECK(ParseJson("\"\\u00g1\"").text == std::string("\x01", 1));
    CHECK(ParseJson("\"\\b\\f\\n\\r\\t\\\"\\\\\\/\\q\"").text == "\b\f\n\r\t\"\\/q");
    CHECK(ParseJson("\"\\ud83d\"").text == "\xED\xA0\xBD");  // a lone first half stays as it is
    CHECK(ParseJson("\"\\u0041\\u07FF\\uFFFF\"").text == "A\xDF\xBF\xEF\xBF\xBF");
    CHECK(ParseJson(std::string("\"raw\x01\xFF\"", 7)).text == "raw\x01\xFF");
    CHECK(IsNull("\"\\u12"));  // digits cut by the end of the text, then no closing quote
}

TEST_CASE("lookups: a missing key or a non-object gives the shared Null") {
    const JsonValue v = ParseJson("{\"error\":{\"message\":\"Gone\"},\"n\":5,\"n\":{\"x\":1}}");
    CHECK(JsonText(JsonMember(JsonMember(v, "error"), "message")) == L"Gone");
    CHECK(&JsonMember(v, "missing") == &JsonNull());
    CHECK(JsonText(JsonMember(v, "missing")).empty());
    const JsonValue number = ParseJson("5");
    CHECK(JsonMember(number, "a").number == 0.0);
    CHECK(JsonText(number).empty());
    // A repeated key keeps one member, read afresh from its later text.
    CHECK(JsonMember(v, "n").kind == JsonKind::Object);
    CHECK(JsonMember(v, "n").number == 0.0);
}

// The Windows C runtime's strtod knows no inf, nan or hexadecimal forms; this
// runs in both builds.
TEST_CASE("numbers read as C's strtod reads them, in every build") {
    constexpr double inf = std::numeric_limits<double>::infinity();
    for (const char* text : {"inf", "INF", "+Infinity", "infinity"}) CHECK(Element(text) == inf);
    CHECK(Element("-inf") == -inf);
    for (const char* text : {"nan", "NaN", "-nan", "nan()", "nan(0x1F_a)"}) {
        INFO(text);
        CHECK((Element(text) && std::isnan(*Element(text))));
    }
    CHECK(Element("0x1p3") == 8.0);
    CHECK(Element("0X.8P1") == 1.0);
    CHECK(Element("-0x1.8p1") == -3.0);
    CHECK(Element("0x10") == 16.0);
    CHECK(Element(".5") == 0.5);
    CHECK(Element("5.") == 5.0);
    CHECK(Element("0.1") == 0.1);
    CHECK(Element("2.2250738585072011e-308") == 2.2250738585072011e-308);
    // Out of range: infinity above, zero (with its sign) below.
    CHECK(Element("1e400") == inf);
    CHECK(Element("-1" + std::string(400, '0')) == -inf);
    CHECK(Element("0x1p99999") == inf);
    CHECK(Element("4.9e-324") == std::numeric_limits<double>::denorm_min());
    for (const std::string& text : {std::string("1e-400"), "0." + std::string(400, '0') + "1", std::string("0x1p-99999")}) {
        INFO(text);
        CHECK((Element(text) == 0.0 && !std::signbit(*Element(text))));
    }
    CHECK(std::signbit(Element("-1e-400").value_or(1.0)));
    // Only the longest form strtod takes is read: the rest stays.
    for (const char* text : {"infinit", "nan(", "nan(a-b)", "0x", "0x1p", "1e", "1e+", "+-7", "- 7", "--7", "0x1.8q"}) {
        INFO(text);
        CHECK_FALSE(Element(text));
    }
    CHECK(ParseJson("0x").number == 0.0);
    CHECK(ParseJson("infinit").number == inf);
}

TEST_CASE("numbers read the same under a decimal-comma locale") {
    const char* applied = nullptr;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "German_Germany.1252", "German"}) {
        if ((applied = std::setlocale(LC_NUMERIC, name)) != nullptr) break;
    }
    const double value = ParseJson("[1.5]").items.at(0).number;
    std::setlocale(LC_NUMERIC, "C");
    if (applied == nullptr) MESSAGE("no decimal-comma locale here; checked under the classic one only");
    CHECK(value == 1.5);
}

TEST_CASE("JsonQuote escapes control bytes, quote and backslash only") {
    CHECK(JsonQuote("a\"b\\\n") == "\"a\\\"b\\\\\\u000a\"");
    CHECK(JsonQuote("") == "\"\"");
    CHECK(JsonQuote(std::string("\x00\x1f\x7f\xC3\xA9/", 6)) == std::string("\"\\u0000\\u001f\x7f\xC3\xA9/\""));
    // Quoted text parses back to the same bytes.
    const std::string odd("tab\there \x01 \"q\" \\ \xF0\x9F\x98\x80");
    CHECK(ParseJson(JsonQuote(odd)).text == odd);
}
