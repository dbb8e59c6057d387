#include "disk/CPartitionManager.h"

#include "disk/VolumeRecognizers.h"
#include "platform/ByteView.h"
#include "platform/DeviceMap.h"
#include "platform/Log.h"
#include "platform/Portability.h"
#include "platform/TextCodec.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {
constexpr int kMaxDiskNo = 127;
constexpr size_t kProbeBytes = 4096;
constexpr size_t kGptEntriesOffset = 1024;
constexpr size_t kGptEntryBytes = 128;
constexpr size_t kApmEntryBytes = 512;
constexpr uint32_t kApmMaxEntries = 128;
constexpr size_t kMbrTableOffset = 446;
// No real disk chains this many logical partitions; a longer chain is damage.
constexpr int kMaxBootRecords = 1024;

_PARTITION_ITEM_ MakeItem(uint64_t start, uint64_t end, int diskNo, const char* diskName) {
    _PARTITION_ITEM_ item;
    std::memset(&item, 0, sizeof item);
    item.u64StartSector = start;
    item.u64EndSector = end;
    item.nDiskNo = diskNo;
    if (diskName) std::snprintf(item.szDiskName, sizeof item.szDiskName, "%s", diskName);
    return item;
}

// ASCII text into the UTF-16LE label field, zero-padded.
void SetAsciiLabel(_PARTITION_ITEM_& item, const char* text, size_t maxChars) {
    std::memset(item.szPartitionName, 0, sizeof item.szPartitionName);
    for (size_t i = 0; i < maxChars && i < sizeof item.szPartitionName / 2 - 1 && text[i]; ++i)
        item.szPartitionName[2 * i] = static_cast<unsigned char>(text[i]);
}

// GPT entries from the first 4096 bytes of the disk: 128-byte entries from
// sector 2, so at most 24; the first unused entry ends the list.
void AppendGptItems(const ByteView& head, int diskNo, const char* diskName, std::vector<_PARTITION_ITEM_>& items) {
    for (size_t off = kGptEntriesOffset; head.has(off, kGptEntryBytes); off += kGptEntryBytes) {
        uint64_t first = head.le64(off + 32);
        uint64_t last = head.le64(off + 40);
        if (first == 0 || last == 0) break;
        if (last < first) continue; // an inverted range describes no sectors
        _PARTITION_ITEM_ item = MakeItem(first, last, diskNo, diskName);
        head.copy(off + 56, item.szPartitionName, sizeof item.szPartitionName);
        items.push_back(item);
    }
}

// Apple partition map entries (big-endian), the map's own entry included.
void AppendApmItems(const ByteView& map, int diskNo, const char* diskName, std::vector<_PARTITION_ITEM_>& items) {
    for (size_t off = 0; map.has(off, kApmEntryBytes); off += kApmEntryBytes) {
        uint64_t start = uint64_t(map.be32(off + 8)) + map.be32(off + 80);
        uint32_t count = map.be32(off + 84);
        if (count == 0) continue; // no data: nothing to scan, and no valid last sector
        _PARTITION_ITEM_ item = MakeItem(start, start + count - 1, diskNo, diskName);
        // The entry's name is ASCII; the label field is UTF-16LE.
        char name[33] = {};
        map.copy(off + 16, name, 32);
        SetAsciiLabel(item, name, 32);
        items.push_back(item);
    }
}
// A Linux or exFAT volume's kind and label join the row's name: "home (ext4)".
void NameLinuxVolume(int fd, _PARTITION_ITEM_& item) {
    std::vector<unsigned char> head(0x11000);
    long got = ReadAt(fd, item.u64StartSector * 512, head.data(), head.size());
    std::string label;
    std::string kind = got > 0 ? DescribeLinuxVolume(head.data(), size_t(got), label) : "";
    if (kind.empty() && got >= 12288 && ReadExfatLabel(fd, item.u64StartSector, head.data(), size_t(got), label))
        kind = "exFAT";
    if (kind.empty()) return;
    size_t units = 0;
    while (units < 36 && (item.szPartitionName[2 * units] || item.szPartitionName[2 * units + 1])) ++units;
    std::wstring name = label.empty() ? Utf16leToWide(item.szPartitionName, units) : Utf8ToWide(label.c_str());
    name += Utf8ToWide((" (" + kind + ")").c_str());
    std::memset(item.szPartitionName, 0, sizeof item.szPartitionName);
    for (size_t i = 0; i < name.size() && i < sizeof item.szPartitionName / 2 - 1; ++i) {
        item.szPartitionName[2 * i] = static_cast<unsigned char>(name[i]);
        item.szPartitionName[2 * i + 1] = static_cast<unsigned char>(name[i] >> 8);
    }
}
} // namespace

bool ReadExfatLabel(int fd, uint64_t startSector, const unsigned char* head, size_t len, std::string& label) {
    uint64_t rootSector = 0;
    uint32_t rootBytes = 0;
    if (!ExfatRootFolder(head, len, rootSector, rootBytes)) return false;
    std::vector<unsigned char> root(rootBytes);
    long read = ReadAt(fd, (startSector + rootSector) * 512, root.data(), root.size());
    label = read > 0 ? ExfatVolumeLabel(root.data(), size_t(read)) : std::string();
    return true;
}

CPartitionManager::CPartitionManager() : nBytesPerSector(512), nPartitionNumber(1), u32ExtendedBase(0),
                                         m_nBootRecordsRead(0) {}

CPartitionManager::~CPartitionManager() = default;

// A buffer shorter than the signature's place holds no signature.
bool CPartitionManager::IsMBR(const char* buf, int len) {
    return buf && len >= 512 && static_cast<unsigned char>(buf[510]) == 0x55 && static_cast<unsigned char>(buf[511]) == 0xAA;
}

bool CPartitionManager::IsAPM(const char* buf, int len) { return buf && len >= 2 && buf[0] == 'E' && buf[1] == 'R'; }

bool CPartitionManager::IsEFI(const char* buf, int len) { return buf && len >= 8 && std::memcmp(buf, "EFI PART", 8) == 0; }

int CPartitionManager::GetPartitionItems(std::map<int, std::vector<_PARTITION_ITEM_>>& out) {
    out.clear();
    nPartitionNumber = 1;
    u32ExtendedBase = 0;
    for (int n = 0; n <= kMaxDiskNo; ++n) {
        std::vector<_PARTITION_ITEM_> items;
        ProbeDisk(n, items);
        if (!items.empty()) out[n] = std::move(items);
    }
    return 1;
}

int CPartitionManager::GetDiskPartitionItems(int diskNo, std::vector<_PARTITION_ITEM_>& items) {
    nPartitionNumber = 1;
    size_t before = items.size();
    ProbeDisk(diskNo, items);
    return static_cast<int>(items.size() - before);
}

void CPartitionManager::ProbeDisk(int diskNo, std::vector<_PARTITION_ITEM_>& items) {
    u32ExtendedBase = 0;
    m_setVisitedBase.clear();
    m_nBootRecordsRead = 0;
    const size_t firstItem = items.size();

    const std::string path = GetDiskDevicePath(diskNo);
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    unsigned char head[kProbeBytes] = {};
    long got = ReadAt(fd, 0, head, sizeof head);
    if (got <= 0) {
        ::close(fd);
        return;
    }
    char diskName[16];
    std::snprintf(diskName, sizeof diskName, "/dev/disk%d", diskNo);
    const char* buf = reinterpret_cast<const char*>(head);
    ByteView view(head, static_cast<size_t>(got));

    if (view.has(512, 8) && IsEFI(buf + 512, 8)) {
        AppendGptItems(view, diskNo, diskName, items);
    } else if (view.has(0, 2) && IsAPM(buf, 2)) {
        uint32_t count = view.has(516, 4) ? view.be32(516) : 0;
        if (count <= kApmMaxEntries && count > 0) {
            std::vector<unsigned char> map(size_t(count) * kApmEntryBytes);
            long n = ReadAt(fd, 512, map.data(), map.size());
            if (n > 0) AppendApmItems(ByteView(map.data(), static_cast<size_t>(n)), diskNo, diskName, items);
        } else if (count > kApmMaxEntries) {
            OrvaleLog("CPartitionManager: disk %d: partition map of %u blocks refused\n", diskNo, count);
        }
    } else if (view.has(510, 2) && IsMBR(buf, 512)) {
        GetMBRPartition(fd, 0, items, diskNo, diskName);
    }
    for (size_t i = firstItem; i < items.size(); ++i) NameLinuxVolume(fd, items[i]);
    ::close(fd);
}

void CPartitionManager::GetMBRPartition(int fd, unsigned baseSector, std::vector<_PARTITION_ITEM_>& items, int diskNo,
                                        const char* diskName) {
    if (m_nBootRecordsRead >= kMaxBootRecords || !m_setVisitedBase.insert(baseSector).second) return;
    ++m_nBootRecordsRead;

    std::vector<unsigned char> record(kProbeBytes);
    long got = ReadAt(fd, uint64_t(baseSector) * static_cast<unsigned>(nBytesPerSector), record.data(), record.size());
    if (got < 512) return;
    // An extended boot record without the boot signature is not one: it is
    // empty or overwritten space, whose bytes would read as made-up partitions.
    if (baseSector != 0 && !IsMBR(reinterpret_cast<const char*>(record.data()), 512)) return;
    ByteView view(record.data(), static_cast<size_t>(got));

    for (int i = 0; i < 4; ++i) {
        const size_t e = kMbrTableOffset + 16 * static_cast<size_t>(i);
        const uint8_t type = view.u8(e + 4);
        const uint32_t relStart = view.le32(e + 8);
        const uint32_t count = view.le32(e + 12);
        if (type == 0x05 || type == 0x0F) {
            // The link to the next record is relative to the first extended partition.
            if (u32ExtendedBase == 0 && baseSector != 0) u32ExtendedBase = baseSector;
            GetMBRPartition(fd, relStart + u32ExtendedBase, items, diskNo, diskName);
            continue;
        }
        if (type == 0 && relStart == 0 && count == 0) break;
        if (count == 0) continue; // no sectors: not a partition anyone can scan
        const uint64_t start = uint64_t(relStart) + baseSector;
        _PARTITION_ITEM_ item = MakeItem(start, start + count - 1, diskNo, diskName);
        char label[32];
        std::snprintf(label, sizeof label, "Partition %d", nPartitionNumber++);
        SetAsciiLabel(item, label, sizeof label);
        items.push_back(item);
    }
}

int CPartitionManager::GetDiskList(std::map<int, uint64_t>& diskSectors) {
    diskSectors.clear();
    for (int n = 0; n <= kMaxDiskNo; ++n) {
        const std::string path = GetDiskDevicePath(n);
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        ::close(fd);
        uint64_t bytes = 0;
        if (GetDeviceSize(path, bytes) == 0 && bytes >= 512) diskSectors[n] = bytes / 512;
    }
    return static_cast<int>(diskSectors.size());
}
