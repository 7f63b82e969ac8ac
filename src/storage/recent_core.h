#pragma once
// The recent captures the tray menu offers: the list, its file (read as far
// as it is sound, never trusted beyond), and how an entry is labelled.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct RecentCapture {
    std::wstring path;  // a full path
    int64_t taken = 0;  // seconds since 1970 (UTC)
    bool operator==(const RecentCapture&) const = default;
};

constexpr size_t kRecentCaptures = 10;
// More than ten entries of the longest paths need; what lies beyond is not read.
constexpr size_t kRecentFileLimit = 1 << 20;

// The entries of a file's bytes, newest first: each line the time taken,
// a tab and the path (UTF-8). Reading stops at the first line that is not
// sound (a time that is no time, a path that is not full, a control
// character or bad UTF-8 in it, a line cut off), and after ten entries; a
// path seen already is skipped.
std::vector<RecentCapture> ParseRecentFile(std::string_view bytes);

// The file's bytes for a list.
std::string RecentFileText(const std::vector<RecentCapture>& list);

// The list with `capture` first: the same path further down goes, and only ten stay.
std::vector<RecentCapture> WithRecent(std::vector<RecentCapture> list, RecentCapture capture);

// The root of the drive an entry's file is on ("C:\", also for "\\?\C:\..."),
// or none for a file on a share ("\\server\share\...", "\\?\UNC\..."). The
// menu looks for files on drives as it opens, but not on shares, nor on
// drives mapped to one: a share that has gone holds each look for the
// network's time-out.
std::wstring RecentDriveRoot(std::wstring_view path);

enum class RecentKind { Screenshot, Recording, Other };
RecentKind RecentKindOf(std::wstring_view path);

struct LocalTime {
    int32_t year = 0, month = 0, day = 0, hour = 0, minute = 0;
};

// When an entry was taken, as the menu says it: "Today, 14:05",
// "Yesterday, 09:30", "9 Dec, 18:02", or with the year when it is not this one.
std::wstring RecentWhen(const LocalTime& taken, const LocalTime& now);

// A menu entry: the file's name ("&" doubled), a tab and when it was taken.
std::wstring RecentMenuLabel(std::wstring_view path, const LocalTime& taken, const LocalTime& now);
