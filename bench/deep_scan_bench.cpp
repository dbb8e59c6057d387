// Deep scan speed and memory: a 2 GiB FAT32 volume holding 50 000 files (a third
// deleted) and, in its free space, random data with real files of many kinds,
// scanned whole from the page cache through the factory as the window does.
// When an open-source carver (foremost) is installed it carves the same image in
// the same run for comparison.
//   bench_deep_scan_bench [image-MiB]
#include "engine/CFileRecoveryFactory.h"
#include "engine/CProfessionalRecovery.h"
#include "engine/FileCategories.h"
#include "fixtures/CarvingSamples.h"
#include "FatImageSynthesizer.h"
#include "fixtures/ScopedEnv.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"
#include "platform/DeviceMap.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>

namespace {
using Clock = std::chrono::steady_clock;

int ScanCb(void*, int, int, int, uint64_t, uint64_t, uint64_t, wchar_t*) { return 0; }

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

// Random bytes over [from, end) of the image, with real files at sector boundaries every few MiB.
size_t FillFreeSpace(const std::string& image, uint64_t from, uint64_t end) {
    int fd = ::open(image.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    std::vector<std::string> kinds = {"jfif.jpg", "exif.jpg", "png", "gif", "bmp", "pdf", "zip", "docx", "doc",
                                      "mp3", "wav", "avi", "7z", "rar", "gz", "db", "mid", "ico"};
    std::vector<uint8_t> noise = RandomBytes(4 << 20, 99);
    size_t placed = 0, k = 0;
    for (uint64_t at = from; at + noise.size() <= end; at += noise.size()) {
        std::vector<uint8_t> block = noise;
        block[0] ^= static_cast<uint8_t>(at >> 20); // no two blocks alike
        const CarvingSample& s = GetCarvingSample(kinds[k++ % kinds.size()]);
        if (!s.bytes.empty() && s.bytes.size() < block.size() / 2) {
            std::copy(s.bytes.begin(), s.bytes.end(), block.begin() + 4096);
            ++placed;
        }
        if (::pwrite(fd, block.data(), block.size(), static_cast<off_t>(at)) != static_cast<ssize_t>(block.size())) break;
    }
    ::close(fd);
    return placed;
}
} // namespace

int main(int argc, char** argv) {
    const uint64_t imageMiB = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 2048;
    TempDir dir("deepscanbench");
    ScopedEnv support("ORVALE_SUPPORT_DIR", dir.file("support"));
    const std::string image = dir.file("bench.img");

    FAT_IMAGE_SYNTH_LAYOUT layout;
    layout.nFolders = 500;
    layout.nFilesPerFolder = 100;
    layout.nFileBytes = 3000;
    layout.nDeleteEvery = 3;
    layout.nSectorsPerCluster = 8;
    layout.u64MinimumClusters = imageMiB * 1024 * 1024 / 4096;
    FAT_IMAGE_SYNTH_RESULT made;
    if (!SynthesizeFat32Image(image, layout, &made)) {
        std::fprintf(stderr, "cannot write %s\n", image.c_str());
        return 1;
    }
    // The files use the first clusters; everything past 512 MiB is free space.
    size_t placed = FillFreeSpace(image, 512ull << 20, made.u64Bytes);
    RunCommand("cat '" + image + "' > /dev/null"); // from the page cache from now on, without growing this process
    const double mb = static_cast<double>(made.u64Bytes) / 1e6;
    std::printf("image: %.0f MB, %llu files (%llu deleted), %zu carvable files in free space\n", mb,
                static_cast<unsigned long long>(made.u64Files), static_cast<unsigned long long>(made.u64DeletedFiles), placed);

    int diskNo = RegisterImageDisk(image);
    auto t0 = Clock::now();
    std::unique_ptr<IFileRecoveryParse> engine(CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(
        diskNo, 0, static_cast<long long>(made.u64Bytes / 512), L'C', RECOVERY_TYPE_PROFESSIONAL));
    if (!engine) {
        std::fprintf(stderr, "no engine\n");
        return 1;
    }
    static_cast<CProfessionalRecovery*>(engine.get())->SetNotLoadLogFile();
    engine->InitCallBack(ScanCb, nullptr, nullptr, 100);
    int rc = engine->ScanDevice(nullptr);
    auto t1 = Clock::now();
    std::wstring key = BuildSearchKey(CATEGORY_ALL);
    std::vector<__SEARCH_FILE_INFO__> hits;
    engine->SearchFileNode(key.data(), hits);
    auto t2 = Clock::now();
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    size_t carved = 0;
    for (const auto& h : hits) carved += h.nFileSystemType == FS_TYPE_FILE_TYPE;
    std::printf("deep scan: rc %d, %.2f s, %.0f MB/s of image; search %.2f s; %zu hits (%zu carved); peak RSS %.1f MiB\n", rc,
                Seconds(t0, t1), mb / Seconds(t0, t1), Seconds(t1, t2), hits.size(), carved, usage.ru_maxrss / 1024.0);

    if (HaveTool("foremost")) {
        std::string out = dir.file("foremost-out");
        auto f0 = Clock::now();
        int frc = RunCommand("foremost -Q -t jpg,png,gif,bmp,pdf,zip,doc,wav,avi,mp4,rar -i " + image + " -o " + out);
        auto f1 = Clock::now();
        std::printf("foremost: rc %d, %.2f s, %.0f MB/s of image\n", frc, Seconds(f0, f1), mb / Seconds(f0, f1));
    } else {
        std::printf("foremost: not installed (apt-get install foremost) - no comparison\n");
    }
    return rc == 0 ? 0 : 1;
}
