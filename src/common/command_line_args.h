#pragma once
// The process's command line split by the shell's rules; argument 0 is the program.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

inline std::vector<std::wstring> CommandLineArguments() {
    std::vector<std::wstring> args;
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (argv == nullptr) return args;
    for (int i = 0; i < count; ++i) args.emplace_back(argv[i]);
    LocalFree(argv);
    return args;
}
