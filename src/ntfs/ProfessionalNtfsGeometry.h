#pragma once
// Where MFT records lie when the boot sector is lost: a record number mapped
// through a known (or assumed) $MFT runlist, and the volume start worked out
// from where a $MFT record 0 was found. Pure arithmetic, no I/O. Records are
// placed through the runs by MapMftRecordSector, as the quick engine does;
// what is the deep engine's own is the guessing around it.
#include "ntfs/NtfsStructures.h"

#include <cstdint>
#include <vector>

namespace pro_ntfs {

// Sector of record recordIndex relative to the volume start. A list of one run
// of length 0 stands for a contiguous $MFT starting at its offset. False when no
// run holds it.
bool LocateRecordInMft(const std::vector<__RUNLIST__>& runs, unsigned sectorsPerCluster, uint64_t recordIndex,
                       uint64_t& relSector);

// True when record recordIndex of the $MFT whose record 0 lies at absolute
// sector mftKey (with that runlist) would lie at absolute sector recordSector.
bool MftHoldsRecordAt(uint64_t mftKey, const std::vector<__RUNLIST__>& runs, unsigned sectorsPerCluster,
                      uint64_t recordIndex, uint64_t recordSector);

// Volume start implied by a $MFT whose record 0 lies at mftKey: the key less
// the first run's cluster. fallback when that product is 0 or lies past the key.
uint64_t VolumeStartFromMft(uint64_t mftKey, const std::vector<__RUNLIST__>& runs, unsigned sectorsPerCluster,
                            uint64_t fallback);

// The one-run list of a contiguous $MFT that holds record recordIndex at
// recordSector on a volume starting at volumeStart. False when the record lies
// too close to the volume start to belong to such a $MFT.
bool ContiguousMftRun(uint64_t recordSector, uint64_t volumeStart, uint64_t recordIndex, unsigned sectorsPerCluster,
                      __RUNLIST__& run);

}  // namespace pro_ntfs
