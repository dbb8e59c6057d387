#pragma once
// What orvale-cli scans: a disk number, a device path or an image file, and the area in it.
#include <cstdint>
#include <string>

struct CliOptions;

struct CliTarget {
    int diskNo = -1;
    std::string devicePath;     // the file behind the disk number
    uint64_t deviceSectors = 0; // whole 512-byte sectors of the device
    long long firstSector = 0;  // the area to scan
    long long sectorCount = 0;
    std::string warning;        // why the area was cut to the device's end, else empty
};

// Resolves the target and its area. False with a one-line reason (without the
// target's name) when it cannot be opened, read or is too small.
bool ResolveCliTarget(const CliOptions& options, CliTarget& target, std::string& error);
