#pragma once
#include <optional>

#include "app/command_line_core.h"

// Runs the requested self-test and returns its exit code; nothing when the
// request names no self-test this build can run, so the tray program starts.
std::optional<int> RunSelfTest(const SelfTestRequest& request);
