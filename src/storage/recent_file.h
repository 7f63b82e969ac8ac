#pragma once
// The recent captures' file in the data folder, "recent.txt", replaced whole.
#include <string>
#include <vector>

#include "storage/recent_core.h"

std::wstring RecentFilePath();
// What the file holds as far as it is sound; none when there is no file.
std::vector<RecentCapture> LoadRecentCaptures();
bool SaveRecentCaptures(const std::vector<RecentCapture>& list);
// Puts a capture just made first in the list.
void NoteRecentCapture(const std::wstring& path);
// Seconds since 1970 now, and a time of that kind as the user's clock shows it.
int64_t SecondsNow();
LocalTime LocalTimeOf(int64_t seconds);
