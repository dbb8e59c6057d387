// Result store at scale: creates N records (default 10 million) in folders of
// 1000 with their relations, then searches the node file for each category and
// for all of them at once.
//
//   bench_store_bench [records] [work-folder]
//
// One record in 500 per category has an extension of that category; the rest
// are ".dat" files (Other is off for node files this large), so the hits of a
// search stay small and the memory measured is the store's own.
#include "engine/CLogFileManager.h"
#include "engine/CScanResultFileManager.h"
#include "engine/FileCategories.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {
double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

long PeakRssKiB() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

// User + system CPU seconds of this process: on a shared machine the wall
// clock also counts the time other processes held the cores.
double CpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

long CurrentRssKiB() {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "VmRSS: %ld", &kib) == 1) break;
    std::fclose(f);
    return kib;
}

const char* ExtensionOf(uint64_t i) {
    static const char* const hits[] = {"jpg", "mp3", "doc", "avi", "zip"};
    uint64_t slot = i % 500;
    return slot < 5 ? hits[slot] : "dat";
}
} // namespace

int main(int argc, char** argv) {
    const uint64_t records = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 10000000ull;
    std::string work = argc > 2 ? argv[2] : std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
    work += "/orvale-store-bench-" + std::to_string(::getpid());
    ::setenv("ORVALE_SUPPORT_DIR", work.c_str(), 1);
    CLogFileManager::GetInstance()->Reload();

    const long rssBefore = CurrentRssKiB();
    int rc = 0;
    {
        CScanResultFileManager store;
        if (store.Init(L"File_Type_bench") != 0) {
            std::fprintf(stderr, "cannot create the store in %s\n", work.c_str());
            return 1;
        }
        auto start = std::chrono::steady_clock::now();
        const double cpuStart = CpuSeconds();
        const uint32_t rootCluster = 2;
        uint32_t folderCluster = 0;
        for (uint64_t i = 0; i < records; ++i) {
            auto* n = reinterpret_cast<_FILE_NODE_*>(store.CreateFileNode(sizeof(_FILE_NODE_)));
            if (!n) return 1;
            const bool dir = i % 1000 == 0;
            n->nDriveLetter = 'C';
            n->nFileSystemType = FS_TYPE_FAST_FAT;
            n->bIsDir = dir;
            n->bIsHealth = 1;
            n->nFileIndex = store.GetFileIndex();
            n->nClusterNO = dir ? uint32_t(100 + i / 1000) : uint32_t(i);
            n->nClusterBytes = 4096;
            n->u64FileSize = 4096 + i;
            n->u64RecordSector = i * 8;
            if (dir) {
                std::snprintf(n->szFileName, sizeof n->szFileName, "Folder%llu", (unsigned long long)(i / 1000));
                folderCluster = n->nClusterNO;
                store.AddChildren(rootCluster, 0, n->nFileIndex, n->nClusterNO, n->szFileName);
            } else {
                std::snprintf(n->szFileName, sizeof n->szFileName, "%llu.%s", (unsigned long long)(i * 8), ExtensionOf(i));
                store.AddChildren(folderCluster, 1, n->nFileIndex, n->nClusterNO, nullptr);
            }
        }
        rc = store.FlushBufToFile();
        const double createSeconds = Seconds(start);
        const double createCpu = CpuSeconds() - cpuStart;
        struct stat st{};
        ::stat(store.GetNodeFilePath().c_str(), &st);
        const double nodeMB = double(st.st_size) / 1e6;
        const long rssAfterCreate = CurrentRssKiB();
        const long peakAfterCreate = PeakRssKiB();
        std::printf("records created: %llu in %.2f s = %.2f million records/s wall, %.2f million per CPU second "
                    "(flush rc %d)\n",
                    (unsigned long long)records, createSeconds, double(records) / createSeconds / 1e6,
                    double(records) / createCpu / 1e6, rc);
        std::printf("node file: %.1f MB; relation lists: %zu\n", nodeMB, store.GetRelationMap().size());
        std::printf("RSS before: %ld KiB, after creation: %ld KiB (%.2f bytes/record), peak so far: %ld KiB (%.2f bytes/record)\n",
                    rssBefore, rssAfterCreate, double(rssAfterCreate - rssBefore) * 1024 / double(records),
                    peakAfterCreate, double(peakAfterCreate - rssBefore) * 1024 / double(records));

        struct Search {
            const char* name;
            std::wstring key;
        } searches[] = {{"photo", g_wszPhotoTypes},   {"audio", g_wszAudioTypes},
                        {"document", g_wszDocumentTypes}, {"video", g_wszVideoTypes},
                        {"archive", std::wstring(g_wszArchiveTypes) + g_wszArchiveTypes2},
                        {"other", g_wszOtherTypes},   {"all", BuildSearchKey(CATEGORY_ALL)}};
        double totalMB = 0, totalSeconds = 0, totalCpu = 0;
        for (const Search& s : searches) {
            std::vector<__SEARCH_FILE_INFO__> hits;
            auto t = std::chrono::steady_clock::now();
            const double cpu = CpuSeconds();
            int r = store.SearchFileNodeInfo(s.key.c_str(), hits);
            double sec = Seconds(t);
            double cpuSec = CpuSeconds() - cpu;
            totalMB += nodeMB;
            totalSeconds += sec;
            totalCpu += cpuSec;
            std::printf("search %-8s: %8zu hits in %.2f s = %7.0f MB/s wall, %7.0f MB/s per CPU second (rc %d)\n",
                        s.name, hits.size(), sec, nodeMB / sec, nodeMB / cpuSec, r);
        }
        std::printf("search overall: %.0f MB/s of node file wall, %.0f MB/s per CPU second\n", totalMB / totalSeconds,
                    totalMB / totalCpu);

        // Folder paths of files spread over the whole store (the first one builds the parent index).
        auto t = std::chrono::steady_clock::now();
        wchar_t path[512];
        int bad = 0;
        const int lookups = 1000;
        for (int k = 0; k < lookups; ++k) {
            _FILE_NODE_ node{};
            node.nFileIndex = uint32_t(1 + (uint64_t(k) * 7919 * 1000 + 1) % records);
            if (node.nFileIndex % 1000 == 1) ++node.nFileIndex; // a file, not a folder
            if (node.nFileIndex > records) continue;
            if (store.GetParentDirPath(&node, path, 512) != 0 || path[0] != L'F') ++bad;
        }
        std::printf("folder paths: %d look-ups in %.3f s (%d without a path)\n", lookups, Seconds(t), bad);
        std::printf("peak RSS: %ld KiB\n", PeakRssKiB());
    }
    std::string cleanup = "rm -rf '" + work + "'";
    if (std::system(cleanup.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", work.c_str());
    return rc;
}
