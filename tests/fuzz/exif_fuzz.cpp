// libFuzzer target: the EXIF orientation of any bytes, read within their bounds.
#include <cstddef>
#include <cstdint>

#include "editor/editor_core.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint32_t orientation = editor::JpegOrientation(data, size);
    if (orientation < 1 || orientation > 8) __builtin_trap();
    return 0;
}
