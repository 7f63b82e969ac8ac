#include "app/save_flow.h"

#include <windows.h>
#include <objbase.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include <cstring>
#include <memory>

#include "app/capture_flows.h"
#include "app/shell.h"
#include "app/shell_core.h"
#include "app/signin_window.h"
#include "app/tray.h"
#include "cloud/account.h"
#include "common/clipboard.h"
#include "common/posted.h"
#include "cloud/upload.h"
#include "cloud/upload_core.h"
#include "cloud/utf8_core.h"
#include "storage/folders.h"
#include "storage/log.h"
#include "storage/settings.h"

using Microsoft::WRL::ComPtr;

namespace {

// What a finished save hands to the user-interface thread.
struct SavedCapture {
    std::string state;
    std::wstring link;  // accepted already; empty when the service named none
};

AutoSaveQueue Waiting;
bool Ending = false;
std::wstring LastLink;

// The clipboard may be held by another program for a moment.
bool CopyTextToClipboard(const std::wstring& text) {
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    return PutOnClipboard(CF_UNICODETEXT, bytes, [&](uint8_t* target) { memcpy(target, text.c_str(), bytes); },
                          MainWindow, 5);
}

bool WantsNewCapturesSaved() { return !Ending && CurrentSettings.save_new_to_library && IsSignedIn(); }

void SaveWorker(HWND reportTo, const std::wstring& path) {
    const HRESULT joined = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    PercentReporter reporter;
    const UploadProgress progress = [&](uint64_t done, uint64_t total) {
        if (const std::optional<int> percent = reporter.Update(done, total))
            PostMessageW(reportTo, WM_CLOUD_EVENT, CLOUD_UPLOAD_PROGRESS, static_cast<LPARAM>(*percent));
    };
    std::wstring state, message, link;
    const bool saved = UploadCapture(path, progress, state, message, &link);
    if (SUCCEEDED(joined)) CoUninitialize();
    if (!saved) {
        PostText(reportTo, WM_CLOUD_EVENT, CLOUD_UPLOAD_FAILED, message);
        return;
    }
    try {
        auto result = std::make_unique<SavedCapture>();
        result->state = WideToUtf8(state);
        result->link = link;
        PostObject(reportTo, WM_CLOUD_EVENT, CLOUD_UPLOAD_SAVED, std::move(result));
    } catch (...) {
        // Out of memory: the report is lost, like any posted text.
    }
}

// A save asked for by the user is announced; one that starts by itself is
// seen in the tray tool tip and its end only, so that it does not cover the
// notice of the capture it saves.
void StartSave(const std::wstring& path, bool announce) {
    if (!IsSignedIn()) {
        ShowSignInWindow();
        return;
    }
    if (UploadInProgress.exchange(true)) {
        ShowBalloon(L"NIRA Ostrel", L"A capture is already being saved to the library.", BALLOON_INFO);
        return;
    }
    if (announce) ShowBalloon(L"Saving to your library", std::wstring(PathFileName(path)), BALLOON_INFO);
    const HWND window = MainWindow;
    DWORD error = ERROR_SUCCESS;
    if (!StartDetachedThread([window, path] { SaveWorker(window, path); }, error)) {
        // Nothing will report the end of this save: clear the flag and say so here.
        UploadInProgress.exchange(false);
        ShowBalloon(L"Not saved to the library",
                    L"The save could not be started: " + ErrorText(static_cast<uint32_t>(HRESULT_FROM_WIN32(error))),
                    BALLOON_WARNING);
    }
}

void StartNextWaitingSave() {
    if (!WantsNewCapturesSaved()) {
        Waiting.Clear();
        return;
    }
    if (UploadInProgress.load()) return;
    if (const std::optional<std::wstring> next = Waiting.Next()) StartSave(*next, false);
}

}  // namespace

void SaveToLibrary(const std::wstring& path) { StartSave(path, true); }

void SaveWithPicker() {
    ComPtr<IFileOpenDialog> dialog;
    if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&dialog)))) return;
    const COMDLG_FILTERSPEC types[] = {
        {L"Captures (MP4, PNG, JPEG, WebP, GIF)", L"*.mp4;*.png;*.jpg;*.jpeg;*.webp;*.gif"}};
    dialog->SetFileTypes(1, types);
    dialog->SetTitle(L"Save a capture to your workspace library");
    ComPtr<IShellItem> folder;
    if (SUCCEEDED(SHCreateItemFromParsingName(CurrentSettings.folder.c_str(), nullptr, IID_PPV_ARGS(&folder))))
        dialog->SetFolder(folder.Get());
    if (FAILED(dialog->Show(MainWindow))) return;
    ComPtr<IShellItem> result;
    PWSTR path = nullptr;
    if (FAILED(dialog->GetResult(&result)) || FAILED(result->GetDisplayName(SIGDN_FILESYSPATH, &path))) return;
    const std::wstring chosen = path;
    CoTaskMemFree(path);
    SaveToLibrary(chosen);
}

void SaveNewCapture(const std::wstring& path) {
    if (!WantsNewCapturesSaved()) return;
    if (!UploadInProgress.load() && Waiting.Size() == 0) {
        StartSave(path, false);
        return;
    }
    // Behind the captures before it, in the order they were written.
    if (Waiting.Add(path) == AutoSaveQueue::Offer::Full)
        ShowBalloon(L"NIRA Ostrel",
                    L"Twenty captures are already waiting to be saved to the library, so newer ones are not saved "
                    L"by themselves. Use Save to library for them.",
                    BALLOON_WARNING);
    StartNextWaitingSave();
}

void ForgetWaitingSaves() { Waiting.Clear(); }

void StopSavingNewCaptures() {
    Ending = true;
    Waiting.Clear();
}

void SaveEnded(WPARAM code, LPARAM lParam) {
    // A report without an object handed over by our worker is forged or
    // stale: it must not end the "saving" state of a save still running.
    if (code == CLOUD_UPLOAD_SAVED) {
        const std::unique_ptr<SavedCapture> result = TakePosted<SavedCapture>(lParam);
        if (!result) return;
        UploadInProgress.exchange(false);
        RestoreTrayTip();
        NoticeAction action;
        bool copied = false;
        if (!result->link.empty()) {
            LastLink = result->link;
            copied = CopyTextToClipboard(LastLink);
            if (!copied) Log(L"cloud: the link could not be put on the clipboard");
            action = {NoticeAction::Kind::OpenLink, LastLink};
        }
        ShowBalloon(L"Saved to library", SavedToLibraryText(result->state, copied), BALLOON_INFO, action);
    } else {
        const std::unique_ptr<std::wstring> text = TakePosted<std::wstring>(lParam);
        if (!text) return;
        UploadInProgress.exchange(false);
        RestoreTrayTip();
        ShowBalloon(L"Not saved to the library", *text, BALLOON_WARNING);
    }
    StartNextWaitingSave();
}

const std::wstring& LastSavedLink() { return LastLink; }

void CopyLastSavedLink() {
    if (LastLink.empty()) return;
    if (!CopyTextToClipboard(LastLink))
        ShowBalloon(L"NIRA Ostrel", L"The link could not be put on the clipboard. Please try again.",
                    BALLOON_WARNING);
}
