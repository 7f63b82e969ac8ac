#pragma once
// The self-test switches of the program's command line.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "capture/region_core.h"

enum class SelfTestKind { None, Record, Sync, Screenshot, SignIn, Save, SignOut, RegionScreenshot, RegionRecord, WindowRecord, WindowList, Trim };

struct SelfTestRequest {
    SelfTestKind kind = SelfTestKind::None;
    int32_t seconds = 0;     // record, sync
    std::wstring folder;     // record, sync, screenshot
    int32_t resolution = 720;
    int32_t fps = 30;
    bool syncTest = false;
    int32_t pauses = 1;  // pause and resume cycles spread over a record or sync self-test
    std::wstring captureFile;  // save, trim
    std::wstring resultFile;   // sign-in, save, window list, trim
    ScreenRect region;         // region screenshot and recording, virtual-screen pixels
    std::wstring title;        // window recording: the window's exact title
    int32_t startMs = 0, endMs = 0;  // trim: the part to keep of captureFile
};

// A signed decimal number the way the command line reads it: leading white
// space and a sign allowed, reading stops at the first non-digit, no digits
// give 0. Values beyond 32 bits saturate instead of wrapping.
int32_t CommandLineNumber(std::wstring_view text);

// Argument 0 is the program path. A switch counts only when it matches
// exactly and enough arguments follow it; otherwise the kind is None.
SelfTestRequest ParseSelfTest(const std::vector<std::wstring>& args);

// "--edit PATH": the picture to open in the editor; empty when the command
// line asks for something else (or for a blank path).
std::wstring EditRequest(const std::vector<std::wstring>& args);
// "--trim PATH": the recording to open in the trim window, the same way.
std::wstring TrimRequest(const std::vector<std::wstring>& args);
// "--quiet" alone: the start at sign-in.
bool QuietStart(const std::vector<std::wstring>& args);

// How a record or sync self-test of `seconds` seconds of recording pauses:
// `pauses` times, each after an equal stretch, so the recording is cut into
// pauses + 1 equal parts. A pause lasts a second, or less when there are
// many (a fifth of one at least); at most ten pauses a second of recording.
struct PausePlan {
    int32_t pauses = 0;
    int64_t stretchMs = 0;  // recording before each pause, and after the last
    int64_t pauseMs = 0;
};
PausePlan PlanPauses(int32_t seconds, int32_t pauses);
