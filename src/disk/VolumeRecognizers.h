#pragma once
// Predicates over the first bytes of a partition (or any sector, for the deep
// scans): NTFS, FAT, BitLocker and ext boot areas, and NTFS file records.
#include <cstdint>

bool IsNtfs(const unsigned char* buf);                // at least 512 bytes
bool IsFat(const unsigned char* buf);                 // at least 512 bytes
bool IsFullValidFAT16DBR(const unsigned char* buf);   // FAT12/16 form
bool IsFullValidFAT32DBR(const unsigned char* buf);
bool IsBitlockerDBR(const unsigned char* buf);
bool IsExt(const unsigned char* buf);                 // at least 1112 bytes
// exFAT: the main boot region, else the backup at sector 12 (at least 12288 bytes;
// with sectors above 512 bytes only the boot sector's own checks fit).
bool IsExfat(const unsigned char* buf);
// exFAT boot-region checksum over its first 11 sectors (flags and use percentage skipped).
uint32_t ExfatBootChecksum(const unsigned char* region, unsigned bytesPerSector);
bool IsNtfsFileRecord(const unsigned char* buf, unsigned recordSize); // at least 512 bytes
unsigned GetDefaultNtfsSectorPerCluster(uint64_t totalSectors, unsigned bytesPerSector);

#include <cstddef>
#include <string>
// "ext2", "ext3", "ext4" or "btrfs" with the volume's label (UTF-8), from the
// volume's first bytes (68 KiB reach the btrfs superblock); empty when none.
std::string DescribeLinuxVolume(const unsigned char* buf, size_t len, std::string& label);
// An exFAT volume's root folder: its first 512-byte sector relative to the
// volume and the bytes of its first cluster (64 KiB at most), from the boot
// region IsExfat accepts in buf (at least 12288 bytes). False when none.
bool ExfatRootFolder(const unsigned char* buf, size_t len, uint64_t& sector, uint32_t& bytes);
// The label of an exFAT root folder's volume-label entry (UTF-8), empty when
// the folder's first bytes hold none.
std::string ExfatVolumeLabel(const unsigned char* folder, size_t len);
// The file system at the start of buf (a volume's first bytes; 68 KiB reach every
// kind) and its boot-area label; empty when none is recognised. NTFS and exFAT
// keep their labels elsewhere: NtfsVolumeLabel and ExfatVolumeLabel read them.
std::string DescribeVolume(const unsigned char* buf, size_t len, std::string& label);
