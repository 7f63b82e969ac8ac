#pragma once
// The per-user data folder, the default captures folder, folder creation,
// free space and error texts.
#include <cstdint>
#include <string>

std::wstring DataFolder();
std::wstring DefaultCapturesFolder();
bool EnsureFolder(const std::wstring& path);
// Bytes free to this user on the folder's volume; all ones when unknown, so
// that an unknown figure never blocks a capture.
uint64_t FreeBytes(const std::wstring& path);
std::wstring ErrorText(uint32_t code);
