#include "platform/CDiskReader.h"

#include "platform/DeviceMap.h"
#include "platform/Log.h"
#include "platform/TextCodec.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
std::mutex g_failMutex;
std::atomic<bool> g_failEnabled{false};
std::vector<uint64_t> g_failingSectors; // sorted

// The first failing sector in [start, start + count), or start + count.
uint64_t FirstFailingSector(uint64_t start, uint64_t count) {
    if (!g_failEnabled.load(std::memory_order_relaxed)) return start + count;
    std::lock_guard<std::mutex> lock(g_failMutex);
    auto it = std::lower_bound(g_failingSectors.begin(), g_failingSectors.end(), start);
    if (it != g_failingSectors.end() && *it < start + count) return *it;
    return start + count;
}

// ORVALE_READ_LIMIT_MBPS caps the rate of every reader in the process, so a disk
// image can stand in for slow media (a memory card) in benchmarks. 0: no cap.
// As with a real card behind the page cache, only bytes of a device never read
// before in the process are charged: a length walk that reads a file ahead and
// the pass reading it again after cost the card one read.
double ReadLimitBytesPerSecond() {
    static const double limit = [] {
        const char* v = std::getenv("ORVALE_READ_LIMIT_MBPS");
        double mbps = v ? std::strtod(v, nullptr) : 0;
        return mbps > 0 ? mbps * 1e6 : 0.0;
    }();
    return limit;
}

void Throttle(int fd, off_t offset, long long bytes) {
    const double limit = ReadLimitBytesPerSecond();
    if (limit <= 0 || bytes <= 0) return;
    struct stat st;
    if (::fstat(fd, &st) != 0) return;
    static std::mutex mutex;
    static std::chrono::steady_clock::time_point next = std::chrono::steady_clock::now();
    // Byte ranges read so far, by device: start -> end.
    static std::map<std::pair<dev_t, ino_t>, std::map<uint64_t, uint64_t>> seen;
    std::chrono::steady_clock::time_point until;
    {
        std::lock_guard<std::mutex> lock(mutex);
        std::map<uint64_t, uint64_t>& ranges = seen[S_ISBLK(st.st_mode) ? std::make_pair(st.st_rdev, ino_t(0)) : std::make_pair(st.st_dev, st.st_ino)];
        const uint64_t from = static_cast<uint64_t>(offset), to = from + static_cast<uint64_t>(bytes);
        uint64_t covered = 0, lo = from, hi = to;
        auto it = ranges.upper_bound(from);
        if (it != ranges.begin() && std::prev(it)->second >= from) --it;
        while (it != ranges.end() && it->first <= to) {
            const uint64_t s = std::max(from, it->first), e = std::min(to, it->second);
            if (e > s) covered += e - s;
            lo = std::min(lo, it->first);
            hi = std::max(hi, it->second);
            it = ranges.erase(it);
        }
        ranges[lo] = hi;
        const uint64_t fresh = (to - from) - covered;
        bytes = static_cast<long long>(fresh);
        if (bytes <= 0) return;
        next = std::max(next, std::chrono::steady_clock::now()) +
               std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(bytes / limit));
        until = next;
    }
    std::this_thread::sleep_until(until);
}

constexpr long long kPieceBytes = 65536;

// Reads len bytes in one call where the device allows, restarting after
// interruptions and short reads; a device that refuses a large read (a bad
// sector inside it) is read in 64 KiB pieces, so what precedes the bad sector
// still arrives. At an offset it uses positioned reads, which leave no shared
// file position behind, so a read-ahead thread and the pass may read through
// one reader at once; at offset -1 it reads from the current position.
int ReadAll(int fd, unsigned char* buf, long long len, off_t offset, long long* done) {
    long long got = 0;
    long long piece = len;
    while (got < len) {
        const size_t want = static_cast<size_t>(std::min(piece, len - got));
        ssize_t r = offset < 0 ? ::read(fd, buf + got, want) : ::pread(fd, buf + got, want, offset + static_cast<off_t>(got));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 && piece > kPieceBytes) {
            piece = kPieceBytes;
            continue;
        }
        if (r <= 0) {
            OrvaleLog("read %lld\n", static_cast<long long>(r < 0 ? errno : 0));
            *done = got;
            return 30;
        }
        got += r;
    }
    *done = got;
    return 0;
}
} // namespace

uint64_t DeviceSectorCount(int fd) {
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) return ~uint64_t(0);
    if (S_ISREG(st.st_mode)) return static_cast<uint64_t>(st.st_size) / 512;
    uint64_t bytes = 0;
    if (S_ISBLK(st.st_mode) && ::ioctl(fd, BLKGETSIZE64, &bytes) == 0) return bytes / 512;
    return ~uint64_t(0);
}

CDiskReader::CDiskReader() : fd(-1), u64SectorLimit(0), u64DeviceSectors(~uint64_t(0)) {}

void CDiskReader::Adopt(int h, uint64_t endSector) {
    fd = h;
    u64DeviceSectors = DeviceSectorCount(h);
    u64SectorLimit = endSector;
}

CDiskReader::~CDiskReader() { Close(); }

void CDiskReader::Close() {
    if (fd >= 0) ::close(fd);
    fd = -1;
    u64DeviceSectors = ~uint64_t(0);
}

int CDiskReader::Init(int diskNo, uint64_t endSector) {
    Close();
    std::string path = GetDiskDevicePath(diskNo);
    int h = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (h < 0) return errno;
    Adopt(h, endSector);
    return 0;
}

int CDiskReader::Init(const wchar_t* path, uint64_t endSector) {
    Close();
    if (!path) return 87;
    char narrow[4096];
    inner_uni2str(narrow, path, sizeof narrow, -1);
    int h = ::open(narrow, O_RDONLY | O_CLOEXEC);
    if (h < 0) return errno;
    Adopt(h, endSector);
    return 0;
}

int CDiskReader::ReadData(unsigned char* buf, int sectorCount, long long startSector, int bytesPerSector, unsigned* sectorsRead) {
    // The cache holds only what ReadDevice read, so it is within this reader's bounds.
    if (m_pCache && buf && sectorCount > 0 && startSector >= 0 && bytesPerSector == 512 &&
        m_pCache->CopySectors(buf, static_cast<uint64_t>(startSector), static_cast<uint32_t>(sectorCount))) {
        if (sectorsRead) *sectorsRead = static_cast<unsigned>(sectorCount);
        return 0;
    }
    return ReadDevice(buf, sectorCount, startSector, bytesPerSector, sectorsRead);
}

int CDiskReader::ReadDevice(unsigned char* buf, int sectorCount, long long startSector, int bytesPerSector,
                            unsigned* sectorsRead) {
    if (sectorsRead) *sectorsRead = 0;
    if (fd < 0 || !buf || sectorCount < 0 || startSector < 0 || bytesPerSector <= 0) return 87;
    if (static_cast<uint64_t>(sectorCount) + static_cast<uint64_t>(startSector) > u64SectorLimit) return 87;
    // Sectors past the device's end do not exist: answered at once, without a
    // system call per sector, however far a damaged table says the area reaches.
    if (bytesPerSector == 512 && static_cast<uint64_t>(startSector) >= u64DeviceSectors) return 30;
    off_t offset = static_cast<off_t>(startSector) * bytesPerSector;
    long long done = 0;
    uint64_t failing = FirstFailingSector(static_cast<uint64_t>(startSector), static_cast<uint64_t>(sectorCount));
    long long readable = static_cast<long long>(failing - static_cast<uint64_t>(startSector));
    int rc = ReadAll(fd, buf, readable * bytesPerSector, offset, &done);
    Throttle(fd, offset, done);
    if (rc == 0 && readable < sectorCount) rc = 30;
    if (rc != 0) {
        if (sectorsRead) *sectorsRead = static_cast<unsigned>(done / bytesPerSector);
        return rc;
    }
    if (sectorsRead) *sectorsRead = static_cast<unsigned>(sectorCount);
    return 0;
}

int CDiskReader::ReadSkippingBadSectors(unsigned char* buf, int sectorCount, long long startSector, int bytesPerSector,
                                        std::vector<uint32_t>* unreadable) {
    int done = 0;
    while (done < sectorCount) {
        unsigned got = 0;
        unsigned char* p = buf + static_cast<size_t>(done) * bytesPerSector;
        int rc = ReadDevice(p, sectorCount - done, startSector + done, bytesPerSector, &got);
        if (rc == 87 && done == 0) return rc;
        done += static_cast<int>(got);
        if (rc == 0 || done >= sectorCount) break;
        // The read stopped at sector `done`: it alone is lost if it fails on its own.
        unsigned one = 0;
        p = buf + static_cast<size_t>(done) * bytesPerSector;
        if (ReadDevice(p, 1, startSector + done, bytesPerSector, &one) != 0 || one != 1) {
            std::memset(p, 0, static_cast<size_t>(bytesPerSector));
            if (unreadable) unreadable->push_back(static_cast<uint32_t>(done));
        }
        ++done;
    }
    return 0;
}

int CDiskReader::CopyToFile(int outFd, uint64_t startSector, uint64_t bytes, uint64_t* written) {
    *written = 0;
    const uint64_t sectors = (bytes + 511) / 512;
    // The test's failing sectors and the rate cap live in the read path only.
    if (fd < 0 || outFd < 0 || g_failEnabled.load() || ReadLimitBytesPerSecond() > 0) return 87;
    if (startSector + sectors > u64SectorLimit || startSector + sectors > u64DeviceSectors) return 87;
    off_t offset = static_cast<off_t>(startSector * 512);
    while (*written < bytes) {
        ssize_t n = ::sendfile(outFd, fd, &offset, static_cast<size_t>(std::min<uint64_t>(bytes - *written, 1u << 30)));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : 30;
        *written += static_cast<uint64_t>(n);
    }
    return 0;
}

void CDiskReader::SetFailingSectorsForTesting(const std::vector<uint64_t>& sectors) {
    std::lock_guard<std::mutex> lock(g_failMutex);
    g_failingSectors = sectors;
    std::sort(g_failingSectors.begin(), g_failingSectors.end());
    g_failEnabled.store(!g_failingSectors.empty());
}

int ReadData(int fd, unsigned char* buf, int len, unsigned* bytesRead) {
    long long done = 0;
    int rc = ReadAll(fd, buf, len, -1, &done);
    if (bytesRead) *bytesRead = static_cast<unsigned>(done);
    return rc;
}
