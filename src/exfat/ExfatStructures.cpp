#include "exfat/ExfatStructures.h"

#include "disk/VolumeRecognizers.h"
#include "platform/TextCodec.h"

#include <cstring>
#include <ctime>

namespace {
constexpr size_t kBackupRegionSector = 12;
constexpr unsigned kMaxSecondaries = 18; // a stream entry and 17 name entries hold 255 units
constexpr unsigned kNameUnitsPerEntry = 15;
// FILETIME of 1970-01-01, in 100 ns units since 1601.
constexpr uint64_t kUnixEpochFileTime = 116444736000000000ULL;

uint8_t TypeInUse(uint8_t type) { return uint8_t(type | EXFAT_IN_USE); }

// Days from 1970-01-01 to a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + int64_t(doe) - 719468;
}
} // namespace

int ParseExfatBootSector(const ByteView& s, EXFAT_GEOMETRY& out) {
    if (!s.has(0, 512)) return 87;
    if (s.u8(0) != 0xEB || s.u8(1) != 0x76 || s.u8(2) != 0x90 || !s.equals(3, "EXFAT   ", 8)) return 87;
    for (size_t i = 11; i < 64; ++i)
        if (s.u8(i) != 0) return 87;
    if (s.u8(510) != 0x55 || s.u8(511) != 0xAA) return 87;
    const unsigned bpsShift = s.u8(108), spcShift = s.u8(109), fats = s.u8(110);
    if (bpsShift < 9 || bpsShift > 12 || spcShift > 25 - bpsShift || fats < 1 || fats > 2) return 87;
    EXFAT_GEOMETRY g;
    g.nBytesPerSector = 1u << bpsShift;
    g.nSectorsPerCluster = 1u << spcShift;
    g.u64VolumeSectors = s.le64(72);
    g.nFatOffset = s.le32(80);
    g.nFatLength = s.le32(84);
    g.nHeapOffset = s.le32(88);
    g.nClusterCount = s.le32(92);
    g.nRootCluster = s.le32(96);
    g.nNumFats = fats;
    if (g.nFatOffset < 24 || g.nFatLength == 0) return 87;
    if (uint64_t(g.nFatOffset) + uint64_t(g.nFatLength) * fats > g.nHeapOffset) return 87;
    if (g.nClusterCount == 0 || g.nClusterCount > 0xFFFFFFF5u) return 87;
    // The FAT must hold an entry for every cluster, and the heap must fit the volume.
    if ((uint64_t(g.nClusterCount) + 2) * 4 > uint64_t(g.nFatLength) * g.nBytesPerSector) return 87;
    if (g.nHeapOffset + uint64_t(g.nClusterCount) * g.nSectorsPerCluster > g.u64VolumeSectors) return 87;
    if (!g.IsDataCluster(g.nRootCluster)) return 87;
    out = g;
    return 0;
}

int ParseExfatBootRegion(const ByteView& area, EXFAT_GEOMETRY& out, bool* usedBackup) {
    for (size_t copy = 0; copy < 2; ++copy) {
        for (unsigned bps = 512; bps <= 4096; bps *= 2) {
            const size_t start = copy * kBackupRegionSector * bps;
            if (!area.has(start, size_t(bps) * 12)) break;
            ByteView region = area.sub(start, size_t(bps) * 12);
            EXFAT_GEOMETRY g;
            if (ParseExfatBootSector(region, g) != 0 || g.nBytesPerSector != bps) continue;
            const uint32_t sum = ExfatBootChecksum(region.data(), bps);
            bool ok = true;
            for (unsigned i = 0; i < bps && ok; i += 4) ok = region.le32(size_t(11) * bps + i) == sum;
            if (!ok) continue;
            out = g;
            if (usedBackup) *usedBackup = copy == 1;
            return 0;
        }
    }
    return 87;
}

uint16_t ExfatSetChecksum(const ByteView& dir, size_t offset, unsigned count) {
    uint16_t sum = 0;
    for (size_t i = 0; i < size_t(count) * EXFAT_ENTRY_BYTES; ++i) {
        if (i == 2 || i == 3) continue;
        uint8_t b = dir.u8(offset + i);
        if (i % EXFAT_ENTRY_BYTES == 0) b = TypeInUse(b);
        sum = uint16_t(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + b);
    }
    return sum;
}

int ParseExfatEntrySet(const ByteView& dir, size_t offset, EXFAT_ENTRY_SET& out) {
    if (!dir.has(offset, 2 * EXFAT_ENTRY_BYTES)) return 87;
    const uint8_t type = dir.u8(offset);
    if (TypeInUse(type) != EXFAT_TYPE_FILE) return 87;
    const uint8_t inUse = type & EXFAT_IN_USE;
    const unsigned secondaries = dir.u8(offset + 1);
    if (secondaries < 2 || secondaries > kMaxSecondaries) return 87;
    const unsigned count = secondaries + 1;
    if (!dir.has(offset, size_t(count) * EXFAT_ENTRY_BYTES)) return 87;
    const size_t stream = offset + EXFAT_ENTRY_BYTES;
    if (dir.u8(stream) != uint8_t((EXFAT_TYPE_STREAM & 0x7F) | inUse)) return 87;
    const unsigned nameUnits = dir.u8(stream + 3);
    if (nameUnits == 0) return 87;
    const unsigned nameEntries = (nameUnits + kNameUnitsPerEntry - 1) / kNameUnitsPerEntry;
    if (nameEntries + 1 > secondaries) return 87;
    // Every secondary shares the file entry's in-use state; name entries follow the stream.
    for (unsigned i = 1; i < count; ++i) {
        const uint8_t t = dir.u8(offset + i * EXFAT_ENTRY_BYTES);
        if ((t & EXFAT_IN_USE) != inUse || !(t & 0x40)) return 87;
        if (i >= 2 && i < 2 + nameEntries && TypeInUse(t) != EXFAT_TYPE_NAME) return 87;
    }
    if (ExfatSetChecksum(dir, offset, count) != dir.le16(offset + 2)) return 87;

    out.nOffset = uint32_t(offset);
    out.nEntries = count;
    out.bDeleted = inUse == 0;
    out.nAttributes = dir.le16(offset + 4);
    out.u64CreateTime = ExfatTimeToFileTime(dir.le32(offset + 8), dir.u8(offset + 20), dir.u8(offset + 22));
    out.u64ModifyTime = ExfatTimeToFileTime(dir.le32(offset + 12), dir.u8(offset + 21), dir.u8(offset + 23));
    out.u64AccessTime = ExfatTimeToFileTime(dir.le32(offset + 16), 0, dir.u8(offset + 24));
    out.nStreamFlags = dir.u8(stream + 1);
    out.u64ValidDataLength = dir.le64(stream + 8);
    out.nFirstCluster = dir.le32(stream + 20);
    out.u64DataLength = dir.le64(stream + 24);
    out.nNameUnits = nameUnits;
    for (unsigned u = 0; u < nameUnits; ++u) {
        const size_t entry = offset + (2 + u / kNameUnitsPerEntry) * EXFAT_ENTRY_BYTES;
        out.name[u] = dir.le16(entry + 2 + 2 * (u % kNameUnitsPerEntry));
    }
    return dir.bad() ? 87 : 0;
}

bool ParseExfatDirectory(const ByteView& dir, std::vector<EXFAT_ENTRY_SET>& out, EXFAT_ROOT_ENTRIES* root) {
    EXFAT_ENTRY_SET set;
    for (size_t off = 0; dir.has(off, EXFAT_ENTRY_BYTES);) {
        const uint8_t type = dir.u8(off);
        if (type == EXFAT_TYPE_END) return true;
        if (root && type == EXFAT_TYPE_BITMAP && root->nBitmapCluster == 0) {
            root->nBitmapCluster = dir.le32(off + 20);
            root->u64BitmapLength = dir.le64(off + 24);
        } else if (root && type == EXFAT_TYPE_UPCASE) {
            root->nUpcaseCluster = dir.le32(off + 20);
            root->u64UpcaseLength = dir.le64(off + 24);
        }
        if (TypeInUse(type) == EXFAT_TYPE_FILE && ParseExfatEntrySet(dir, off, set) == 0) {
            out.push_back(set);
            off += size_t(set.nEntries) * EXFAT_ENTRY_BYTES;
            continue;
        }
        off += EXFAT_ENTRY_BYTES;
    }
    return false;
}

uint64_t ExfatTimeToFileTime(uint32_t stamp, uint8_t tenMs, uint8_t utcOffset) {
    const unsigned sec2 = stamp & 0x1F, minute = (stamp >> 5) & 0x3F, hour = (stamp >> 11) & 0x1F;
    const unsigned day = (stamp >> 16) & 0x1F, month = (stamp >> 21) & 0x0F, year = 1980 + (stamp >> 25);
    if (day == 0 || month == 0 || month > 12 || hour > 23 || minute > 59 || sec2 > 29 || tenMs > 199) return 0;
    int64_t seconds = DaysFromCivil(int(year), month, day) * 86400 + hour * 3600 + minute * 60 + sec2 * 2;
    if (utcOffset & 0x80) {
        // Seven-bit signed count of 15-minute steps east of UTC.
        const int steps = (utcOffset & 0x40) ? int(utcOffset & 0x7F) - 128 : int(utcOffset & 0x7F);
        seconds -= int64_t(steps) * 15 * 60;
    }
    return kUnixEpochFileTime + uint64_t(seconds) * 10000000ULL + uint64_t(tenMs) * 100000ULL;
}

void ExfatNameToAnsi(const EXFAT_ENTRY_SET& set, char* out, size_t outSize) {
    uint8_t units[EXFAT_MAX_NAME_UNITS * 2];
    for (uint32_t i = 0; i < set.nNameUnits; ++i) {
        units[2 * i] = uint8_t(set.name[i]);
        units[2 * i + 1] = uint8_t(set.name[i] >> 8);
    }
    Utf16leToAnsi(units, set.nNameUnits, out, outSize);
}
