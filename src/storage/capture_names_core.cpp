#include "storage/capture_names_core.h"

#include "storage/settings_core.h"
#include "storage/storage_core.h"

namespace {

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

}  // namespace

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

namespace {
// "lead" + time stamp, maybe " (n)", then "tail".
bool IsOurPartName(std::wstring_view name, std::wstring_view lead, std::wstring_view tail) {
    constexpr std::wstring_view stamp = L"0000-00-00 00-00-00";
    if (name.size() < lead.size() + stamp.size() + tail.size() || name.substr(0, lead.size()) != lead ||
        name.substr(name.size() - tail.size()) != tail)
        return false;
    std::wstring_view middle = name.substr(lead.size(), name.size() - lead.size() - tail.size());
    for (size_t i = 0; i < stamp.size(); ++i)
        if (stamp[i] == L'0' ? !IsDigit(middle[i]) : middle[i] != stamp[i]) return false;
    middle.remove_prefix(stamp.size());
    if (middle.empty()) return true;
    // The number a second capture of the same second gets: " (2)".
    if (middle.size() < 4 || middle.substr(0, 2) != L" (" || middle.back() != L')') return false;
    for (wchar_t c : middle.substr(2, middle.size() - 3))
        if (!IsDigit(c)) return false;
    return true;
}
}  // namespace

bool IsScreenshotLeftover(std::wstring_view name) { return IsOurPartName(name, L"Screenshot ", L".png.part"); }

bool IsRecordingPartName(std::wstring_view name) { return IsOurPartName(name, L"Recording ", L".mp4.part"); }

std::wstring RecoveryName(std::wstring_view partPath) {
    std::wstring_view name = partPath;
    if (name.size() >= 5) name.remove_suffix(5);
    if (name.size() >= 4) name.remove_suffix(4);
    return std::wstring(name) + L" (recovered).mp4";
}
