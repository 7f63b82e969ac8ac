// libFuzzer target for the JSON parser: any bytes must parse or fail cleanly,
// and quoting any bytes must read back as the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "cloud/json_core.h"

namespace {

size_t Walk(const JsonValue& value, int depth) {
    if (depth > kJsonMaxDepth) abort();
    size_t count = 1;
    for (const JsonValue& item : value.items) count += Walk(item, depth + 1);
    for (const auto& member : value.members) count += Walk(member.second, depth + 1);
    (void)JsonText(value);
    return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const JsonValue value = ParseJson(text);
    Walk(value, 0);
    (void)JsonMember(JsonMember(value, "error"), "message");
    if (ParseJson(JsonQuote(text)).text != text) abort();
    return 0;
}
