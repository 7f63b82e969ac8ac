#pragma once
// Sends one capture file to the signed-in workspace library in numbered,
// hash-checked parts; an interrupted upload carries on where it stopped.
#include <cstdint>
#include <functional>
#include <string>

using UploadProgress = std::function<void(uint64_t done, uint64_t total)>;

// Blocking. True when the service completed the capture; `state` then holds
// its state, and `link` the capture's page in the library when the service
// named one on its own origin (else it stays empty; a refused one is logged).
// Otherwise `message` says why, as a sentence for the user.
bool UploadCapture(const std::wstring& path, const UploadProgress& progress, std::wstring& state,
                   std::wstring& message, std::wstring* link = nullptr);
