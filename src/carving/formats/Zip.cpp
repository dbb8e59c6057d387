// The zip family: plain zip, Office Open XML, OpenDocument and EPUB, Java and
// Android archives. All end where the end-of-central-directory record and its
// comment end; the record is the archive's own only when the central directory
// it points at ends right before it, which tells it from records of zips stored
// inside. The kinds are told apart by their first entry (or, for Office, by the
// part names of the first entries).
#include "carving/formats/CarvedFormat.h"

#include "carving/ReadAhead.h"

#include "platform/ByteView.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {
// Office part name at pos (bounded by end): the kind it reveals, or 49.
EXTEND_NAME_TYPE OfficeKindOfName(const unsigned char* buf, size_t pos, size_t end) {
    if (pos >= end) return TYPE_UNKNOWN;
    size_t left = end - pos;
    if (left >= 5 && strncasecmp(reinterpret_cast<const char*>(buf + pos), "word", 4) == 0) return TYPE_DOCX;
    if (left >= 4 && strncasecmp(reinterpret_cast<const char*>(buf + pos), "ppt", 3) == 0) return TYPE_PPTX;
    if (left >= 3 && strncasecmp(reinterpret_cast<const char*>(buf + pos), "xl", 2) == 0) return TYPE_XLSX;
    return TYPE_UNKNOWN;
}

// One walker over the zip headers of a window: finds the next signature from pos.
struct ZipWalker {
    const unsigned char* sig;
    size_t nameOffset;  // of the entry name from the signature
    size_t minAfter;    // bytes a header needs after its signature
    size_t pos = 0;
    bool done = false;

    EXTEND_NAME_TYPE Step(unsigned char* buf, size_t len, size_t limit) {
        unsigned char* hit = FormatRules::memmem(buf + pos, static_cast<int>(len - pos), sig, 4);
        if (!hit) { done = true; return TYPE_UNKNOWN; }
        size_t at = static_cast<size_t>(hit - buf);
        if (at > limit || len - at < minAfter + 4) { done = true; return TYPE_UNKNOWN; }
        pos = at + 4;
        return OfficeKindOfName(buf, at + nameOffset, len);
    }
};

class EndOfDirectoryWalk : public ScanWalk {
public:
    EndOfDirectoryWalk() : ScanWalk("PK\x05\x06", 4, 18) {}

protected:
    WalkStep OnHit(const unsigned char* hit, size_t avail, uint64_t pos) override {
        ByteView v(hit, avail);
        uint64_t cdSize = v.le32(12), cdOffset = v.le32(16), comment = v.le16(20);
        if (v.le16(4) != 0 || v.le16(6) != 0) return WalkStep::More(); // multi-disk: not ours
        if (cdOffset + cdSize == pos || cdOffset == 0xFFFFFFFF) return WalkStep::End(pos + 22 + comment);
        return WalkStep::More();
    }
};

// The first entry's stored name and (for a stored entry) the start of its data.
struct FirstEntry {
    const char* name = nullptr;
    size_t nameLen = 0;
    const unsigned char* data = nullptr;
    size_t dataLen = 0;
};

bool ReadFirstEntry(const unsigned char* buf, int len, FirstEntry& e) {
    if (!StartsWith(buf, len, "PK\x03\x04", 4) || len < 30) return false;
    ByteView v(buf, static_cast<size_t>(len));
    size_t nameLen = v.le16(26), extra = v.le16(28);
    if (nameLen == 0 || !v.has(30, nameLen)) return false;
    e.name = reinterpret_cast<const char*>(buf + 30);
    e.nameLen = nameLen;
    size_t data = 30 + nameLen + extra;
    if (v.le16(8) == 0 && data < static_cast<size_t>(len)) {
        e.data = buf + data;
        e.dataLen = std::min<size_t>(static_cast<size_t>(len) - data, v.le32(18));
    }
    return true;
}

bool NameIs(const FirstEntry& e, const char* s) { return e.nameLen == std::strlen(s) && std::memcmp(e.name, s, e.nameLen) == 0; }
bool NameStarts(const FirstEntry& e, const char* s) {
    size_t n = std::strlen(s);
    return e.nameLen >= n && std::memcmp(e.name, s, n) == 0;
}
bool DataStarts(const FirstEntry& e, const char* s) {
    size_t n = std::strlen(s);
    return e.data && e.dataLen >= n && std::memcmp(e.data, s, n) == 0;
}

const FormatName kOoxmlNames[] = {
    {"docx", TYPE_DOCX}, {"docm", TYPE_DOCX}, {"dotm", TYPE_DOCX}, {"dotx", TYPE_DOCX}, {"xlsx", TYPE_XLSX},
    {"xlsb", TYPE_XLSX}, {"xlsm", TYPE_XLSX}, {"xlam", TYPE_XLSX}, {"xltx", TYPE_XLSX}, {"xltm", TYPE_XLSX},
    {"pptx", TYPE_PPTX}, {"pptm", TYPE_PPTX}, {"potx", TYPE_PPTX}, {"potm", TYPE_PPTX}, {"ppsx", TYPE_PPTX},
    {"ppsm", TYPE_PPTX}, {"mso07", TYPE_MSO07}};
const FormatName kOpenDocumentNames[] = {{"odt", TYPE_ODT}, {"ott", TYPE_ODT}, {"ods", TYPE_ODS}, {"ots", TYPE_ODS},
                                         {"odp", TYPE_ODP}, {"otp", TYPE_ODP}, {"odg", TYPE_ODG}, {"epub", TYPE_EPUB}};
const FormatName kJavaArchiveNames[] = {{"jar", TYPE_JAR}, {"apk", TYPE_APK}};
const FormatName kZipNames[] = {{"zip", TYPE_ZIP}};
} // namespace

EXTEND_NAME_TYPE FormatRules::IsOpenDocumentType(unsigned char* buf, int len) {
    FirstEntry e;
    if (!ReadFirstEntry(buf, len, e) || !NameIs(e, "mimetype")) return TYPE_UNKNOWN;
    if (DataStarts(e, "application/epub+zip")) return TYPE_EPUB;
    static const struct {
        const char* kind;
        EXTEND_NAME_TYPE type;
    } kKinds[] = {{"text", TYPE_ODT}, {"spreadsheet", TYPE_ODS}, {"presentation", TYPE_ODP}, {"graphics", TYPE_ODG}};
    for (const auto& k : kKinds)
        if (DataStarts(e, (std::string("application/vnd.oasis.opendocument.") + k.kind).c_str())) return k.type;
    return TYPE_UNKNOWN;
}

EXTEND_NAME_TYPE FormatRules::IsJavaArchiveType(unsigned char* buf, int len) {
    FirstEntry e;
    if (!ReadFirstEntry(buf, len, e)) return TYPE_UNKNOWN;
    if (NameIs(e, "AndroidManifest.xml") || NameIs(e, "classes.dex") || NameIs(e, "resources.arsc")) return TYPE_APK;
    return NameStarts(e, "META-INF/") ? TYPE_JAR : TYPE_UNKNOWN;
}

EXTEND_NAME_TYPE FormatRules::IsZipType(unsigned char* buf, int len) {
    // A local header with a version, a name of printable length and a known method.
    FirstEntry e;
    if (!ReadFirstEntry(buf, len, e)) return TYPE_UNKNOWN;
    ByteView v(buf, static_cast<size_t>(len));
    unsigned method = v.le16(8);
    bool known = method == 0 || method == 8 || method == 9 || method == 12 || method == 14 || method == 93 || method == 99;
    return known && v.le16(4) < 100 && e.nameLen < 1024 ? TYPE_ZIP : TYPE_UNKNOWN;
}

EXTEND_NAME_TYPE FormatRules::IsOffice2007Type(unsigned char* buf, int len) {
    static const unsigned char local[4] = {0x50, 0x4B, 0x03, 0x04};
    if (!buf || len < 31) return TYPE_UNKNOWN;
    bool zip = std::memcmp(buf, local, 4) == 0;
    bool contentTypes = len >= 31 + 19 && std::memcmp(buf + 31, "[Content_Types].xml", 19) == 0;
    if (!zip && !contentTypes) return TYPE_UNKNOWN;
    return GetOffice2007Type(buf, len);
}

EXTEND_NAME_TYPE FormatRules::GetOffice2007Type(unsigned char*, int) {
    static const unsigned char localSig[4] = {0x50, 0x4B, 0x03, 0x04};
    static const unsigned char centralSig[4] = {0x50, 0x4B, 0x01, 0x02};
    static const unsigned char endSig[4] = {0x50, 0x4B, 0x05, 0x06};
    const int bps = m_nBytesPerSector > 0 ? m_nBytesPerSector : 512;
    const int perWindow = 4, totalSectors = 20;
    std::vector<unsigned char> window(4 + static_cast<size_t>(perWindow) * bps, 0);

    for (int first = 0; first < totalSectors; first += perWindow) {
        unsigned got = 0;
        ReadContextSectors(window.data() + 4, perWindow, m_u64CurrentSector + first, got);
        if (got == 0) return TYPE_UNKNOWN;
        size_t len = 4 + static_cast<size_t>(got) * bps;

        unsigned char* end = memmem(window.data(), static_cast<int>(len), endSig, 4);
        size_t limit = end ? static_cast<size_t>(end - window.data()) : len;
        ZipWalker walkers[2] = {{localSig, 30, 9}, {centralSig, 46, 48}};
        while (!walkers[0].done || !walkers[1].done) {
            for (ZipWalker& w : walkers) {
                if (w.done) continue;
                EXTEND_NAME_TYPE kind = w.Step(window.data(), len, limit);
                if (kind != TYPE_UNKNOWN) return kind;
            }
        }
        if (got < static_cast<unsigned>(perWindow)) return TYPE_UNKNOWN;
        std::memcpy(window.data(), window.data() + len - 4, 4);
    }
    return TYPE_UNKNOWN;
}

uint64_t FormatRules::GetZIPFileBytesSize(unsigned char* buf, int len) {
    EndOfDirectoryWalk walk;
    if (uint64_t end = WalkFile(walk, buf, len, 4 * kGiB)) return end;
    if (m_ErrorCode == RECOVERY_STOPPED) return static_cast<uint64_t>(len);
    return ZipRecordReadAhead(buf, len, 4 * kGiB);
}

uint64_t FormatRules::GetOFFICE2007FileBytesSize(unsigned char* buf, int len) { return GetZIPFileBytesSize(buf, len); }

#define ZIP_FAMILY(name, test, leads, off, byte)                                                                        \
    extern const CarvedFormat k##name##Format;                                                                       \
    const CarvedFormat k##name##Format = {k##name##Names, static_cast<int>(sizeof k##name##Names / sizeof(FormatName)), \
                                          &FormatRules::test, &FormatRules::GetZIPFileBytesSize,                 \
                                          FORMAT_BYTES("PK\x03\x04"), nullptr, FORMAT_BYTES(leads), off, byte, true};
ZIP_FAMILY(Ooxml, IsOffice2007Type, "P", 31, '[')
ZIP_FAMILY(OpenDocument, IsOpenDocumentType, "P", -1, 0)
ZIP_FAMILY(JavaArchive, IsJavaArchiveType, "P", -1, 0)
ZIP_FAMILY(Zip, IsZipType, "P", -1, 0)
