// Throughput of Sha256Hex (the system's CNG provider) over 8 MiB parts, the
// size the upload hashes; run under Wine or on Windows.
#include <windows.h>

#include <cstdio>
#include <vector>

#include "cloud/capture_facts.h"

int wmain() {
    std::vector<uint8_t> part(8u << 20);
    for (size_t i = 0; i < part.size(); ++i) part[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
    const int rounds = 32;
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    size_t digits = 0;
    for (int i = 0; i < rounds; ++i) digits += Sha256Hex(part.data(), part.size()).size();
    QueryPerformanceCounter(&end);
    const double seconds = static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
    if (digits != 64u * rounds) {
        std::puts("Sha256Hex failed");
        return 1;
    }
    std::printf("Sha256Hex: %.0f MB/s over %d parts of 8 MiB\n", rounds * part.size() / seconds / 1e6, rounds);
    return 0;
}
