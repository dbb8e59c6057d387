#pragma once
// Record geometry of an NTFS volume, the update-sequence fix-up of a record and
// the decoding of runlists. Pure: it never reads from a disk.
#include "ntfs/NtfsStructures.h"

#include <cstddef>
#include <vector>

class CNtfsParse {
public:
    CNtfsParse();

    // Sets the sector size (anything but a power of two from 256 to 4096 is taken
    // as 512); a record is two 512-byte sectors, or one sector otherwise. Returns 0.
    int Init(int bytesPerSector);

    // Puts the saved words of the update sequence array back at the end of each
    // stride of the record, which must hold GetRecordSize() bytes. 0, or -1 for a
    // null record or one whose first byte is 0 (left untouched). The words at the
    // stride ends are not compared first: damaged and deleted records are read too.
    int FileRecordFixUp(unsigned char* record) const;

    // Appends the runs of one non-resident attribute. The runlist is decoded while
    // it stays inside the attribute's length and inside `available`, the bytes from
    // `attribute` to the end of its record.
    void GetRunList(const unsigned char* attribute, size_t available, std::vector<__RUNLIST__>& runs) const;
    // The same for an attribute known to lie inside a record-sized buffer.
    void GetRunList(unsigned char* attribute, std::vector<__RUNLIST__>& runs) const;

    int GetBytesPerSector() const { return m_nBytesPerSector; }
    int GetSectorsPerRecord() const { return m_nSectorsPerRecord; }
    int GetRecordSize() const { return m_nSectorsPerRecord * m_nBytesPerSector; }

private:
    int m_nSectorsPerRecord;
    int m_nBytesPerSector;
};
