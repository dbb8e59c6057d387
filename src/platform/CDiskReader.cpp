#include "platform/CDiskReader.h"

#include "platform/DeviceMap.h"
#include "platform/Log.h"
#include "platform/TextCodec.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr int kMaxPiece = 65536;

int ReadPieces(int fd, unsigned char* buf, long long len, long long* done) {
    long long got = 0;
    long long piece = kMaxPiece;
    while (got < len) {
        long long want = len - got < piece ? len - got : piece;
        ssize_t r = ::read(fd, buf + got, static_cast<size_t>(want));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) {
            OrvaleLog("read %lld\n", static_cast<long long>(r < 0 ? errno : 0));
            *done = got;
            return 30;
        }
        got += r;
        piece = want;
    }
    *done = got;
    return 0;
}
} // namespace

CDiskReader::CDiskReader() : fd(-1), u64SectorLimit(0) {}

CDiskReader::~CDiskReader() { Close(); }

void CDiskReader::Close() {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

int CDiskReader::Init(int diskNo, uint64_t endSector) {
    Close();
    std::string path = GetDiskDevicePath(diskNo);
    int h = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (h < 0) return errno;
    fd = h;
    u64SectorLimit = endSector;
    return 0;
}

int CDiskReader::Init(const wchar_t* path, uint64_t endSector) {
    Close();
    if (!path) return 87;
    char narrow[4096];
    inner_uni2str(narrow, path, sizeof narrow, -1);
    int h = ::open(narrow, O_RDONLY | O_CLOEXEC);
    if (h < 0) return errno;
    fd = h;
    u64SectorLimit = endSector;
    return 0;
}

int CDiskReader::ReadData(unsigned char* buf, int sectorCount, long long startSector, int bytesPerSector, unsigned* sectorsRead) {
    if (sectorsRead) *sectorsRead = 0;
    if (fd < 0 || !buf || sectorCount < 0 || startSector < 0 || bytesPerSector <= 0) return 87;
    if (static_cast<uint64_t>(sectorCount) + static_cast<uint64_t>(startSector) > u64SectorLimit) return 87;
    off_t offset = static_cast<off_t>(startSector) * bytesPerSector;
    if (::lseek(fd, offset, SEEK_SET) == static_cast<off_t>(-1)) {
        int e = errno;
        OrvaleLog("lseek failed %lld\n", static_cast<long long>(offset));
        return e;
    }
    long long done = 0;
    int rc = ReadPieces(fd, buf, static_cast<long long>(sectorCount) * bytesPerSector, &done);
    if (rc != 0) {
        if (sectorsRead) *sectorsRead = static_cast<unsigned>(done / bytesPerSector);
        return rc;
    }
    if (sectorsRead) *sectorsRead = static_cast<unsigned>(sectorCount);
    return 0;
}

int ReadData(int fd, unsigned char* buf, int len, unsigned* bytesRead) {
    long long done = 0;
    int rc = ReadPieces(fd, buf, len, &done);
    if (bytesRead) *bytesRead = static_cast<unsigned>(done);
    return rc;
}
