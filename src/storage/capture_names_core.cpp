#include "storage/capture_names_core.h"

#include "storage/settings_core.h"
#include "storage/storage_core.h"

std::wstring MonitorLabel(int position, int32_t width, int32_t height, bool primary) {
    return L"Monitor " + DecimalText(position) + L" (" + DecimalText(width) + L" x " + DecimalText(height) +
           (primary ? L", main)" : L")");
}

std::wstring FirstFreeCaptureName(std::wstring_view folder, std::wstring_view stem, std::wstring_view extension,
                                  const std::function<bool(const std::wstring&)>& exists) {
    const std::wstring base = JoinPath(folder, stem);
    std::wstring candidate = base + std::wstring(extension);
    for (int64_t n = 2;; ++n) {
        if (!exists(candidate) && !exists(candidate + L".part")) return candidate;
        candidate = base + L" (" + DecimalText(n) + L")" + std::wstring(extension);
    }
}

std::wstring RecoveryName(std::wstring_view partPath) {
    std::wstring_view name = partPath;
    if (name.size() >= 5) name.remove_suffix(5);
    if (name.size() >= 4) name.remove_suffix(4);
    return std::wstring(name) + L" (recovered).mp4";
}
