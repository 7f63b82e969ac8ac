#include "cloud/save_flow.h"

#include <windows.h>
#include <objbase.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include "app/capture_flows.h"
#include "app/shell.h"
#include "app/shell_core.h"
#include "app/signin_window.h"
#include "app/tray.h"
#include "cloud/account.h"
#include "cloud/upload.h"
#include "cloud/upload_core.h"
#include "cloud/utf8_core.h"
#include "storage/folders.h"
#include "storage/settings.h"

using Microsoft::WRL::ComPtr;

namespace {

void SaveWorker(HWND reportTo, const std::wstring& path) {
    const HRESULT joined = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    PercentReporter reporter;
    const UploadProgress progress = [&](uint64_t done, uint64_t total) {
        if (const std::optional<int> percent = reporter.Update(done, total))
            PostMessageW(reportTo, WM_CLOUD_EVENT, CLOUD_UPLOAD_PROGRESS, static_cast<LPARAM>(*percent));
    };
    std::wstring state, message;
    const bool saved = UploadCapture(path, progress, state, message);
    if (SUCCEEDED(joined)) CoUninitialize();
    if (saved)
        PostText(reportTo, WM_CLOUD_EVENT, CLOUD_UPLOAD_SAVED, SavedToLibraryText(WideToUtf8(state)));
    else
        PostText(reportTo, WM_CLOUD_EVENT, CLOUD_UPLOAD_FAILED, message);
}

}  // namespace

void SaveToLibrary(const std::wstring& path) {
    if (!IsSignedIn()) {
        ShowSignInWindow();
        return;
    }
    if (UploadInProgress.exchange(true)) {
        ShowBalloon(L"NIRA Ostrel", L"A capture is already being saved to the library.", BALLOON_INFO);
        return;
    }
    ShowBalloon(L"Saving to your library", std::wstring(PathFileName(path)), BALLOON_INFO);
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
