#pragma once
// Sector reads from a raw device or image, bounded by the scanned area.
#include <cstdint>
#include <vector>

// Sectors already in memory (the deep pass's read-ahead ring), asked before the
// device, so a length walk does not read again what the pass has just read.
class ISectorCache {
public:
    virtual ~ISectorCache() = default;
    // Copies count 512-byte sectors from absolute sector into buf; false, with
    // buf's contents unspecified, unless it holds every one of them.
    virtual bool CopySectors(unsigned char* buf, uint64_t sector, uint32_t count) = 0;
};

class CDiskReader {
public:
    CDiskReader();
    ~CDiskReader();
    CDiskReader(const CDiskReader&) = delete;
    CDiskReader& operator=(const CDiskReader&) = delete;

    // Opens disk N (through the platform's disk-number mapping) read-only.
    // endSector is one past the last sector that may be read. 0 or errno.
    int Init(int diskNo, uint64_t endSector);
    // Opens a device or image by path read-only. 0 or errno.
    int Init(const wchar_t* path, uint64_t endSector);
    void Close();

    // Reads sectorCount sectors from absolute sector startSector. 0 on success,
    // 87 when the request passes the limit (no I/O), errno on a failed seek,
    // 30 on a short read with *sectorsRead = whole sectors that arrived (at once,
    // without I/O, for a start past the device's end).
    int ReadData(unsigned char* buf, int sectorCount, long long startSector, int bytesPerSector, unsigned* sectorsRead);

    // Reads sectorCount sectors in as few system calls as the device allows; a
    // sector that cannot be read costs only itself: it is zero-filled and its
    // index within the request is added to *unreadable. 0, or 87 when the
    // request passes the limit.
    int ReadSkippingBadSectors(unsigned char* buf, int sectorCount, long long startSector, int bytesPerSector,
                               std::vector<uint32_t>* unreadable);

    // Appends bytes from absolute sector startSector to outFd inside the kernel,
    // without passing them through this process, where the device allows it.
    // 0 when all were written; else *written says how many were (the caller
    // reads the rest itself, which also tells which sector failed).
    int CopyToFile(int outFd, uint64_t startSector, uint64_t bytes, uint64_t* written);

    // Null: every read goes to the device. The cache must outlive its setting.
    void SetSectorCache(ISectorCache* cache) { m_pCache = cache; }

    // Test hook: reads that reach one of these absolute sectors (of any reader
    // in the process) stop there as a device would on a bad sector. Empty: off.
    static void SetFailingSectorsForTesting(const std::vector<uint64_t>& sectors);

    int GetFd() const { return fd; }
    uint64_t GetSectorLimit() const { return u64SectorLimit; }
    // Whole 512-byte sectors of the open device or image; ~0 when its size is unknown.
    uint64_t GetDeviceSectorCount() const { return u64DeviceSectors; }
    bool IsOpen() const { return fd >= 0; }

    int fd;
    uint64_t u64SectorLimit;

private:
    void Adopt(int h, uint64_t endSector);
    int ReadDevice(unsigned char* buf, int sectorCount, long long startSector, int bytesPerSector, unsigned* sectorsRead);
    uint64_t u64DeviceSectors;
    ISectorCache* m_pCache = nullptr;
};

// Whole 512-byte sectors of the open file fd (a regular file's size, a block
// device's size ioctl); ~0 when the size cannot be told.
uint64_t DeviceSectorCount(int fd);

// Reads len bytes from the current position of fd (64 KiB pieces once a large read fails).
// 0 with *bytesRead = len, or 30 with *bytesRead = what arrived.
int ReadData(int fd, unsigned char* buf, int len, unsigned* bytesRead);
