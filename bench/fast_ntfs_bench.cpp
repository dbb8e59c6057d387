// Quick NTFS scan of a volume with 100 000 files, 60 % of them deleted: records
// parsed per second and $MFT bytes per second, read from the page cache.
// The image is made once (mkntfs + ntfs-3g, several minutes) and kept in
// $TMPDIR/orvale-ntfs-bench-<uid>/ for later runs. Usage: bench_fast_ntfs_bench [files]
#include "ntfs/CFastNtfsRecovery.h"
#include "platform/TextCodec.h"

#include "fixtures/NtfsImageVolume.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr int kFilesPerFolder = 1000;

bool MakeImage(const std::string& dir, const std::string& image, int files) {
    std::string error;
    if (!NtfsImageVolume::Format(image, 1ull << 30, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    NtfsImageVolume vol(image, dir + "/mnt");
    if (!vol.Mounted()) return false;
    std::vector<uint8_t> small(200, 'x');
    std::vector<uint8_t> large = RandomBytes(20000, 1);
    for (int i = 0; i < files; ++i) {
        const std::string folder = "d" + std::to_string(i / kFilesPerFolder);
        if (i % kFilesPerFolder == 0) vol.MakeDir(folder);
        const std::string name = folder + "/file" + std::to_string(i) + (i % 10 == 0 ? ".bin" : ".txt");
        if (!vol.Write(name, i % 10 == 0 ? large : small)) return false;
        if (i % 10000 == 0) std::fprintf(stderr, "  %d files\n", i);
    }
    for (int i = 0; i < files; ++i) {
        if (i % 5 >= 3) continue; // 60 % deleted
        const std::string folder = "d" + std::to_string(i / kFilesPerFolder);
        vol.Remove(folder + "/file" + std::to_string(i) + (i % 10 == 0 ? ".bin" : ".txt"));
    }
    return vol.Unmount();
}
} // namespace

int main(int argc, char** argv) {
    const int files = argc > 1 ? std::atoi(argv[1]) : 100000;
    const char* base = std::getenv("TMPDIR");
    const std::string dir = std::string(base && *base ? base : "/tmp") + "/orvale-ntfs-bench-" +
                            std::to_string(::getuid()) + "-" + std::to_string(files);
    const std::string image = dir + "/bench.img";
    ::mkdir(dir.c_str(), 0755);
    if (!FileExists(image + ".done")) {
        std::fprintf(stderr, "making the image (%d files)...\n", files);
        if (!MakeImage(dir, image, files)) return 1;
        WriteFileBytes(image + ".done", {});
    }
    TempDir support("orvale-ntfs-bench-support");
    ::setenv("ORVALE_SUPPORT_DIR", support.path().c_str(), 1);

    std::wstring path = Utf8ToWide(image.c_str());
    for (int round = 0; round < 4; ++round) {
        CFastNtfsRecovery engine;
        if (engine.Init(&path[0], L'C') != 0) return 2;
        uint64_t mftBytes = 0;
        for (const auto& run : engine.GetMftRunList())
            mftBytes += run.u64RunLength * uint64_t(engine.GetSectorsPerCluster()) * engine.GetBytesPerSector();
        auto t0 = std::chrono::steady_clock::now();
        int rc = engine.ScanDevice(nullptr);
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        const double records = double(mftBytes) / 1024;
        std::printf("round %d: rc=%d  $MFT %.1f MB (%.0f records) in %.3f s: %.0f records/s, %.1f MB/s; %d nodes stored\n",
                    round, rc, mftBytes / 1e6, records, s, records / s, mftBytes / 1e6 / s, engine.GetLostFileCount());
    }
    return 0;
}
