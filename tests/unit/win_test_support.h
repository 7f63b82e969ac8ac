#pragma once
// Helpers for the unit tests that run under Wine: a scratch folder and
// whole-file reads and writes.
#include <windows.h>

#include <string>

// A fresh, empty folder below the system temporary folder, removed with its
// content when the object goes.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::wstring& Path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

std::string ReadBytes(const std::wstring& path);
void WriteBytes(const std::wstring& path, const std::string& bytes);

// Sets OSTREL_DATA_DIR for the object's life and restores it afterwards.
class DataDirOverride {
public:
    explicit DataDirOverride(const wchar_t* value);
    ~DataDirOverride();
    DataDirOverride(const DataDirOverride&) = delete;
    DataDirOverride& operator=(const DataDirOverride&) = delete;

private:
    std::wstring old_;
    bool hadOld_ = false;
};
