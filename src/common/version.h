#pragma once
// The program's version, as the log, the service's User-Agent and the
// installer's entry give it.
constexpr wchar_t kAppVersion[] = L"0.1.0";
