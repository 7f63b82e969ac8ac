#include "app/command_line_core.h"

#include <algorithm>
#include <limits>

#include "storage/sign_in_start_core.h"

int32_t CommandLineNumber(std::wstring_view text) {
    size_t i = 0;
    auto isSpace = [](wchar_t c) { return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r'; };
    while (i < text.size() && isSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
        negative = text[i] == L'-';
        ++i;
    }
    int64_t value = 0;
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    while (i < text.size() && text[i] >= L'0' && text[i] <= L'9') {
        value = value * 10 + (text[i] - L'0');
        if (value > kLimit) value = kLimit;
        ++i;
    }
    if (negative) return static_cast<int32_t>(-value);
    return static_cast<int32_t>(value > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max() : value);
}

namespace {

// X Y W H from args[first]; a negative width or height gives an empty rectangle.
ScreenRect RegionArguments(const std::vector<std::wstring>& args, size_t first) {
    const int64_t x = CommandLineNumber(args[first]);
    const int64_t y = CommandLineNumber(args[first + 1]);
    const int64_t w = std::max<int64_t>(CommandLineNumber(args[first + 2]), 0);
    const int64_t h = std::max<int64_t>(CommandLineNumber(args[first + 3]), 0);
    const auto bound = [](int64_t v) {
        return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                        std::numeric_limits<int32_t>::max()));
    };
    return {bound(x), bound(y), bound(x + w), bound(y + h)};
}

}  // namespace

SelfTestRequest ParseSelfTest(const std::vector<std::wstring>& args) {
    SelfTestRequest r;
    if (args.size() < 2) return r;
    const std::wstring& sw = args[1];
    const size_t n = args.size();
    if (sw == L"--selftest-record" && n >= 4) {
        r.kind = SelfTestKind::Record;
        r.seconds = CommandLineNumber(args[2]);
        r.folder = args[3];
        r.resolution = n >= 5 ? CommandLineNumber(args[4]) : 720;
        r.fps = n >= 6 ? CommandLineNumber(args[5]) : 30;
    } else if (sw == L"--selftest-sync" && n >= 4) {
        r.kind = SelfTestKind::Sync;
        r.seconds = CommandLineNumber(args[2]);
        r.folder = args[3];
        r.syncTest = true;
        r.pauses = n >= 5 ? std::max(0, CommandLineNumber(args[4])) : 1;
    } else if (sw == L"--selftest-screenshot" && n >= 3) {
        r.kind = SelfTestKind::Screenshot;
        r.folder = args[2];
    } else if (sw == L"--selftest-signin" && n >= 3) {
        r.kind = SelfTestKind::SignIn;
        r.resultFile = args[2];
    } else if (sw == L"--selftest-save" && n >= 4) {
        r.kind = SelfTestKind::Save;
        r.captureFile = args[2];
        r.resultFile = args[3];
    } else if (sw == L"--selftest-region-screenshot" && n >= 7) {
        r.kind = SelfTestKind::RegionScreenshot;
        r.folder = args[2];
        r.region = RegionArguments(args, 3);
    } else if (sw == L"--selftest-region-record" && n >= 8) {
        r.kind = SelfTestKind::RegionRecord;
        r.seconds = CommandLineNumber(args[2]);
        r.folder = args[3];
        r.region = RegionArguments(args, 4);
    } else if (sw == L"--selftest-window-record" && n >= 5) {
        r.kind = SelfTestKind::WindowRecord;
        r.seconds = CommandLineNumber(args[2]);
        r.folder = args[3];
        r.title = args[4];
    } else if (sw == L"--selftest-window-list" && n >= 3) {
        r.kind = SelfTestKind::WindowList;
        r.resultFile = args[2];
    } else if (sw == L"--selftest-trim" && n >= 6) {
        r.kind = SelfTestKind::Trim;
        r.captureFile = args[2];
        r.startMs = CommandLineNumber(args[3]);
        r.endMs = CommandLineNumber(args[4]);
        r.resultFile = args[5];
    } else if (sw == L"--selftest-signout" && n >= 2) {
        r.kind = SelfTestKind::SignOut;
    }
    return r;
}

namespace {

std::wstring PathAfter(const std::vector<std::wstring>& args, const wchar_t* flag) {
    if (args.size() != 3 || args[1] != flag) return {};
    return args[2];
}

}  // namespace

std::wstring EditRequest(const std::vector<std::wstring>& args) { return PathAfter(args, L"--edit"); }

std::wstring TrimRequest(const std::vector<std::wstring>& args) { return PathAfter(args, L"--trim"); }

bool QuietStart(const std::vector<std::wstring>& args) { return args.size() == 2 && args[1] == kQuietSwitch; }

PausePlan PlanPauses(int32_t seconds, int32_t pauses) {
    PausePlan plan;
    const int64_t total = seconds > 0 ? int64_t{seconds} * 1000 : 0;
    plan.pauses = static_cast<int32_t>(std::clamp<int64_t>(pauses, 0, seconds > 0 ? int64_t{seconds} * 10 : 0));
    plan.stretchMs = total / (plan.pauses + 1);
    plan.pauseMs = plan.pauses == 0 ? 0 : std::clamp<int64_t>(10000 / plan.pauses, 200, 1000);
    return plan;
}
