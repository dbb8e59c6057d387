#include "carving/CarveContext.h"

#include "fat/FatStructures.h"
#include "platform/CDiskReader.h"

#include <cstring>

int CarveContext::m_nBytesPerSector = 512;
uint64_t CarveContext::m_u64StartSector = 0;
uint64_t CarveContext::m_u64CurrentSector = 0;
CDiskReader* CarveContext::m_pDiskReader = nullptr;
uint64_t CarveContext::m_u64ScanSectorCount = 0;
uint64_t CarveContext::m_u64SectorTotalCount = 0;
int CarveContext::m_nRemaidSecond = -1;
uint64_t CarveContext::m_u64FileCount = 0;
int CarveContext::m_bIsNeedCheckTsFileRange = 1;
int CarveContext::m_bIsMtsFileHead = 0;
unsigned char CarveContext::m_uMtsPreIndex = 0;
std::vector<_TS_FILE_RANGE_> CarveContext::m_tsFileRangeVec;
int CarveContext::m_ErrorCode = 0;
unsigned char* CarveContext::m_pReadBuf = nullptr;
ScanCallBack CarveContext::m_progressFunc = nullptr;
RecoveryCallBack CarveContext::m_pRecoveryFunc = nullptr;
void* CarveContext::m_pParam = nullptr;
int CarveContext::m_nPercent = 100;

unsigned char* CarveContext::ReadBuf() {
    if (!m_pReadBuf) m_pReadBuf = new unsigned char[kReadBufBytes];
    return m_pReadBuf;
}

uint64_t CarveContext::SectorsLeftFrom(uint64_t sector) {
    if (!m_pDiskReader || !m_pDiskReader->IsOpen()) return 0;
    uint64_t limit = m_pDiskReader->GetSectorLimit();
    return sector < limit ? limit - sector : 0;
}

int CarveContext::ReadContextSectors(unsigned char* buf, int count, uint64_t sector, unsigned& got) {
    got = 0;
    if (!buf || count <= 0) return 87;
    uint64_t left = SectorsLeftFrom(sector);
    if (left == 0) return 87;
    int want = left < static_cast<uint64_t>(count) ? static_cast<int>(left) : count;
    int bps = m_nBytesPerSector > 0 ? m_nBytesPerSector : 512;
    int rc = m_pDiskReader->ReadData(buf, want, static_cast<long long>(sector), bps, &got);
    if (rc == 0 && want < count) return 30; // the bound cut the request short
    return rc;
}

bool CarveContext::ReadFileBytesAt(uint64_t off, unsigned char* out, int len) {
    if (!out || len <= 0) return false;
    int bps = m_nBytesPerSector > 0 ? m_nBytesPerSector : 512;
    uint64_t first = off / bps;
    uint64_t last = (off + len - 1) / bps;
    int count = static_cast<int>(last - first + 1);
    std::vector<unsigned char> tmp(static_cast<size_t>(count) * bps);
    unsigned got = 0;
    if (ReadContextSectors(tmp.data(), count, m_u64CurrentSector + first, got) != 0) return false;
    std::memcpy(out, tmp.data() + off % bps, len);
    return true;
}

bool CarveContext::IsFileSystemSector(unsigned char* buf, int len) {
    if (!buf || len < 32) return false;
    if (std::memcmp(buf, "FILE", 4) == 0 || std::memcmp(buf, "INDX", 4) == 0) return true;
    if (std::memcmp(buf, "RSTR", 4) == 0) {
        static const unsigned char ntfs16[8] = {'N', 0, 'T', 0, 'F', 0, 'S', 0};
        if (memmem(buf, len, ntfs16, 8)) return true;
    }
    static const unsigned char sta16[8] = {0x24, 0, 0x53, 0, 0x54, 0, 0x41, 0};
    if (std::memcmp(buf, sta16, 8) == 0) return true;
    if (buf[0] == 0xEB && buf[2] == 0x90) {
        static const char* const oem[] = {"MSDOS5.0", "MSWIN4.0", "MSWIN4.1", "EXFAT   ", "NTFS    "};
        for (const char* o : oem)
            if (std::memcmp(buf + 3, o, 8) == 0) return true;
    }
    return IsFatFDTRecord(buf, len) != 0;
}

unsigned char* CarveContext::memmem(unsigned char* buf, int len, const unsigned char* pattern, int patternLen) {
    if (!buf || !pattern || patternLen <= 0 || len < patternLen) return nullptr;
    const unsigned char first = pattern[0];
    unsigned char* p = buf;
    unsigned char* last = buf + (len - patternLen);
    while (p <= last) {
        p = static_cast<unsigned char*>(std::memchr(p, first, static_cast<size_t>(last - p) + 1));
        if (!p) return nullptr;
        if (std::memcmp(p, pattern, patternLen) == 0) return p;
        ++p;
    }
    return nullptr;
}

unsigned char* CarveContext::memrmem(unsigned char* buf, int len, const unsigned char* pattern, int patternLen) {
    if (!buf || !pattern || patternLen <= 0 || len < patternLen) return nullptr;
    for (int i = len - patternLen; i >= 0; --i)
        if (buf[i] == pattern[0] && std::memcmp(buf + i, pattern, patternLen) == 0) return buf + i;
    return nullptr;
}
