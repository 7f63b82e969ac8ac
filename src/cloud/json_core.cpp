#include "cloud/json_core.h"

#include <algorithm>
#include <charconv>
#include <limits>

#include "cloud/utf8_core.h"

namespace {

bool IsDigit(char c, bool hex) {
    return (c >= '0' && c <= '9') || (hex && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
}

// Whether a number out of range lies above it rather than below: where its
// first significant digit stands against the point, plus its exponent.
bool AboveRange(const char* p, const char* end, bool hex) {
    long long lead = 0;
    bool point = false, significant = false;
    for (; p != end; ++p) {
        if (*p == '.') {
            point = true;
        } else if (!IsDigit(*p, hex)) {
            break;
        } else if (!point) {
            significant = significant || *p != '0';
            lead += significant ? 1 : 0;
        } else if (!significant) {
            significant = *p != '0';
            lead -= significant ? 0 : 1;
        }
    }
    long long exponent = 0;
    bool negative = false;
    if (p != end) ++p;  // the e or p; the number ends here otherwise
    if (p != end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    for (; p != end && IsDigit(*p, false); ++p) exponent = std::min(exponent * 10 + (*p - '0'), 1LL << 40);
    return (hex ? 4 * lead : lead) + (negative ? -exponent : exponent) > 0;
}

// A number as C's strtod reads it under the classic locale: white space, a
// sign, then a decimal or hexadecimal ("0x") form, inf, infinity, nan or
// nan(...), in any case; out of range gives infinity or zero with the sign.
// Read here, the same in every build: the Windows C runtime's strtod knows
// no inf, nan or hexadecimal forms. Returns the end of the number, or the
// start when there is none.
const char* ReadNumber(const char* start, const char* end, double& out) {
    const char* p = start;
    while (p != end && (*p == ' ' || (*p >= '\t' && *p <= '\r'))) ++p;
    const bool negative = p != end && *p == '-';
    if (p != end && (*p == '+' || *p == '-')) ++p;
    if (p == end || *p == '+' || *p == '-') return start;
    const bool hex = end - p >= 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X');
    double value = 0.0;
    std::from_chars_result read{};
    if (hex) {
        read = p + 2 != end && p[2] != '-' ? std::from_chars(p + 2, end, value, std::chars_format::hex)
                                           : std::from_chars_result{p + 2, std::errc::invalid_argument};
        // "0x" without hexadecimal digits is the number 0 before the x.
        if (read.ec == std::errc::invalid_argument) read = {p + 1, std::errc()};
    } else {
        read = std::from_chars(p, end, value);
    }
    if (read.ec == std::errc::invalid_argument) return start;
    if (read.ec == std::errc::result_out_of_range)
        value = AboveRange(hex ? p + 2 : p, read.ptr, hex) ? std::numeric_limits<double>::infinity() : 0.0;
    out = negative ? -value : value;
    return read.ptr;
}

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp <= 0xFFFF) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | ((cp >> 18) & 0x07)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

class Parser {
public:
    explicit Parser(const std::string& text) : p_(text.c_str()), end_(text.c_str() + text.size()) {}

    bool Value(JsonValue& out, int level) {
        if (level > kJsonMaxDepth) return false;
        SkipSpace();
        if (p_ == end_) return false;
        switch (*p_) {
            case '{':
                return Object(out, level);
            case '[':
                return Array(out, level);
            case '"':
                out.kind = JsonKind::String;
                return String(out.text);
            default:
                break;
        }
        if (Literal("true")) {
            out.kind = JsonKind::Bool;
            out.flag = true;
            return true;
        }
        if (Literal("false")) {
            out.kind = JsonKind::Bool;
            return true;
        }
        if (Literal("null")) return true;
        const char* stop = ReadNumber(p_, end_, out.number);
        if (stop == p_) return false;
        out.kind = JsonKind::Number;
        p_ = stop;
        return true;
    }

private:
    void SkipSpace() {
        while (p_ != end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\n' || *p_ == '\r')) ++p_;
    }

    bool Literal(std::string_view word) {
        if (static_cast<size_t>(end_ - p_) < word.size() || std::string_view(p_, word.size()) != word) return false;
        p_ += word.size();
        return true;
    }

    bool Object(JsonValue& out, int level) {
        out.kind = JsonKind::Object;
        ++p_;
        SkipSpace();
        if (p_ != end_ && *p_ == '}') {
            ++p_;
            return true;
        }
        for (;;) {
            SkipSpace();
            if (p_ == end_ || *p_ != '"') return false;
            std::string key;
            if (!String(key)) return false;
            SkipSpace();
            if (p_ == end_ || *p_ != ':') return false;
            ++p_;
            // A repeated key is read afresh into its one member.
            JsonValue& member = out.members[key];
            WipeJson(member);
            if (!Value(member, level + 1)) return false;
            SkipSpace();
            if (p_ == end_) return false;
            const char next = *p_++;
            if (next == '}') return true;
            if (next != ',') return false;
        }
    }

    bool Array(JsonValue& out, int level) {
        out.kind = JsonKind::Array;
        ++p_;
        SkipSpace();
        if (p_ != end_ && *p_ == ']') {
            ++p_;
            return true;
        }
        for (;;) {
            out.items.emplace_back();
            if (!Value(out.items.back(), level + 1)) return false;
            SkipSpace();
            if (p_ == end_) return false;
            const char next = *p_++;
            if (next == ']') return true;
            if (next != ',') return false;
        }
    }

    // Four hexadecimal digits; a byte that is no digit counts as 0 and is
    // still consumed. Stops early only at the end of the text.
    uint32_t Hex4() {
        uint32_t value = 0;
        for (int i = 0; i < 4 && p_ != end_; ++i, ++p_) {
            const char c = *p_;
            uint32_t digit = 0;
            if (c >= '0' && c <= '9') digit = static_cast<uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f') digit = static_cast<uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') digit = static_cast<uint32_t>(c - 'A' + 10);
            value = value * 16 + digit;
        }
        return value;
    }

    // Bytes up to the closing quote: room for the text, which escapes only shorten.
    size_t RawLength() const {
        const char* q = p_ + 1;
        while (q != end_ && *q != '"') q += (*q == '\\' && end_ - q >= 2) ? 2 : 1;
        return static_cast<size_t>(q - (p_ + 1));
    }

    bool String(std::string& out) {
        out.reserve(RawLength());
        ++p_;
        for (;;) {
            if (p_ == end_) return false;
            const char c = *p_;
            if (c == '"') {
                ++p_;
                return true;
            }
            if (c != '\\' || end_ - p_ < 2) {
                out.push_back(c);
                ++p_;
                continue;
            }
            const char escape = p_[1];
            p_ += 2;
            switch (escape) {
                case 'b': out.push_back('\b'); break;
                case 'f': out.push_back('\f'); break;
                case 'n': out.push_back('\n'); break;
                case 'r': out.push_back('\r'); break;
                case 't': out.push_back('\t'); break;
                case 'u': {
                    uint32_t cp = Hex4();
                    if (cp >= 0xD800 && cp <= 0xDBFF && end_ - p_ >= 2 && p_[0] == '\\' && p_[1] == 'u') {
                        p_ += 2;
                        cp = cp * 1024 + Hex4() - 0x35FDC00;
                    }
                    AppendUtf8(out, cp);
                    break;
                }
                default: out.push_back(escape); break;
            }
        }
    }

    const char* p_;
    const char* end_;
};

}  // namespace

JsonValue ParseJson(const std::string& text) {
    JsonValue value;
    Parser parser(text);
    if (!parser.Value(value, 0)) {
        WipeJson(value);
        return JsonValue{};
    }
    return value;
}

void WipeText(std::string& text) {
    volatile char* bytes = text.data();
    for (size_t i = 0; i < text.size(); ++i) bytes[i] = 0;
    text.clear();
}

void WipeJson(JsonValue& value) {
    WipeText(value.text);
    for (JsonValue& item : value.items) WipeJson(item);
    for (auto& member : value.members) WipeJson(member.second);
    value = JsonValue{};
}

const JsonValue& JsonNull() {
    static const JsonValue null;
    return null;
}

const JsonValue& JsonMember(const JsonValue& value, std::string_view key) {
    const auto found = value.members.find(std::string(key));
    return found == value.members.end() ? JsonNull() : found->second;
}

std::wstring JsonText(const JsonValue& value) {
    return value.kind == JsonKind::String ? Utf8ToWide(value.text) : std::wstring();
}

std::string JsonQuote(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size() + 2);
    out.push_back('"');
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20) {
            out += "\\u00";
            out.push_back(kHex[byte >> 4]);
            out.push_back(kHex[byte & 0xF]);
        } else {
            if (c == '"' || c == '\\') out.push_back('\\');
            out.push_back(c);
        }
    }
    out.push_back('"');
    return out;
}
