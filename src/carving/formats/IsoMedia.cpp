// ISO base media (MP4, 3GP) and QuickTime: a chain of top-level boxes, each with
// its size (or a 64-bit size); the file ends where the next bytes are no box of
// these formats, or another file's ftyp begins.
#include "carving/formats/CarvedFormat.h"

#include "platform/ByteView.h"

#include <cstring>

namespace {
bool IsTopLevelBox(const unsigned char* t) {
    static const char* const kTypes[] = {"ftyp", "moov", "mdat", "free", "skip", "wide", "uuid", "meta", "pdin",
                                         "moof", "mfra", "styp", "sidx", "ssix", "prft", "emsg", "pnot", "junk"};
    for (const char* k : kTypes)
        if (std::memcmp(t, k, 4) == 0) return true;
    return false;
}

class BoxWalk : public RecordWalk {
public:
    BoxWalk() { Want(0, 16); }
    uint64_t AtEnd(uint64_t fed) override { return m_boxes >= 2 && Next() == fed ? fed : 0; }

protected:
    WalkStep OnHeader(const unsigned char* h, size_t n, uint64_t pos) override {
        ByteView v(h, n);
        if (!IsTopLevelBox(h + 4) || (pos > 0 && v.equals(4, "ftyp", 4))) return Ended(pos);
        uint64_t size = v.be32(0);
        if (size == 1) size = v.be64(8);
        if (size < 8) return Ended(pos); // a box running to the end of the file tells nothing
        ++m_boxes;
        Want(pos + size, 16);
        return WalkStep::More();
    }

private:
    WalkStep Ended(uint64_t pos) { return m_boxes >= 2 ? WalkStep::End(pos) : WalkStep::Broken(); }
    int m_boxes = 0;
};

// Brands of the ftyp box each format carries.
bool BrandIn(const unsigned char* buf, int len, const char* const* brands, int count) {
    if (!buf || len < 12 || std::memcmp(buf + 4, "ftyp", 4) != 0) return false;
    for (int i = 0; i < count; ++i)
        if (std::memcmp(buf + 8, brands[i], std::strlen(brands[i])) == 0) return true;
    return false;
}

bool MayStartBoxes(const unsigned char* b, int n) { return n >= 8 && IsTopLevelBox(b + 4); }

const FormatName kMp4Names[] = {{"mp4", TYPE_MP4}};
const FormatName kThreeGpNames[] = {{"3gp", TYPE_3GP}};
const FormatName kMovNames[] = {{"mov", TYPE_MOV}};
} // namespace

EXTEND_NAME_TYPE FormatRules::IsMp4Type(unsigned char* buf, int len) {
    static const char* const kBrands[] = {"iso", "mp4", "avc1", "M4V ", "M4A ", "M4B ", "dash", "f4v ", "MSNV", "NDAS", "XAVC"};
    return len >= 16 && BrandIn(buf, len, kBrands, 11) ? TYPE_MP4 : TYPE_UNKNOWN;
}

EXTEND_NAME_TYPE FormatRules::Is3pgType(unsigned char* buf, int len) {
    static const char* const kBrands[] = {"3gp", "3g2"};
    return len >= 16 && BrandIn(buf, len, kBrands, 2) ? TYPE_3GP : TYPE_UNKNOWN;
}

EXTEND_NAME_TYPE FormatRules::IsMovType(unsigned char* buf, int len) {
    static const char* const kBrands[] = {"qt  "};
    if (len < 16) return TYPE_UNKNOWN;
    return StartsWith(buf + 4, len - 4, "moov", 4) || BrandIn(buf, len, kBrands, 1) ? TYPE_MOV : TYPE_UNKNOWN;
}

uint64_t FormatRules::GetMP4FileBytesSize(unsigned char* buf, int len) {
    BoxWalk walk;
    if (uint64_t end = WalkFile(walk, buf, len, 64 * kGiB)) return end;
    if (m_ErrorCode == RECOVERY_STOPPED) return static_cast<uint64_t>(len);
    return GetDefaultVedioFileBytesSize(buf, len);
}

#define ISO_FORMAT(name, test, leads, off, byte)                                                                        \
    extern const CarvedFormat k##name##Format;                                                                       \
    const CarvedFormat k##name##Format = {k##name##Names, 1, &FormatRules::test, &FormatRules::GetMP4FileBytesSize, \
                                          nullptr, 0, MayStartBoxes, FORMAT_BYTES(leads), off, byte, true};
ISO_FORMAT(Mp4, IsMp4Type, "", 4, 'f')
ISO_FORMAT(ThreeGp, Is3pgType, "", 4, 'f')
ISO_FORMAT(Mov, IsMovType, "", 4, 'f')
