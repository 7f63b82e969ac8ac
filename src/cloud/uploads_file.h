#pragma once
// uploads.txt in the data folder: which service capture id belongs to which
// local file (path and size), for uploads not completed yet.
#include <string>

std::wstring UploadsFilePath();
// The id recorded for the key, or empty.
std::string FindUploadId(const std::string& key);
// Records the id at the end of the file, or removes the key's entry for an
// empty id. Writers in all our processes take turns, and the file is replaced
// whole. A file that exists but cannot be read is left as it is. Failures are
// ignored: the next save then starts afresh.
void SetUploadId(const std::string& key, const std::string& id);
