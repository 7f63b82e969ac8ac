#include "storage/sign_in_start_core.h"

std::wstring SignInStartCommand(std::wstring_view programPath) {
    return L"\"" + std::wstring(programPath) + L"\" " + kQuietSwitch;
}

std::wstring SignInStartProgram(std::wstring_view value) {
    while (!value.empty() && (value.front() == L' ' || value.front() == L'\t')) value.remove_prefix(1);
    if (!value.empty() && value.front() == L'"') {
        value.remove_prefix(1);
        return std::wstring(value.substr(0, value.find(L'"')));
    }
    return std::wstring(value.substr(0, value.find_first_of(L" \t")));
}

SignInStart JudgeSignInStart(const std::optional<std::wstring>& value, std::wstring_view ownPath,
                             const std::function<bool(std::wstring_view, std::wstring_view)>& samePath,
                             const std::function<bool(const std::wstring&)>& exists) {
    if (!value || value->empty()) return SignInStart::Absent;
    const std::wstring program = SignInStartProgram(*value);
    if (samePath(program, ownPath)) {
        const std::wstring wanted = SignInStartCommand(program);
        return *value == wanted ? SignInStart::Ours : SignInStart::Stale;
    }
    return !program.empty() && exists(program) ? SignInStart::Other : SignInStart::Stale;
}
