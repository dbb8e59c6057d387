#pragma once
// Names of FAT directory entries as the deep engine records them: long names
// collected piece by piece (last piece first on disk), short names lower-cased.
#include "fat/FatStructures.h"

#include <cstddef>
#include <cstdint>

class ProfessionalFatLongName {
public:
    static constexpr int kSlots = 256;
    static constexpr int kMaxPieces = 19;

    void Reset();
    bool Empty() const { return m_nPieces == 0; }
    int Pieces() const { return m_nPieces; }
    uint8_t CheckSum() const { return m_nCheckSum; }
    // Places the piece's 13 characters in front of the previous piece. False
    // when this is a piece too many (the run cannot be a name).
    bool AddPiece(const FAT_LONG_NAME_ENTRY* entry);
    // The collected name in the 8-bit code page, cut to outSize bytes with the NUL.
    void ToAnsi(char* out, size_t outSize) const;

private:
    uint16_t m_slots[kSlots + 1] = {};
    int m_nStart = kSlots;
    int m_nPieces = 0;
    uint8_t m_nCheckSum = 0;
};

// Short name of an entry, lower case, blanks trimmed: base only for folders,
// base "." extension for files. A leading deleted mark becomes '!'.
void FatShortEntryName(const FAT32_Entry* entry, bool isDir, char* out, size_t outSize);
