#pragma once
// Files that are always read whole and must never be seen half-written.
#include <cstdint>
#include <string>

// Replaces the file at path with these bytes: they go to path + ".new", are
// flushed, and that file is moved over path (replacing it, written through),
// so a reader or a crash meets the old file or the new one, never a cut one.
// A reader that has path open keeps it from being replaced, so the move is
// tried again for up to two seconds. False leaves the old file in place.
bool ReplaceWholeFile(const std::wstring& path, const void* bytes, uint32_t size);
