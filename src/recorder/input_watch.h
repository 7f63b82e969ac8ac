#pragma once
// The input hooks of a recording that shows clicks or key combinations: a
// thread of their own, with low-level hooks that only note what happened
// and return, installed for the recording and removed at its stop. Keys are
// kept only as the label drawn, never written anywhere.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "recorder/input_effects_core.h"

// The hooks' entry points: the system's own by default; only the glue tests
// put fakes there.
struct InputPlatform {
    HHOOK(WINAPI* setWindowsHookEx)(int idHook, HOOKPROC proc, HINSTANCE module, DWORD threadId) = SetWindowsHookExW;
    BOOL(WINAPI* unhookWindowsHookEx)(HHOOK hook) = UnhookWindowsHookEx;
};
InputPlatform& InputFunctions();

class InputWatch {
public:
    InputWatch() = default;
    ~InputWatch() { Stop(); }
    InputWatch(const InputWatch&) = delete;
    InputWatch& operator=(const InputWatch&) = delete;

    // Installs the hooks asked for (one watch at a time in the process);
    // false when none could be, which the log tells.
    bool Start(bool clicks, bool keys);
    // Removes them and forgets what they saw; nothing when not started.
    void Stop();
    bool Watching() const { return installed_.load(); }
    // Draws what shows at `time` (100-ns units on the performance counter's
    // clock, SteadyHundredNs) onto a picture, with the label's text rendered for its size.
    void Draw(uint8_t* nv12, int32_t width, int32_t height, const input_effects::PictureMapping& mapping, int64_t time);

    // Called by the hooks, on their thread.
    void Pressed(input_effects::Button button, POINT point, bool down);
    void Moved(POINT point);
    void Keyed(std::wstring label);

private:
    void Run(bool clicks, bool keys, HANDLE ready);

    std::thread thread_;
    DWORD threadId_ = 0;
    std::atomic<bool> installed_{false};
    std::mutex lock_;
    input_effects::InputLog log_;
    // The label's text as last rendered, kept while the label and its size hold.
    input_effects::TextMask text_;
    std::wstring textLabel_;
    int32_t textHeight_ = 0;
};
