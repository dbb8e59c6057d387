#pragma once
// Byte counts and durations as the user reads them (window and command line).
#include <string>

// "1023 Bytes", "1.50 KB", "1.00 MB", "2.00 GB", "1.00 TB" (binary units, two decimals).
std::string GetFileSizeString(long long bytes);
// "59 Sec", "1 Min 0 Sec", "1 Hour 2 Min".
std::string GetTimeString(long long seconds);
