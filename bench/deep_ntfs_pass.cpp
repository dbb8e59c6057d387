// Throughput of the deep NTFS engine: records parsed per second during the
// pass (with parent chains, health tests and the store), the folder pass, and
// the speed of saving a large non-resident file.
//   bench_deep_ntfs_pass [records]   (default 50000)
#include "disk/VolumeRecognizers.h"
#include "fixtures/NtfsImageRecord.h"
#include "fixtures/TestFiles.h"
#include "ntfs/CProfessionalNtfsRecovery.h"
#include "platform/TextCodec.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {
double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}
}  // namespace

int main(int argc, char** argv) {
    const uint32_t records = argc > 1 ? static_cast<uint32_t>(std::atoi(argv[1])) : 50000;
    const uint32_t folders = 500;
    char tmpl[] = "/tmp/bench_deep_ntfs_XXXXXX";
    const char* dir = ::mkdtemp(tmpl);
    if (!dir) return 1;
    ::setenv("ORVALE_DISK_DIR", dir, 1);
    ::setenv("ORVALE_SUPPORT_DIR", (std::string(dir) + "/support").c_str(), 1);

    // A volume at sector 2048 with 4 KiB clusters, its $MFT at cluster 4, then
    // 16 MiB of file data at cluster 40000.
    const uint64_t volume = 2048, mft = volume + 32;
    const uint64_t mftClusters = (uint64_t(records) + folders + 64) / 4 + 1;
    const uint64_t dataCluster = mftClusters + 8;
    const uint64_t dataBytes = 16u << 20;
    const uint64_t sectors = volume + (dataCluster * 4096 + dataBytes) / 512 + 64;
    std::vector<uint8_t> disk(sectors * 512, 0);
    auto put = [&](uint64_t sector, const std::vector<uint8_t>& r) { std::copy(r.begin(), r.end(), disk.begin() + long(sector * 512)); };
    {
        NtfsImageRecord r(0, 1);
        r.AddFileName(5, u"$MFT", 3, mftClusters * 4096);
        r.AddData({{mftClusters, 4}}, mftClusters * 4096, 0, mftClusters * 4096);
        put(mft, r.Finish());
    }
    for (uint32_t f = 0; f < folders; ++f) {
        NtfsImageRecord r(64 + f, 3);
        r.AddFileName(f < 10 ? 5 : 64 + f % 10, u"folder", 1);
        put(mft + 2 * (64 + f), r.Finish());
    }
    const std::vector<uint8_t> text(300, 'x');
    for (uint32_t i = 0; i < records; ++i) {
        const uint32_t no = 64 + folders + i;
        NtfsImageRecord r(no, i % 3 ? 1 : 0);
        r.AddFileName(64 + i % folders, u"file" + std::u16string(1, char16_t('a' + i % 26)) + u".txt", 1, text.size());
        r.AddResidentData(text);
        put(mft + 2 * no, r.Finish());
    }
    {
        NtfsImageRecord r(63, 1);
        r.AddFileName(5, u"big.bin", 1, dataBytes);
        r.AddData({{dataBytes / 4096, int64_t(dataCluster)}}, dataBytes, 0, dataBytes);
        put(mft + 2 * 63, r.Finish());
    }
    WriteFileBytes(std::string(dir) + "/disk0", disk);

    CProfessionalNtfsRecovery engine;
    if (engine.Init(0, 0, static_cast<long long>(sectors), L'C') != 0 || engine.InitProfessionalScan(nullptr) != 0) {
        std::fprintf(stderr, "init failed\n");
        return 1;
    }
    auto t0 = std::chrono::steady_clock::now();
    uint64_t offered = 0;
    for (uint64_t s = 0; s + 2 <= sectors; ++s) {
        if (!IsNtfsFileRecord(&disk[s * 512], 1024)) continue;
        ++offered;
        engine.ParseNtfsFileRecord(&disk[s * 512], s);
    }
    const double pass = Seconds(t0);
    t0 = std::chrono::steady_clock::now();
    engine.ParseProfessionalRecordVec();
    const double folderPass = Seconds(t0);
    std::printf("pass: %llu records offered over %.1f MiB in %.3f s: %.0f records/s\n",
                static_cast<unsigned long long>(offered), sectors / 2048.0, pass, offered / pass);
    std::printf("folder pass: %zu folders in %.3f s\n", engine.GetSpecialRecoveryDirs().size(), folderPass);

    std::vector<_FILE_NODE_> top;
    engine.GetChildrenFileNode(nullptr, 0, top);
    for (_FILE_NODE_& n : top) {
        if (std::string(n.szFileName) != "big.bin") continue;
        const std::wstring target = Utf8ToWide((std::string(dir) + "/big.out").c_str());
        t0 = std::chrono::steady_clock::now();
        const int rc = engine.SaveFileData(&n, const_cast<wchar_t*>(target.c_str()), 0);
        const double save = Seconds(t0);
        std::printf("save: 16 MiB in %.3f s (%.0f MiB/s), result %d\n", save, 16 / save, rc);
    }
    RunCommand(std::string("rm -rf '") + dir + "'");
    return 0;
}
