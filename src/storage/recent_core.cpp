#include "storage/recent_core.h"

#include <cstdio>

#include "cloud/utf8_core.h"

namespace {

constexpr int64_t kLatestTime = 253402300799;  // the last second of the year 9999
constexpr size_t kLongestPath = 32767;

bool OnDriveLetter(std::wstring_view path) {
    return path.size() >= 3 && ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) &&
           path[1] == L':' && path[2] == L'\\';
}

bool FullPath(std::wstring_view path) {
    const bool share = path.size() >= 3 && path[0] == L'\\' && path[1] == L'\\' && path[2] != L'\\';
    return OnDriveLetter(path) || share;
}

wchar_t Folded(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + 32) : c; }

bool SamePath(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Folded(a[i]) != Folded(b[i])) return false;
    return true;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

std::wstring Clock(const LocalTime& t) {
    wchar_t text[16];
    std::swprintf(text, 16, L"%02d:%02d", static_cast<int>(t.hour % 100), static_cast<int>(t.minute % 100));
    return text;
}

}  // namespace

std::vector<RecentCapture> ParseRecentFile(std::string_view bytes) {
    if (bytes.size() > kRecentFileLimit) bytes = bytes.substr(0, kRecentFileLimit);
    std::vector<RecentCapture> list;
    while (!bytes.empty() && list.size() < kRecentCaptures) {
        const size_t end = bytes.find('\n');
        if (end == std::string_view::npos) break;  // cut off
        std::string_view line = bytes.substr(0, end);
        bytes.remove_prefix(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const size_t tab = line.find('\t');
        if (tab == 0 || tab == std::string_view::npos || tab > 12) break;
        int64_t taken = 0;
        bool digits = true;
        for (const char c : line.substr(0, tab)) {
            digits = digits && c >= '0' && c <= '9';
            if (digits) taken = taken * 10 + (c - '0');
        }
        if (!digits || taken > kLatestTime) break;
        const std::wstring path = Utf8ToWide(line.substr(tab + 1));
        bool sound = FullPath(path) && path.size() <= kLongestPath;
        for (const wchar_t c : path) sound = sound && c >= 0x20 && c != 0x7F && c != 0xFFFD;
        if (!sound) break;
        bool seen = false;
        for (const RecentCapture& entry : list) seen = seen || SamePath(entry.path, path);
        if (!seen) list.push_back({path, taken});
    }
    return list;
}

std::string RecentFileText(const std::vector<RecentCapture>& list) {
    std::string text;
    for (const RecentCapture& entry : list) text += std::to_string(entry.taken) + "\t" + WideToUtf8(entry.path) + "\n";
    return text;
}

std::vector<RecentCapture> WithRecent(std::vector<RecentCapture> list, RecentCapture capture) {
    std::vector<RecentCapture> result{std::move(capture)};
    for (RecentCapture& entry : list)
        if (result.size() < kRecentCaptures && !SamePath(entry.path, result.front().path))
            result.push_back(std::move(entry));
    return result;
}

std::wstring RecentDriveRoot(std::wstring_view path) {
    if (path.substr(0, 4) == L"\\\\?\\") {
        path.remove_prefix(4);
        if (path.size() >= 4 && Folded(path[0]) == L'u' && Folded(path[1]) == L'n' && Folded(path[2]) == L'c' &&
            path[3] == L'\\')
            return {};
    }
    return OnDriveLetter(path) ? std::wstring(path.substr(0, 3)) : std::wstring();
}

RecentKind RecentKindOf(std::wstring_view path) {
    const auto endsWith = [&](std::wstring_view ending) {
        return path.size() >= ending.size() && SamePath(path.substr(path.size() - ending.size()), ending);
    };
    if (endsWith(L".png")) return RecentKind::Screenshot;
    if (endsWith(L".mp4")) return RecentKind::Recording;
    return RecentKind::Other;
}

std::wstring RecentWhen(const LocalTime& taken, const LocalTime& now) {
    static const wchar_t* const kMonths[] = {L"Jan", L"Feb", L"Mar", L"Apr", L"May", L"Jun",
                                             L"Jul", L"Aug", L"Sep", L"Oct", L"Nov", L"Dec"};
    const int64_t days = DaysFromCivil(now.year, now.month, now.day) - DaysFromCivil(taken.year, taken.month, taken.day);
    if (days == 0) return L"Today, " + Clock(taken);
    if (days == 1) return L"Yesterday, " + Clock(taken);
    const wchar_t* month = taken.month >= 1 && taken.month <= 12 ? kMonths[taken.month - 1] : L"?";
    std::wstring date = std::to_wstring(taken.day) + L" " + month;
    if (taken.year != now.year) date += L" " + std::to_wstring(taken.year);
    return date + L", " + Clock(taken);
}

std::wstring RecentMenuLabel(std::wstring_view path, const LocalTime& taken, const LocalTime& now) {
    const size_t slash = path.find_last_of(L"\\/");
    const std::wstring_view name = slash == std::wstring_view::npos ? path : path.substr(slash + 1);
    std::wstring label;
    for (const wchar_t c : name) {
        label += c;
        if (c == L'&') label += L'&';
    }
    return label + L"\t" + RecentWhen(taken, now);
}
