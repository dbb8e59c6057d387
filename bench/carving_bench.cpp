// Carving throughput and exactness over a raw image of random data holding real
// files: the sector walk as the deep scan makes it, from the page cache.
//
//   bench_carving_bench [image-MiB] [copies-per-kind] [passes] [work-folder]
//
// Defaults: a 1024 MiB image with 10 copies of each sample kind (about 300
// files) at random sector positions; each file's last sector is zero after its
// end (as a file system leaves it), everything else is random.
#include "carving/CFileTypeRecovery.h"
#include "engine/CLogFileManager.h"

#include "fixtures/CarvingDriver.h"
#include "fixtures/CarvingSamples.h"
#include "fixtures/TestFiles.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {
double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// CPU seconds of this process (user and system): the machine is shared, so wall
// time alone would measure the neighbours too.
double CpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

struct Placed {
    std::string kind;
    uint64_t start;
    const std::vector<uint8_t>* bytes;
};

void WriteAt(int fd, uint64_t off, const void* p, size_t n) {
    if (::pwrite(fd, p, n, static_cast<off_t>(off)) != static_cast<ssize_t>(n)) std::perror("pwrite");
}

// Every kind of sample the fixtures can make.
std::vector<std::string> AllCarvingSampleNames() {
    return {"jfif.jpg", "exif.jpg", "png", "gif", "bmp", "tif", "be.tif", "pdf", "zip", "comment.zip", "docx", "xlsx",
            "pptx", "doc", "xls", "ole", "mp3", "wav", "avi", "mp4", "mkv", "flv", "mpg", "ts", "7z", "rar",
            "gz", "db", "mid", "ico", "ttf", "cab", "exe", "dll"};
}
} // namespace

int main(int argc, char** argv) {
    const uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
    const int copies = argc > 2 ? std::atoi(argv[2]) : 10;
    const int passes = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
    std::string work = argc > 4 ? argv[4] : std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
    work += "/orvale-carving-bench-" + std::to_string(::getpid());
    RunCommand("mkdir -p '" + work + "/disks' '" + work + "/out'");
    ::setenv("ORVALE_SUPPORT_DIR", (work + "/support").c_str(), 1);
    ::setenv("ORVALE_DISK_DIR", (work + "/disks").c_str(), 1);
    CLogFileManager::GetInstance()->Reload();

    const uint64_t bytes = mib << 20, sectors = bytes / 512;
    const std::string image = work + "/disks/disk0";
    auto t0 = std::chrono::steady_clock::now();
    int fd = ::open(image.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    const size_t chunk = 64u << 20;
    for (uint64_t off = 0; off < bytes; off += chunk) {
        std::vector<uint8_t> r = RandomBytes(std::min<uint64_t>(chunk, bytes - off), static_cast<uint32_t>(off >> 20) + 1);
        WriteAt(fd, off, r.data(), r.size());
    }

    // Files at random, non-overlapping sector positions, in random order.
    std::vector<Placed> placed;
    for (const std::string& kind : AllCarvingSampleNames()) {
        const CarvingSample& s = GetCarvingSample(kind);
        if (s.bytes.empty()) continue;
        for (int i = 0; i < copies; ++i) placed.push_back({kind, 0, &s.bytes});
    }
    std::mt19937_64 rng(42);
    std::shuffle(placed.begin(), placed.end(), rng);
    const uint64_t slot = sectors / (placed.size() + 1);
    for (size_t i = 0; i < placed.size(); ++i) {
        uint64_t need = (placed[i].bytes->size() + 511) / 512;
        uint64_t room = slot > need + 1 ? slot - need - 1 : 1;
        placed[i].start = (i + 1) * slot - slot / 2 + rng() % room / 2;
        std::vector<uint8_t> b = *placed[i].bytes;
        b.resize(need * 512, 0);
        WriteAt(fd, placed[i].start * 512, b.data(), b.size());
    }
    ::fsync(fd);
    ::close(fd);
    std::printf("image: %llu MiB, %zu files of %zu kinds, built in %.1f s\n", static_cast<unsigned long long>(mib),
                placed.size(), AllCarvingSampleNames().size(), Seconds(t0));

    // Into the page cache first: the walk is measured, not the disk.
    RunCommand("cat '" + image + "' > /dev/null");

    // Each pass on a fresh engine (a new store); the last one is checked below.
    std::unique_ptr<CFileTypeRecovery> last;
    for (int i = 0; i < passes; ++i) {
        CLogFileManager::GetInstance()->AddDirIndex(); // a result folder of its own
        last.reset(new CFileTypeRecovery());
        if (last->Init(0, 0, static_cast<long long>(sectors), L'C') != 0) {
            std::printf("cannot open the image\n");
            return 1;
        }
        CFileTypeJudge::m_tsFileRangeVec.clear();
        auto t1 = std::chrono::steady_clock::now();
        double c1 = CpuSeconds();
        CarvingPassResult pass = RunCarvingPass(*last, last->GetDiskReader(), 0, sectors);
        double secs = Seconds(t1), cpu = CpuSeconds() - c1;
        std::printf("carving pass %d: %.2f s wall (%.0f MB/s), %.2f s CPU (%.0f MB/s), %llu steps, %llu files\n", i + 1,
                    secs, bytes / secs / 1e6, cpu, bytes / cpu / 1e6, static_cast<unsigned long long>(pass.sectorsVisited),
                    static_cast<unsigned long long>(pass.filesFound));
    }
    CFileTypeRecovery& engine = *last;

    std::vector<_FILE_NODE_> nodes;
    engine.GetChildrenFileNode(nullptr, 0, nodes);
    std::map<uint64_t, _FILE_NODE_> bySector;
    for (const _FILE_NODE_& n : nodes) bySector[n.u64RecordSector] = n;

    struct Tally { int placed = 0, found = 0, exact = 0; };
    std::map<std::string, Tally> tally;
    int carvable = 0, exact = 0;
    for (const Placed& p : placed) {
        Tally& t = tally[p.kind];
        ++t.placed;
        if (p.kind == "exe" || p.kind == "dll") continue; // recognised, never carved
        ++carvable;
        auto it = bySector.find(p.start);
        if (it == bySector.end()) continue;
        ++t.found;
        std::string target = work + "/out/f";
        std::wstring wide(target.begin(), target.end());
        if (engine.SaveFileData(&it->second, &wide[0], 0) != 0) continue;
        if (Sha256File(target) == Sha256Hex(*p.bytes)) {
            ++t.exact;
            ++exact;
        }
    }
    std::printf("%-12s %6s %6s %6s\n", "kind", "placed", "found", "exact");
    for (const auto& [kind, t] : tally) std::printf("%-12s %6d %6d %6d\n", kind.c_str(), t.placed, t.found, t.exact);
    std::printf("byte-identical: %d of %d carvable files (%.1f %%); %zu nodes in all\n", exact, carvable,
                carvable ? 100.0 * exact / carvable : 0.0, nodes.size());

    RunCommand("rm -rf '" + work + "'");
    return 0;
}
