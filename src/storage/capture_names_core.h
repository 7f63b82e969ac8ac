#pragma once
// Monitor labels and capture file names.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// "Monitor %d (%ld x %ld%s)" with ", main" for the primary monitor; position counts from 1.
std::wstring MonitorLabel(int position, int32_t width, int32_t height, bool primary);

// The first free name of folder\stem + extension, then folder\stem (2) + extension
// and so on. A name is taken when `exists` says so for it or for it + ".part".
std::wstring FirstFreeCaptureName(std::wstring_view folder, std::wstring_view stem, std::wstring_view extension,
                                  const std::function<bool(const std::wstring&)>& exists);

// A screenshot's partial file as only this program names it: "Screenshot "
// + time stamp, maybe " (n)", then ".png.part". A screenshot is never
// resumed, so such a file is a leftover of one that was cut off.
bool IsScreenshotLeftover(std::wstring_view fileName);
// A recording's partial file as this program names it: "Recording " + time
// stamp, maybe " (n)", then ".mp4.part".
bool IsRecordingPartName(std::wstring_view fileName);

// An interrupted recording's kept name: without ".part" and ".mp4", then " (recovered).mp4".
std::wstring RecoveryName(std::wstring_view partPath);
