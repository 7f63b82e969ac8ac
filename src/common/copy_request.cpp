#include "common/copy_request.h"

namespace {
constexpr DWORD kLongestPath = 32767;
}  // namespace

bool SendPathByCopy(HWND running, ULONG_PTR tag, const std::wstring& path) {
    if (path.empty() || path.size() > kLongestPath) return false;
    COPYDATASTRUCT data{};
    data.dwData = tag;
    data.cbData = static_cast<DWORD>(path.size() * sizeof(wchar_t));
    data.lpData = const_cast<wchar_t*>(path.data());
    DWORD_PTR answer = 0;
    // The running copy may let the foreground go to the window it opens.
    DWORD process = 0;
    GetWindowThreadProcessId(running, &process);
    AllowSetForegroundWindow(process);
    return SendMessageTimeoutW(running, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG, 15000,
                               &answer) != 0 &&
           answer == TRUE;
}

bool PathFromCopy(const COPYDATASTRUCT* data, ULONG_PTR tag, std::wstring& path) {
    if (data == nullptr || data->dwData != tag || data->lpData == nullptr || data->cbData == 0 ||
        data->cbData % sizeof(wchar_t) != 0 || data->cbData > kLongestPath * sizeof(wchar_t))
        return false;
    path.assign(static_cast<const wchar_t*>(data->lpData), data->cbData / sizeof(wchar_t));
    return path.find(L'\0') == std::wstring::npos;
}
