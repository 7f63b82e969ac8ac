#include "app/recovery.h"

#include <windows.h>

#include "app/shell.h"
#include "app/shell_core.h"
#include "app/tray.h"
#include "common/unique_handle.h"
#include "recorder/mp4_recovery_core.h"
#include "storage/capture_names_core.h"
#include "storage/folders.h"
#include "storage/log.h"
#include "storage/monitors.h"
#include "storage/settings.h"

namespace {

// Reads a file at any offset, for the recovery checks of the core.
mp4::ReadAt FileReader(HANDLE file) {
    return [file](uint64_t offset, uint8_t* out, size_t count) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD read = 0;
        return ReadFile(file, out, static_cast<DWORD>(count), &read, &at) && read == count;
    };
}

// A recording of ours that was cut off before its first picture was written
// whole: it has nothing to offer back.
bool HoldsNoPicture(const std::wstring& path) {
    if (!IsRecordingPartName(PathFileName(path))) return false;
    UniqueHandle file(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.Get(), &size)) return false;
    return mp4::PictureIn(static_cast<uint64_t>(size.QuadPart), FileReader(file.Get())) == mp4::PictureContent::None;
}

// A recording cut off in the middle of a fragment ends in bytes that make
// players reject the whole file; those are cut away. A file whose start is
// unreadable is left as it is.
void TrimToPlayable(const std::wstring& path) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.Get(), &size)) return;
    const uint64_t keep = mp4::PlayableLength(static_cast<uint64_t>(size.QuadPart), FileReader(file.Get()));
    if (keep == 0 || keep >= static_cast<uint64_t>(size.QuadPart)) return;
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(keep);
    if (SetFilePointerEx(file.Get(), end, nullptr, FILE_BEGIN)) SetEndOfFile(file.Get());
}

}  // namespace

void OfferRecoveries() {
    // A screenshot cut off (the program was killed) left its partial file,
    // which would keep its name taken for good; a screenshot is never resumed.
    for (const std::wstring& part : FindCaptureFiles(CurrentSettings.folder, L"Screenshot *.png.part"))
        if (IsScreenshotLeftover(PathFileName(part))) DeleteFileW(part.c_str());

    for (const std::wstring& part : FindPartFiles(CurrentSettings.folder)) {
        if (HoldsNoPicture(part)) {
            Log(L"Removed %s: it holds no picture to recover", part.c_str());
            DeleteFileW(part.c_str());
            continue;
        }
        const std::wstring keep = RecoveryName(part);
        const std::wstring question = RecoveryQuestion(part, keep);
        const int answer =
            MessageBoxW(nullptr, question.c_str(), L"NIRA Ostrel: recover a recording", MB_YESNOCANCEL | MB_ICONQUESTION);
        if (answer == IDYES) {
            if (MoveFileExW(part.c_str(), keep.c_str(), 0)) {
                TrimToPlayable(keep);
                ShowBalloon(L"Recording recovered", keep, BALLOON_INFO);
            } else {
                const std::wstring text = L"It could not be renamed: " + ErrorText(HResultFromWin32(GetLastError()));
                MessageBoxW(nullptr, text.c_str(), L"NIRA Ostrel", MB_ICONWARNING);
            }
        } else if (answer == IDNO) {
            DeleteFileW(part.c_str());
        }
    }
}
