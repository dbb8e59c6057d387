#include "fat/ProfessionalFatNames.h"

#include "platform/TextCodec.h"

#include <cstring>

void ProfessionalFatLongName::Reset() {
    std::memset(m_slots, 0, sizeof m_slots);
    m_nStart = kSlots;
    m_nPieces = 0;
    m_nCheckSum = 0;
}

bool ProfessionalFatLongName::AddPiece(const FAT_LONG_NAME_ENTRY* entry) {
    if (m_nPieces >= kMaxPieces || m_nStart < int(FAT_LONG_NAME_CHARS)) return false;
    uint16_t chars[FAT_LONG_NAME_CHARS];
    GetLongNameChars(entry, chars);
    m_nStart -= int(FAT_LONG_NAME_CHARS);
    std::memcpy(&m_slots[m_nStart], chars, sizeof chars);
    m_nCheckSum = entry->LDIR_Chksum;
    ++m_nPieces;
    return true;
}

void ProfessionalFatLongName::ToAnsi(char* out, size_t outSize) const {
    if (!outSize) return;
    size_t units = 0;
    while (m_nStart + int(units) < kSlots && m_slots[m_nStart + units] != 0 && m_slots[m_nStart + units] != 0xFFFF)
        ++units;
    uint8_t le[2 * kSlots];
    for (size_t i = 0; i < units; ++i) {
        le[2 * i] = uint8_t(m_slots[m_nStart + i]);
        le[2 * i + 1] = uint8_t(m_slots[m_nStart + i] >> 8);
    }
    Utf16leToAnsi(le, units, out, outSize);
}

namespace {
size_t TrimmedLength(const uint8_t* p, size_t n) {
    while (n > 0 && p[n - 1] == ' ') --n;
    return n;
}
char Lower(uint8_t c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : char(c); }
} // namespace

void FatShortEntryName(const FAT32_Entry* entry, bool isDir, char* out, size_t outSize) {
    if (!outSize) return;
    char name[13];
    size_t n = 0;
    size_t base = TrimmedLength(entry->DIR_Name, 8);
    for (size_t i = 0; i < base; ++i) name[n++] = Lower(entry->DIR_Name[i]);
    if (!isDir && entry->DIR_Ext[0] != ' ') {
        size_t ext = TrimmedLength(entry->DIR_Ext, 3);
        name[n++] = '.';
        for (size_t i = 0; i < ext; ++i) name[n++] = Lower(entry->DIR_Ext[i]);
    }
    name[n] = 0;
    if (n > 0 && uint8_t(name[0]) == FAT_DELETED_MARK) name[0] = '!';
    size_t copy = n < outSize - 1 ? n : outSize - 1;
    std::memcpy(out, name, copy);
    out[copy] = 0;
}
