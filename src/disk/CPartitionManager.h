#pragma once
// Lists the disks and their partitions (GPT, Apple partition map, MBR with
// extended boot records).
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#pragma pack(push, 4)
struct _PARTITION_ITEM_ {
    uint64_t u64StartSector;      // absolute first sector
    uint64_t u64EndSector;        // last sector, inclusive
    int nDiskNo;
    unsigned char szPartitionName[72]; // UTF-16LE label, zero-padded
    char szDiskName[16];          // device path text "/dev/disk%d"
};
#pragma pack(pop)

// The label of the exFAT volume whose boot region starts head (len bytes, at
// least 12288), read from its root folder at startSector + the folder's sector.
// False when head holds no exFAT boot region with a root folder.
bool ReadExfatLabel(int fd, uint64_t startSector, const unsigned char* head, size_t len, std::string& label);

class CPartitionManager {
public:
    CPartitionManager();
    ~CPartitionManager();

    int GetPartitionItems(std::map<int, std::vector<_PARTITION_ITEM_>>& out);
    void GetMBRPartition(int fd, unsigned baseSector, std::vector<_PARTITION_ITEM_>& items, int diskNo,
                         const char* diskName);
    static bool IsMBR(const char* buf, int len);
    static bool IsAPM(const char* buf, int len);
    static bool IsEFI(const char* buf, int len);

    // The partitions of one disk number (any number the platform maps, image
    // disks included), with "Partition %1" numbering starting at 1. Returns the
    // number of partitions found.
    int GetDiskPartitionItems(int diskNo, std::vector<_PARTITION_ITEM_>& items);
    // Every disk 0..127 that opens, with its size in 512-byte sectors, whether
    // or not it carries a partition table (for "Whole Disk" rows). Returns the count.
    static int GetDiskList(std::map<int, uint64_t>& diskSectors);

private:
    void ProbeDisk(int diskNo, std::vector<_PARTITION_ITEM_>& items);

    int nBytesPerSector;
    int nPartitionNumber;
    uint32_t u32ExtendedBase;
    // Extended boot records read on the current disk: a chain that points back
    // ends at the first record seen twice, and a runaway chain at a fixed count.
    std::set<unsigned> m_setVisitedBase;
    int m_nBootRecordsRead;
};
