#pragma once
// The self-test switches of the program's command line.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "capture/region_core.h"

enum class SelfTestKind { None, Record, Sync, Screenshot, SignIn, Save, SignOut, RegionScreenshot, RegionRecord, WindowRecord, WindowList };

struct SelfTestRequest {
    SelfTestKind kind = SelfTestKind::None;
    int32_t seconds = 0;     // record, sync
    std::wstring folder;     // record, sync, screenshot
    int32_t resolution = 720;
    int32_t fps = 30;
    bool syncTest = false;
    std::wstring captureFile;  // save
    std::wstring resultFile;   // sign-in, save, window list
    ScreenRect region;         // region screenshot and recording, virtual-screen pixels
    std::wstring title;        // window recording: the window's exact title
};

// A signed decimal number the way the command line reads it: leading white
// space and a sign allowed, reading stops at the first non-digit, no digits
// give 0. Values beyond 32 bits saturate instead of wrapping.
int32_t CommandLineNumber(std::wstring_view text);

// Argument 0 is the program path. A switch counts only when it matches
// exactly and enough arguments follow it; otherwise the kind is None.
SelfTestRequest ParseSelfTest(const std::vector<std::wstring>& args);
