#pragma once
// Lists the disks and their partitions (GPT, Apple partition map, MBR with
// extended boot records).
#include <cstdint>
#include <map>
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
};
