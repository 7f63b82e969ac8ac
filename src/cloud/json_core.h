#pragma once
// The JSON the library service speaks: one value type, a small recursive
// parser for response bodies, lookups by key and quoting for request bodies.
// Request bodies are glued from fixed fragments and quoted texts, never
// written from values.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

enum class JsonKind : int32_t { Null, Bool, Number, String, Array, Object };

// Every field is present whatever the kind, so reading the number of a
// non-Number gives 0.0 and the text of a non-String an empty text.
struct JsonValue {
    JsonKind kind = JsonKind::Null;
    bool flag = false;
    double number = 0.0;
    std::string text;                         // UTF-8
    std::vector<JsonValue> items;             // in text order
    std::map<std::string, JsonValue> members;  // ordered by byte comparison of the keys
};

// Deepest nesting level a value may stand at (the top value is level 0).
constexpr int kJsonMaxDepth = 32;

// Parses from the start of the text; bytes after the first complete value are
// ignored. Any failure gives a fresh Null value. A text is read into memory of
// its final size, so a secret in it leaves no copies behind in freed memory.
JsonValue ParseJson(const std::string& text);

// Overwrites every text in the value, its items and members with zero bytes
// and leaves it Null: for answers that carried a secret.
void WipeJson(JsonValue& value);
// Overwrites the bytes with zeros and empties the text.
void WipeText(std::string& text);

// The one process-wide Null value that failed lookups return; read-only.
const JsonValue& JsonNull();

// The member with exactly this key, or the shared Null value. Works on any
// kind: only Objects have members.
const JsonValue& JsonMember(const JsonValue& value, std::string_view key);

// A String's text as wide text; empty for every other kind.
std::wstring JsonText(const JsonValue& value);

// The bytes as a JSON string: control bytes as "\u00xx", quote and backslash
// escaped, every other byte (UTF-8 included) copied unchanged.
std::string JsonQuote(std::string_view text);
