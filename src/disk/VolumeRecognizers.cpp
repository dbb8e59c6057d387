#include "disk/VolumeRecognizers.h"

#include "platform/ByteView.h"
#include "platform/TextCodec.h"

#include <cstring>

namespace {
inline uint16_t Le16(const unsigned char* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t Le32(const unsigned char* p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24); }
inline uint64_t Le64(const unsigned char* p) { return uint64_t(Le32(p)) | (uint64_t(Le32(p + 4)) << 32); }

bool IsClusterSize(unsigned spc) {
    return spc == 1 || spc == 2 || spc == 4 || spc == 8 || spc == 16 || spc == 32 || spc == 64;
}

bool HasBootSignature(const unsigned char* buf) { return buf[510] == 0x55 && buf[511] == 0xAA; }
} // namespace

bool IsNtfs(const unsigned char* buf) {
    if (!buf || std::memcmp(buf + 3, "NTFS    ", 8) != 0) return false;
    if (Le16(buf + 11) % 512 != 0) return false;
    if (Le16(buf + 14) != 0) return false;
    if (!IsClusterSize(buf[13])) return false;
    if (Le64(buf + 40) == 0) return false;
    if (buf[16] != 0 || Le16(buf + 17) != 0 || Le16(buf + 19) != 0 || Le16(buf + 22) != 0 || Le32(buf + 32) != 0) return false;
    return HasBootSignature(buf);
}

bool IsBitlockerDBR(const unsigned char* buf) {
    if (!buf) return false;
    if (std::memcmp(buf + 3, "-FVE-FS-", 8) == 0) return true;
    static const unsigned char tail[30] = {
        'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x',
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
        0x00, 0x1F, 0x2C};
    return std::memcmp(buf + 480, tail, sizeof tail) == 0;
}

bool IsFullValidFAT16DBR(const unsigned char* buf) {
    if (!buf) return false;
    return buf[16] != 0 && (Le16(buf + 19) != 0 || Le32(buf + 32) != 0) && IsClusterSize(buf[13]) &&
           Le16(buf + 22) != 0 && HasBootSignature(buf);
}

bool IsFullValidFAT32DBR(const unsigned char* buf) {
    if (!buf) return false;
    return std::memcmp(buf + 82, "FAT32   ", 8) == 0 && buf[16] != 0 && Le32(buf + 32) != 0 &&
           IsClusterSize(buf[13]) && Le32(buf + 36) != 0 && HasBootSignature(buf);
}

bool IsFat(const unsigned char* buf) {
    if (!buf || IsBitlockerDBR(buf)) return false;
    uint32_t fatSize = Le16(buf + 22) ? Le16(buf + 22) : Le32(buf + 36);
    uint32_t totalSectors = Le32(buf + 32) ? Le32(buf + 32) : Le16(buf + 19);
    uint32_t bytesPerSector = Le16(buf + 11);
    uint32_t sectorsPerCluster = buf[13];
    if (bytesPerSector == 0 || bytesPerSector % 512 != 0 || sectorsPerCluster == 0) return false;
    uint32_t rootSectors = (uint32_t(Le16(buf + 17)) * 32) / bytesPerSector;
    uint32_t clusters = (totalSectors - Le16(buf + 14) - fatSize * buf[16] - rootSectors) / sectorsPerCluster;
    if (clusters > 0x0FFFFFEF) return false;
    if (clusters >= 65525) return IsFullValidFAT32DBR(buf) || IsFullValidFAT16DBR(buf);
    return IsFullValidFAT16DBR(buf) || IsFullValidFAT32DBR(buf);
}

bool IsExt(const unsigned char* buf) {
    if (!buf) return false;
    const unsigned char* sb = buf + 1024;
    if (Le16(sb + 56) != 0xEF53) return false;
    uint32_t inodes = Le32(sb + 0), blocks = Le32(sb + 4), firstData = Le32(sb + 20), logBlock = Le32(sb + 24);
    uint32_t blocksPerGroup = Le32(sb + 32), inodesPerGroup = Le32(sb + 40), firstInode = Le32(sb + 84);
    if (!blocks || !inodes || !blocksPerGroup || !inodesPerGroup) return false;
    if (firstInode < 3) return false;
    if ((inodes - 1) / inodesPerGroup != (blocks - 1 - firstData) / blocksPerGroup) return false;
    bool smallBlocks = logBlock == 0; // block size 1024 << logBlock
    if (firstData != (smallBlocks ? 1u : 0u)) return false;
    return inodes > firstInode;
}

uint32_t ExfatBootChecksum(const unsigned char* region, unsigned bytesPerSector) {
    uint32_t sum = 0;
    for (size_t i = 0; i < size_t(bytesPerSector) * 11; ++i) {
        if (i == 106 || i == 107 || i == 112) continue;
        sum = ((sum & 1) ? 0x80000000u : 0) + (sum >> 1) + region[i];
    }
    return sum;
}

namespace {
// The boot sector's fields, and the checksum sector when the region fits the buffer.
bool IsExfatRegion(const unsigned char* r, size_t available) {
    if (r[0] != 0xEB || r[1] != 0x76 || r[2] != 0x90 || std::memcmp(r + 3, "EXFAT   ", 8) != 0) return false;
    for (int i = 11; i < 64; ++i)
        if (r[i] != 0) return false;
    const unsigned bpsShift = r[108], spcShift = r[109];
    if (bpsShift < 9 || bpsShift > 12 || spcShift > 25 - bpsShift || r[110] < 1 || r[110] > 2) return false;
    if (!HasBootSignature(r) || Le32(r + 80) < 24 || Le32(r + 88) <= Le32(r + 80)) return false;
    const unsigned bps = 1u << bpsShift;
    if (available < size_t(bps) * 12) return true;
    const uint32_t sum = ExfatBootChecksum(r, bps);
    for (unsigned i = 0; i < bps; i += 4)
        if (Le32(r + 11 * bps + i) != sum) return false;
    return true;
}
} // namespace

bool IsExfat(const unsigned char* buf) {
    constexpr size_t kBytes = 12288;
    if (!buf) return false;
    if (IsExfatRegion(buf, kBytes)) return true;
    return IsExfatRegion(buf + 6144, kBytes - 6144);
}

bool IsNtfsFileRecord(const unsigned char* buf, unsigned recordSize) {
    if (!buf || buf[0] != 'F' || buf[1] != 'I' || buf[2] != 'L' || buf[3] != 'E') return false;
    return Le32(buf + 0x18) <= recordSize && Le32(buf + 0x1C) == recordSize && Le16(buf + 0x30) == Le16(buf + 510);
}

unsigned GetDefaultNtfsSectorPerCluster(uint64_t totalSectors, unsigned bytesPerSector) {
    double k = bytesPerSector / 512;
    double size = static_cast<double>(bytesPerSector) * static_cast<double>(totalSectors) / 1048576.0;
    double t1 = k * 7;
    double t2 = bytesPerSector / 512 * 512;
    double t3 = (2 * bytesPerSector) / 1024 * 1024;
    double t4 = (4 * bytesPerSector) / 2048 * 2048;
    if (size <= t1) return 8;
    if (size <= t2) return 1;
    if (size <= t3) return 2;
    if (size <= t4) return 4;
    return 8;
}

std::string DescribeLinuxVolume(const unsigned char* buf, size_t len, std::string& label) {
    label.clear();
    auto text = [&](size_t off, size_t max) {
        size_t n = 0;
        while (n < max && off + n < len && buf[off + n]) ++n;
        return std::string(reinterpret_cast<const char*>(buf + off), n);
    };
    if (buf && len >= 2048 && IsExt(buf)) {
        const unsigned char* sb = buf + 1024;
        const uint32_t compat = Le32(sb + 0x5C), incompat = Le32(sb + 0x60), roCompat = Le32(sb + 0x64);
        label = text(1024 + 0x78, 16);
        // Extents, 64-bit, flex_bg or huge files mark the fourth version; a journal the third.
        if ((incompat & (0x40 | 0x80 | 0x200)) || (roCompat & 0x8)) return "ext4";
        return (compat & 0x4) ? "ext3" : "ext2";
    }
    constexpr size_t kBtrfs = 0x10000;
    if (buf && len >= kBtrfs + 0x22B && std::memcmp(buf + kBtrfs + 0x40, "_BHRfS_M", 8) == 0) {
        label = text(kBtrfs + 0x12B, 256);
        return "btrfs";
    }
    return "";
}

bool ExfatRootFolder(const unsigned char* buf, size_t len, uint64_t& sector, uint32_t& bytes) {
    constexpr size_t kBytes = 12288;
    if (!buf || len < kBytes) return false;
    const unsigned char* r = IsExfatRegion(buf, kBytes) ? buf : IsExfatRegion(buf + 6144, kBytes - 6144) ? buf + 6144 : nullptr;
    if (!r) return false;
    const unsigned bpsShift = r[108], spcShift = r[109];
    const uint32_t root = Le32(r + 96);
    if (root < 2 || root - 2 >= Le32(r + 92)) return false; // past the cluster count
    sector = (uint64_t(Le32(r + 88)) + (uint64_t(root - 2) << spcShift)) << (bpsShift - 9);
    bytes = spcShift + bpsShift >= 16 ? 65536u : 1u << (spcShift + bpsShift);
    return true;
}

std::string ExfatVolumeLabel(const unsigned char* folder, size_t len) {
    for (size_t at = 0; folder && at + 32 <= len; at += 32) {
        const unsigned char type = folder[at];
        if (type == 0x00) break; // the end of the folder's entries
        if (type != 0x83) continue;
        const size_t units = folder[at + 1] < 11 ? folder[at + 1] : 11;
        return WideToUtf8(Utf16leToWide(folder + at + 2, units).c_str());
    }
    return "";
}

namespace {
// Space-padded 8-bit text (a FAT label) as UTF-8; "NO NAME" is the format's "none".
std::string PaddedLabel(ByteView v, size_t off, size_t len) {
    char raw[16] = {};
    if (!v.copy(off, raw, len)) return std::string();
    size_t end = len;
    while (end && (raw[end - 1] == ' ' || raw[end - 1] == 0)) --end;
    raw[end] = 0;
    if (!std::strcmp(raw, "NO NAME")) return std::string();
    return WideToUtf8(Ansi2Unicode(raw).c_str());
}

std::string FatKind(ByteView v) {
    const uint32_t rootEntries = v.le16(17);
    const uint32_t fat16Size = v.le16(22);
    if (rootEntries == 0 && fat16Size == 0) return "FAT32";
    const uint32_t bytesPerSector = v.le16(11);
    const uint32_t perCluster = v.u8(13);
    uint32_t total = v.le16(19);
    if (total == 0) total = v.le32(32);
    if (!bytesPerSector || !perCluster) return "FAT";
    const uint32_t rootSectors = (rootEntries * 32 + bytesPerSector - 1) / bytesPerSector;
    const uint64_t meta = uint64_t(v.le16(14)) + uint64_t(v.u8(16)) * fat16Size + rootSectors;
    const uint64_t clusters = total > meta ? (total - meta) / perCluster : 0;
    return clusters < 4085 ? "FAT12" : "FAT16";
}
} // namespace

std::string DescribeVolume(const unsigned char* buf, size_t len, std::string& label) {
    label.clear();
    ByteView v(buf, len);
    if (!v.has(0, 512)) return std::string();
    if (len >= 12288 && IsExfat(buf)) return "exFAT";
    if (v.equals(3, "EXFAT   ", 8)) return "exFAT";
    if (IsNtfs(buf)) return "NTFS";
    if (IsBitlockerDBR(buf)) return "BitLocker";
    if (IsFat(buf)) {
        std::string kind = FatKind(v);
        const size_t ext = kind == "FAT32" ? 0x40 : 0x24; // extended boot record fields
        if (v.u8(ext + 2) == 0x29) label = PaddedLabel(v, ext + 7, 11);
        return kind;
    }
    if (len >= 1112) return DescribeLinuxVolume(buf, len, label);
    return std::string();
}
