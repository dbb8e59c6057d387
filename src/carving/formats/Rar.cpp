// RAR 4 and RAR 5: after the signature, blocks whose headers carry their size,
// the size of the data after them and a CRC; the archive ends with its end block.
// A header failing its CRC ends an archive that has no end block.
#include "carving/formats/CarvedFormat.h"

#include "carving/ReadAhead.h"

#include "platform/ByteView.h"

namespace {
const unsigned char kRar4[7] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};
const unsigned char kRar5[8] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x01, 0x00};

// A RAR 5 variable-length number at p[i..n): its value; i moves past it.
bool ReadVint(const unsigned char* p, size_t n, size_t& i, uint64_t& value) {
    value = 0;
    for (int shift = 0; i < n && shift < 64; shift += 7) {
        unsigned char b = p[i++];
        value |= static_cast<uint64_t>(b & 0x7F) << shift;
        if (!(b & 0x80)) return true;
    }
    return false;
}

class Rar4Walk : public RecordWalk {
public:
    Rar4Walk() { Want(7, 7); }

protected:
    WalkStep OnHeader(const unsigned char* h, size_t n, uint64_t pos) override {
        ByteView v(h, n);
        unsigned type = h[2], size = v.le16(5);
        if (n == 7 && (size < 7 || type < 0x72 || type > 0x7B)) return Ended(pos);
        if (n == 7 && size > 7) {
            Want(pos, size); // the whole header, for its CRC
            return WalkStep::More();
        }
        if ((Crc32(0, h + 2, n - 2) & 0xFFFF) != v.le16(0)) return Ended(pos);
        uint64_t data = 0;
        if ((v.le16(3) & 0x8000) || type == 0x74 || type == 0x7A) data = v.le32(7);
        if ((type == 0x74 || type == 0x7A) && (v.le16(3) & 0x100)) data |= static_cast<uint64_t>(v.le32(32)) << 32;
        ++m_blocks;
        if (type == 0x7B) return WalkStep::End(pos + size);
        Want(pos + size + data, 7);
        return WalkStep::More();
    }

private:
    WalkStep Ended(uint64_t pos) { return m_blocks >= 2 ? WalkStep::End(pos) : WalkStep::Broken(); }
    int m_blocks = 0;
};

class Rar5Walk : public RecordWalk {
public:
    Rar5Walk() { Want(8, 7); }

protected:
    WalkStep OnHeader(const unsigned char* h, size_t n, uint64_t pos) override {
        size_t i = 4;
        uint64_t size = 0;
        if (!ReadVint(h, n, i, size) || size == 0 || size > 2 * 1024 * 1024) return Ended(pos);
        const size_t whole = i + static_cast<size_t>(size);
        if (n < whole) {
            if (whole > 4096) return Ended(pos);
            Want(pos, whole);
            return WalkStep::More();
        }
        if (Crc32(0, h + 4, whole - 4) != ByteView(h, n).le32(0)) return Ended(pos);
        uint64_t type = 0, flags = 0, extra = 0, data = 0;
        if (!ReadVint(h, whole, i, type) || !ReadVint(h, whole, i, flags)) return Ended(pos);
        if ((flags & 1) && !ReadVint(h, whole, i, extra)) return Ended(pos);
        if ((flags & 2) && !ReadVint(h, whole, i, data)) return Ended(pos);
        ++m_blocks;
        if (type == 5) return WalkStep::End(pos + whole + data);
        Want(pos + whole + data, 7);
        return WalkStep::More();
    }

private:
    WalkStep Ended(uint64_t pos) { return m_blocks >= 2 ? WalkStep::End(pos) : WalkStep::Broken(); }
    int m_blocks = 0;
};

const FormatName kRarNames[] = {{"rar", TYPE_RAR}};
} // namespace

EXTEND_NAME_TYPE FormatRules::IsRarType(unsigned char* buf, int len) {
    return StartsWith(buf, len, kRar4, 7) || StartsWith(buf, len, kRar5, 8) ? TYPE_RAR : TYPE_UNKNOWN;
}

uint64_t FormatRules::GetRARFileBytesSize(unsigned char* buf, int len) {
    uint64_t end = 0;
    if (StartsWith(buf, len, kRar5, 8)) {
        Rar5Walk walk;
        end = WalkFile(walk, buf, len, 4 * kGiB);
    } else {
        Rar4Walk walk;
        end = WalkFile(walk, buf, len, 4 * kGiB);
    }
    if (end || m_ErrorCode == RECOVERY_STOPPED) return end ? end : static_cast<uint64_t>(len);
    return RarEndBlockReadAhead();
}

extern const CarvedFormat kRarFormat;
const CarvedFormat kRarFormat = {kRarNames, 1, &FormatRules::IsRarType, &FormatRules::GetRARFileBytesSize,
                                 FORMAT_BYTES("Rar!\x1A\x07"), nullptr, FORMAT_BYTES("R"), -1, 0, true};
