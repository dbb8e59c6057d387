#pragma once
// A private support folder (scan log, result stores) and a small blank disk for
// the fuzz targets that drive a whole engine; both go when the process exits.
#include "platform/DeviceMap.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

constexpr int kFuzzBlankDisk = 4243;
constexpr long long kFuzzBlankSectors = 8192;

inline const std::string& FuzzEnvironmentDir() {
    static const std::string dir = [] {
        char tmpl[] = "/tmp/orvale-fuzz-XXXXXX";
        std::string d = ::mkdtemp(tmpl) ? tmpl : "/tmp";
        ::setenv("ORVALE_SUPPORT_DIR", (d + "/support").c_str(), 1);
        const std::string disk = d + "/blank.img";
        if (FILE* f = std::fopen(disk.c_str(), "wb")) {
            std::fseek(f, kFuzzBlankSectors * 512 - 1, SEEK_SET);
            std::fputc(0, f);
            std::fclose(f);
        }
        RegisterDiskPath(kFuzzBlankDisk, disk);
        static std::string removeCmd = "rm -rf '" + d + "'";
        std::atexit([] { (void)std::system(removeCmd.c_str()); });
        return d;
    }();
    return dir;
}
