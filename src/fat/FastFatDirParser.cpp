#include "fat/FastFatDirParser.h"

#include "platform/TextCodec.h"

#include <cstring>

void FASTFAT_LONG_NAME::Clear() {
    std::memset(slots, 0, sizeof slots);
    nStart = 256;
    nPieces = 0;
}

namespace {
// Appends a piece in front of what was collected (pieces are stored last part first).
bool AddPiece(FASTFAT_LONG_NAME& ln, const FAT_LONG_NAME_ENTRY* e) {
    if (ln.nStart < int(FAT_LONG_NAME_CHARS)) return false;
    uint16_t chars[FAT_LONG_NAME_CHARS];
    GetLongNameChars(e, chars);
    ln.nStart -= int(FAT_LONG_NAME_CHARS);
    std::memcpy(ln.slots + ln.nStart, chars, sizeof chars);
    return true;
}

bool TakeLongName(const FASTFAT_LONG_NAME& ln, char* out, size_t outSize) {
    if (ln.nStart >= 256) return false;
    size_t units = 0;
    while (ln.slots[ln.nStart + int(units)] != 0) ++units; // slot 256 is always 0
    if (units == 0) return false;
    uint8_t le[2 * 256];
    for (size_t i = 0; i < units; ++i) {
        uint16_t c = ln.slots[ln.nStart + int(i)];
        le[2 * i] = uint8_t(c);
        le[2 * i + 1] = uint8_t(c >> 8);
    }
    Utf16leToAnsi(le, units, out, outSize);
    return out[0] != 0;
}

void AppendTrimmed(const uint8_t* part, size_t len, char* out, size_t& pos, size_t outSize) {
    while (len > 0 && part[len - 1] == ' ') --len;
    for (size_t i = 0; i < len && pos + 1 < outSize; ++i) {
        char c = char(part[i]);
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
        out[pos++] = c;
    }
}
} // namespace

void FormatFastFatShortName(const FAT32_Entry& entry, bool isDir, char* out, size_t outSize) {
    if (!out || outSize == 0) return;
    size_t pos = 0;
    uint8_t base[8];
    std::memcpy(base, entry.DIR_Name, 8);
    if (base[0] == FAT_DELETED_MARK) base[0] = '!';
    AppendTrimmed(base, 8, out, pos, outSize);
    if (!isDir && entry.DIR_Ext[0] != ' ' && pos + 1 < outSize) {
        out[pos++] = '.';
        AppendTrimmed(entry.DIR_Ext, 3, out, pos, outSize);
    }
    out[pos] = 0;
}

bool ParseFastFatDirCluster(const ByteView& cluster, FASTFAT_LONG_NAME& longName, std::vector<FASTFAT_DIR_ITEM>& out) {
    const size_t count = cluster.size() / FAT_ENTRY_BYTES;
    for (size_t i = 0; i < count; ++i) {
        const size_t off = i * FAT_ENTRY_BYTES;
        const uint8_t* raw = cluster.ptr(off, FAT_ENTRY_BYTES);
        if (!raw) return true;
        if (raw[0] == 0x00) return true;
        FAT32_Entry e;
        std::memcpy(&e, raw, sizeof e);
        if (!IsFatEntyValid(reinterpret_cast<const FAT32_Entry*>(raw), cluster.size() - off)) {
            longName.Clear();
            continue;
        }
        if (e.DIR_Attr == FAT_ATTR_LONG_NAME) {
            if (++longName.nPieces > FASTFAT_MAX_LONG_NAME_PIECES) return true;
            if (!AddPiece(longName, reinterpret_cast<const FAT_LONG_NAME_ENTRY*>(raw))) return true;
            continue;
        }

        const bool isDir = (e.DIR_Attr & FAT_ATTR_DIRECTORY) != 0;
        FASTFAT_DIR_ITEM item;
        item.nOffset = uint32_t(off);
        item.entry = e;
        item.bDeleted = raw[0] == FAT_DELETED_MARK;
        if (!TakeLongName(longName, item.szName, sizeof item.szName))
            FormatFastFatShortName(e, isDir, item.szName, sizeof item.szName);
        longName.Clear();

        if (!isDir) {
            if (!(e.DIR_Attr & FAT_ATTR_ARCHIVE)) continue; // volume labels and the like
            item.nKind = FASTFAT_ITEM_FILE;
        } else if (raw[0] == '.' && raw[1] == ' ') {
            item.nKind = FASTFAT_ITEM_DOT;
        } else if (raw[0] == '.' && raw[1] == '.') {
            continue;
        } else {
            item.nKind = FASTFAT_ITEM_DIR;
        }
        out.push_back(item);
    }
    return false;
}
