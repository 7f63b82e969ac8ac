#include "app/recent_menu.h"

#include <shellapi.h>
#include <shlobj.h>

#include <cstring>
#include <vector>

#include "app/editor_window.h"
#include "app/save_flow.h"
#include "app/shell.h"
#include "app/shell_core.h"
#include "app/tray.h"
#include "app/trim_window.h"
#include "capture/screenshot.h"
#include "common/clipboard.h"
#include "editor/editor_picture.h"
#include "storage/folders.h"
#include "storage/log.h"
#include "storage/recent_file.h"
#include "storage/storage_core.h"

namespace {

// What the submenu offered when it was last shown, by entry.
std::vector<std::wstring> Offered;

bool FileThere(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Only files on a local drive are looked for as the menu opens (see RecentDriveRoot).
bool LookedForAtOnce(const std::wstring& path) {
    const std::wstring root = RecentDriveRoot(path);
    return !root.empty() && GetDriveTypeW(root.c_str()) != DRIVE_REMOTE;
}

void Forget(const std::wstring& path) {
    std::vector<RecentCapture> list = LoadRecentCaptures();
    std::erase_if(list, [&](const RecentCapture& entry) { return entry.path == path; });
    SaveRecentCaptures(list);
}

void Say(const std::wstring& text) { MessageBoxW(MainWindow, text.c_str(), L"NIRA Ostrel", MB_ICONWARNING); }

// The file itself, as Explorer's Copy puts it on the clipboard.
bool CopyFileToClipboard(const std::wstring& path) {
    const size_t bytes = sizeof(DROPFILES) + (path.size() + 2) * sizeof(wchar_t);
    return PutOnClipboard(CF_HDROP, bytes, [&](uint8_t* block) {
        std::memset(block, 0, bytes);
        auto* drop = reinterpret_cast<DROPFILES*>(block);
        drop->pFiles = sizeof(DROPFILES);
        drop->fWide = TRUE;
        std::memcpy(block + sizeof(DROPFILES), path.c_str(), path.size() * sizeof(wchar_t));
    }, MainWindow, 10);
}

void Copy(const std::wstring& path) {
    if (RecentKindOf(path) == RecentKind::Screenshot) {
        LoadedPicture loaded;
        std::wstring problem;
        if (!LoadPicture(path, loaded, problem)) {
            Say(L"The screenshot could not be copied: " + problem);
            return;
        }
        const editor::Picture& picture = loaded.picture;
        if (CopyBitmapToClipboard(picture.pixels.data(), static_cast<uint32_t>(picture.width),
                                  static_cast<uint32_t>(picture.height), static_cast<uint32_t>(picture.width) * 4, 10)) {
            ShowBalloon(L"Screenshot copied", std::wstring(PathFileName(path)), BALLOON_INFO);
            return;
        }
    } else if (CopyFileToClipboard(path)) {
        ShowBalloon(L"Recording copied", std::wstring(PathFileName(path)) + L" can be pasted as a file.", BALLOON_INFO);
        return;
    }
    Say(L"Nothing was copied: another program is using the clipboard. Try again in a moment.");
}

}  // namespace

void FillRecentMenu(HMENU menu, bool signedIn, bool uploading) {
    Offered.clear();
    const std::vector<RecentCapture> listed = LoadRecentCaptures();
    std::vector<RecentCapture> kept;
    for (const RecentCapture& entry : listed)
        if (!LookedForAtOnce(entry.path) || FileThere(entry.path)) kept.push_back(entry);
    if (kept.size() != listed.size()) SaveRecentCaptures(kept);
    const LocalTime now = LocalTimeOf(SecondsNow());
    for (const RecentCapture& entry : kept) {
        HMENU actions = CreatePopupMenu();
        if (actions == nullptr) break;
        const RecentKind kind = RecentKindOf(entry.path);
        const UINT first = ID_RECENT + static_cast<UINT>(Offered.size()) * kRecentActions;
        for (const RecentActionItem& item :
             RecentActionItems(kind == RecentKind::Screenshot, kind == RecentKind::Recording, signedIn, uploading))
            AppendMenuW(actions, MF_STRING | (item.grayed ? MF_GRAYED : 0u), first + static_cast<UINT>(item.action),
                        item.text.c_str());
        const std::wstring label = RecentMenuLabel(entry.path, LocalTimeOf(entry.taken), now);
        if (!AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(actions), label.c_str())) {
            DestroyMenu(actions);
            break;
        }
        Offered.push_back(entry.path);
    }
    if (Offered.empty()) AppendMenuW(menu, MF_STRING | MF_GRAYED, 0, L"No captures yet");
}

bool DoRecentCommand(WORD id) {
    if (id < ID_RECENT || id >= ID_RECENT + kRecentCaptures * kRecentActions) return false;
    const size_t entry = (id - ID_RECENT) / kRecentActions;
    const auto action = static_cast<RecentAction>((id - ID_RECENT) % kRecentActions);
    if (entry >= Offered.size()) return true;
    const std::wstring path = Offered[entry];
    if (action != RecentAction::ShowInFolder && !FileThere(path)) {
        Forget(path);
        Say(std::wstring(PathFileName(path)) + L" is no longer there. It may have been moved or deleted.");
        return true;
    }
    switch (action) {
        case RecentAction::Open:
            ShellExecuteW(nullptr, L"open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
            break;
        case RecentAction::ShowInFolder:
            ShowCaptureInFolder(path);
            break;
        case RecentAction::Copy:
            Copy(path);
            break;
        case RecentAction::Edit:
            OpenEditorOrSay(path);
            break;
        case RecentAction::Trim:
            OpenTrimWindowOrSay(path);
            break;
        case RecentAction::SaveToLibrary:
            SaveToLibrary(path);
            break;
    }
    return true;
}

void NoteCapture(const std::wstring& path) {
    LastCapture = path;
    NoteRecentCapture(path);
}
