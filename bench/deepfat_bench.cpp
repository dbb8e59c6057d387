// Deep FAT intake at scale: a lost volume of D folders (4 sub-folders and 122
// files each, one 4 KiB cluster per folder) with its boot sector and FATs gone,
// fed sector by sector in 64 KiB reads as the deep-scan pass does, then the
// final tree building. Reports throughput, records and peak memory.
//
//   bench_deepfat_bench [folders] [work-folder]
#include "disk/VolumeRecognizers.h"
#include "engine/CLogFileManager.h"
#include "fat/CProfessionalFatRecovery.h"
#include "fat/FatStructures.h"
#include "platform/CDiskReader.h"
#include "platform/DeviceMap.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {
constexpr uint32_t kSpc = 8;
constexpr uint64_t kData = 2048; // data area of the lost volume, absolute
constexpr uint32_t kChildren = 4;

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}
long PeakRssKiB() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}
void Put16(uint8_t* p, unsigned v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void PutEntry(uint8_t* e, const char* name11, uint8_t attr, uint32_t cluster, uint32_t size) {
    std::memcpy(e, name11, 11);
    e[11] = attr;
    const unsigned date = (40u << 9) | (1u << 5) | 1u;
    Put16(e + 16, date);
    Put16(e + 18, date);
    Put16(e + 20, cluster >> 16);
    Put16(e + 24, date);
    Put16(e + 26, cluster & 0xFFFF);
    std::memcpy(e + 28, &size, 4);
}
uint64_t SectorOf(uint32_t cluster) { return kData + uint64_t(cluster - 2) * kSpc; }
} // namespace

int main(int argc, char** argv) {
    const uint32_t folders = argc > 1 ? uint32_t(std::strtoul(argv[1], nullptr, 10)) : 4000;
    std::string work = argc > 2 ? argv[2] : "/tmp/orvale-deepfat-bench";
    std::string cmd = "mkdir -p '" + work + "'";
    if (std::system(cmd.c_str()) != 0) return 1;
    setenv("ORVALE_SUPPORT_DIR", (work + "/support").c_str(), 1);
    setenv("ORVALE_DISK_DIR", work.c_str(), 1);
    CLogFileManager::GetInstance()->AddDirIndex();

    // Folder k lives in cluster 10 + k; folder 0's parent is the root.
    const uint64_t sectors = SectorOf(10 + folders) + 4096;
    std::vector<uint8_t> disk(size_t(sectors) * 512, 0);
    uint64_t files = 0;
    for (uint32_t k = 0; k < folders; ++k) {
        uint8_t* c = &disk[size_t(SectorOf(10 + k)) * 512];
        uint32_t parent = k == 0 ? 0 : 10 + (k - 1) / kChildren;
        PutEntry(c, ".          ", 0x10, 10 + k, 0);
        PutEntry(c + 32, "..         ", 0x10, parent, 0);
        size_t e = 2;
        for (uint32_t j = 1; j <= kChildren; ++j) {
            uint32_t child = k * kChildren + j;
            if (child >= folders) break;
            char name[32];
            std::snprintf(name, sizeof name, "D%07u   ", child % 10000000u);
            PutEntry(c + 32 * e++, name, 0x10, 10 + child, 0);
        }
        for (; e < 16 * kSpc; ++e, ++files) {
            char name[32];
            std::snprintf(name, sizeof name, "F%07zuDAT", e % 10000000u);
            PutEntry(c + 32 * e, name, 0x20, 2, 100);
        }
    }
    FILE* f = std::fopen((work + "/disk0").c_str(), "wb");
    if (!f || std::fwrite(disk.data(), 1, disk.size(), f) != disk.size()) return 1;
    std::fclose(f);
    std::vector<uint8_t>().swap(disk);

    CProfessionalFatRecovery engine;
    if (engine.Init(0, 0, static_cast<long long>(sectors), L'C') != 0) return 1;
    engine.ClearProfessionalVec(nullptr);
    engine.InitVirtualDbrInfo();

    auto t0 = std::chrono::steady_clock::now();
    CDiskReader reader;
    reader.Init(0, sectors);
    std::vector<unsigned char> buf(65536);
    uint64_t dot = 0, table = 0;
    for (uint64_t pos = 0; pos < sectors; pos += 128) {
        unsigned n = unsigned(sectors - pos < 128 ? sectors - pos : 128), got = 0;
        reader.ReadData(buf.data(), int(n), static_cast<long long>(pos), 512, &got);
        for (unsigned i = 0; i < got; ++i) {
            unsigned char* p = &buf[size_t(i) * 512];
            if (IsFatFileRecord(p)) {
                ++dot;
                engine.ParseFatFileRecord(p, pos + i);
            } else if (IsFatFDTRecord(p, 512)) {
                ++table;
                engine.ParseFDTFileRecord(p, pos + i);
            }
        }
    }
    double intake = Seconds(t0);
    auto t1 = std::chrono::steady_clock::now();
    engine.DealProfessionalRecordVec();
    double tree = Seconds(t1);

    double mib = double(sectors) * 512 / (1024.0 * 1024.0);
    std::printf("folders %u, files %llu, area %.1f MiB (%llu dot sectors, %llu table sectors)\n", folders,
                static_cast<unsigned long long>(files), mib, static_cast<unsigned long long>(dot),
                static_cast<unsigned long long>(table));
    std::printf("intake: %.2f s (%.1f MiB/s, %.0f files/s)\n", intake, mib / intake, double(files) / intake);
    std::printf("tree building: %.2f s; records stored: %d; geometries: %zu\n", tree, engine.GetLostFileCount(),
                engine.GetVirtualDbrVec().size());
    std::printf("peak RSS: %ld KiB\n", PeakRssKiB());
    cmd = "rm -rf '" + work + "'";
    return std::system(cmd.c_str()) == 0 ? 0 : 1;
}
