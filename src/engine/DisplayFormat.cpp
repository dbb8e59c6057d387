#include "engine/DisplayFormat.h"

#include <cstdio>

std::string GetFileSizeString(long long bytes) {
    constexpr double kKB = 1024.0;
    constexpr long long kMB = 1LL << 20, kGB = 1LL << 30, kTB = 1LL << 40;
    char text[64];
    if (bytes >= kTB) std::snprintf(text, sizeof text, "%.2f TB", static_cast<double>(bytes) / static_cast<double>(kTB));
    else if (bytes >= kGB) std::snprintf(text, sizeof text, "%.2f GB", static_cast<double>(bytes) / static_cast<double>(kGB));
    else if (bytes >= kMB) std::snprintf(text, sizeof text, "%.2f MB", static_cast<double>(bytes) / static_cast<double>(kMB));
    else if (bytes < 1024) std::snprintf(text, sizeof text, "%lld Bytes", bytes);
    else std::snprintf(text, sizeof text, "%.2f KB", static_cast<double>(bytes) / kKB);
    return text;
}

std::string GetTimeString(long long seconds) {
    char text[64];
    if (seconds >= 3600) std::snprintf(text, sizeof text, "%lld Hour %lld Min", seconds / 3600, (seconds % 3600) / 60);
    else if (seconds < 60) std::snprintf(text, sizeof text, "%lld Sec", seconds);
    else std::snprintf(text, sizeof text, "%lld Min %lld Sec", seconds / 60, seconds % 60);
    return text;
}
