#pragma once
// One carved format: its names, its signature test, how long its files are, and
// what its first bytes must look like for a file-system file of it to be healthy.
// Each format lives in one file of this folder and joins the carver by one line
// of FormatTable.cpp; the judge and the carver loop over that table only.
//
// Lengths come from a structure walk where the format allows one. A walk is fed
// the file's bytes in order, a window at a time, and answers after each piece:
// not this format (the structure broke), need more (optionally from a later
// offset, to skip data it need not see), or the file ends at byte N. No walk
// reads the disk; the driver (WalkFile) does, so memory stays one window.
#include "carving/CarveContext.h"
#include "platform/Crc32.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// The signature tests and length rules of every format, each defined in its
// format's file.
class FormatRules : public CarveContext {
public:
    static EXTEND_NAME_TYPE GetOffice2003Type(unsigned char* header);
    static EXTEND_NAME_TYPE GetOffice2007Type(unsigned char* buf, int len);

    // Signature tests: the type, or 49 when buf does not start that kind.
    static EXTEND_NAME_TYPE IsMpgType(unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsMp4Type(unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsRmvbType(unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsAsfType(unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsSwfType(unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsAviType(unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsFlvType(unsigned char* buf, int len);
    static EXTEND_NAME_TYPE Is3pgType(unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsMkvType(unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsTsType(unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsMtsType(unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsMxfType(unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsMp3Type(unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsMidType(unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsApeType(unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsWavType(unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsMovType(unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsMp2Type(unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsMmfType(unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsFlaType(unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsGifType(unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsBmpType(unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsJpgType(unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsPngType(unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsPsdType(unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsTifType(unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsIcoType(unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsOffice2003Type(unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsOffice2007Type(unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsPdfType(unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsGzipType(unsigned char* buf, int len);
    static EXTEND_NAME_TYPE Is7zType(unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsZipType(unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsRarType(unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsCabType(unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsPeType(unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsGhoType(unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsSqlType(unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsDbxEmailType(unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsPstEmailType(unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsTtfType(unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsOpenDocumentType(unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsJavaArchiveType(unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsOggType(unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsTextType(unsigned char* buf, int len);

    // Length rules: the file's length in bytes, with buf holding its first sector(s).
    static uint64_t GetMPGFileBytesSize(unsigned char* buf, int len);
    static uint64_t GetMP4FileBytesSize(unsigned char* buf, int len);
    static uint64_t GetRMVBFileBytesSize(unsigned char* buf, int len);
    static uint64_t GetASFFileBytesSize(unsigned char* buf, int len);
    static uint64_t GetSWFFileBytesSize(unsigned char* buf, int len);
    static uint64_t GetAVIFileBytesSize(unsigned char* buf, int len);
    static uint64_t GetDefaultVedioFileBytesSize(unsigned char* buf, int len);
    static uint64_t GetMKVFileBytes(unsigned char* buf, int len);
    static uint64_t GetTSFileBytesSize(unsigned char* buf, int len);
    static uint64_t GetMP3FileBytesSize(unsigned char* buf, int len);
    static uint64_t GetMIDFileBytesSize(unsigned char* buf, int len);
    static uint64_t GetAPEFileBytesSize(unsigned char* buf, int len);
    static uint64_t GetWAVFileBytesSize(unsigned char* buf, int len);
    static uint64_t GetDefaultAudioFileBytesSize(unsigned char* buf, int len);
    static uint64_t GetFLAFileBytesSize(unsigned char* buf, int len);
    static uint64_t GetGIFFileBytesSize(unsigned char* buf, int len);
    static uint64_t GetBMPFileBytesSize(unsigned char* buf, int len);
    static uint64_t GetJPGFileBytesSize(unsigned char* buf, int len);
    static uint64_t GetPNGFileBytesSize(unsigned char* buf, int len);
    static uint64_t GetDefaultPictureFileBytesSize(unsigned char* buf, int len);
    static uint64_t GetICOFileBytesSize(unsigned char* buf, int len);
    static uint64_t GetOFFICE2003FileBytesSize(unsigned char* buf, int len);
    static uint64_t GetOFFICE2003FileBytesSizeByFileHead(unsigned char* buf, int len);
    static uint64_t GetOFFICE2007FileBytesSize(unsigned char* buf, int len);
    static uint64_t GetPDFFileBytesSize(unsigned char* buf, int len);
    static uint64_t Get7ZFileBytesSize(unsigned char* buf, int len);
    static uint64_t GetZIPFileBytesSize(unsigned char* buf, int len);
    static uint64_t GetRARFileBytesSize(unsigned char* buf, int len);
    static uint64_t GetCABFileBytesSize(unsigned char* buf, int len);
    static uint64_t GetDBFileBytesSize(unsigned char* buf, int len);
    static uint64_t GetMailFileBytesSize(unsigned char* buf, int len);
    static uint64_t GetTTFFileBytesSize(unsigned char* buf, int len);
    static uint64_t GetGzipFileBytesSize(unsigned char* buf, int len);
    static uint64_t GetOGGFileBytesSize(unsigned char* buf, int len);
    static uint64_t GetTextFileBytesSize(unsigned char* buf, int len);

    // Stop tests of the read-ahead: true when a sector of the window starts another
    // file or is file-system metadata; length grows by the sectors before it.
    static bool IsEndOfFile(unsigned char* buf, int len, uint64_t& length);
    static bool IsEndOfVedioFile(unsigned char* buf, int len, uint64_t& length);
    static bool IsEndOfMPGFile(unsigned char* buf, int len, uint64_t& length);

    // Tail finders: offset just past the first accepted end marker in buf.
    static bool GetJPGFileTailOffset(unsigned char* buf, int len, uint64_t& offset);
    static bool GetPNGFileTailOffset(unsigned char* buf, int len, uint64_t& offset);
    static bool GetGIFFileTailOffset(unsigned char* buf, int len, uint64_t& offset);
};

struct FormatName {
    const char* ext;
    EXTEND_NAME_TYPE type;
};

struct CarvedFormat {
    const FormatName* names; // the first name of each type names its carved files
    int nameCount;
    SignatureTest test;
    LengthRule length;       // null: recognised, never carved
    // Health: what every file of the format starts with (magic, magicLen bytes),
    // or a test of its own (mayStart); a file whose first bytes fail it is damaged.
    const char* magic;
    int magicLen;
    bool (*mayStart)(const unsigned char* buf, int len);
    // Cheap pre-checks of the start walk: the first bytes a start may have ("" =
    // any); for any-start formats one (offset, byte) that must hold instead.
    const char* leads;
    int leadCount;
    int probeOffset;
    unsigned char probeByte;
    bool startWalk; // false: never tried as a file start (still names and judges its files)
};

// A string literal and its length, NULs included, for magic and leads.
#define FORMAT_BYTES(s) s, static_cast<int>(sizeof(s) - 1)

#define NO_MAGIC nullptr, 0
// Defines kNameFormat from the kNameNames table of the file and the fields after it.
#define CARVED_FORMAT(name, test, length, magic, mayStart, leads, probeOffset, probeByte, startWalk)               \
    extern const CarvedFormat k##name##Format;                                                                   \
    const CarvedFormat k##name##Format = {k##name##Names, static_cast<int>(sizeof k##name##Names / sizeof(FormatName)), \
                                          &FormatRules::test, length, magic, mayStart, leads, probeOffset, probeByte, startWalk};

struct WalkStep {
    enum Kind { NotThis, NeedMore, Ends } kind = NeedMore;
    uint64_t at = 0; // Ends: the file's length; NeedMore: where the walk wants bytes from next
    static WalkStep More(uint64_t from = 0) { return {NeedMore, from}; }
    static WalkStep End(uint64_t length) { return {Ends, length}; }
    static WalkStep Broken() { return {NotThis, 0}; }
};

class StructureWalk {
public:
    virtual ~StructureWalk() = default;
    // Bytes [offset, offset + len) of the file; offset is where the walk last
    // asked for bytes (or right after the previous piece).
    virtual WalkStep Feed(const unsigned char* p, size_t len, uint64_t offset) = 0;
    // The bytes ran out (area end or cap) before an answer: a length, or 0.
    virtual uint64_t AtEnd(uint64_t /*fed*/) { return 0; }
};

// A walk over records: it asks for a header of n bytes at a position, is handed
// it whole (however the windows split it), and answers where the next header is.
// Bytes between headers are skipped unless the walk wants to see them (OnBody).
class RecordWalk : public StructureWalk {
public:
    WalkStep Feed(const unsigned char* p, size_t len, uint64_t offset) override;

protected:
    // The header asked for; return More() after Want(), End(n) or Broken().
    virtual WalkStep OnHeader(const unsigned char* h, size_t n, uint64_t pos) = 0;
    virtual void OnBody(const unsigned char*, size_t) {}
    void Want(uint64_t pos, size_t n, bool body = false);
    uint64_t Next() const { return m_pos; }

private:
    static constexpr size_t kMaxHeader = 4096;
    unsigned char m_head[kMaxHeader];
    uint64_t m_pos = 0;    // where the wanted header starts
    size_t m_want = 8;     // its size
    size_t m_have = 0;     // header bytes gathered so far
    bool m_body = false;   // feed bytes up to m_pos to OnBody
    uint64_t m_bodyFrom = 0;
};

// A walk that looks for a pattern in the stream and sees `after` bytes following
// each hit, hits split across windows included.
class ScanWalk : public StructureWalk {
public:
    ScanWalk(const void* pattern, size_t n, size_t after) : m_pattern(static_cast<const unsigned char*>(pattern), static_cast<const unsigned char*>(pattern) + n), m_after(after) {}
    WalkStep Feed(const unsigned char* p, size_t len, uint64_t offset) override;

protected:
    // A hit at file offset pos with hit[0 .. avail) (avail >= pattern + after
    // unless the stream ended). More() goes on scanning.
    virtual WalkStep OnHit(const unsigned char* hit, size_t avail, uint64_t pos) = 0;

private:
    std::vector<unsigned char> m_pattern;
    size_t m_after;
    std::vector<unsigned char> m_carry;
    uint64_t m_carryAt = 0;
};

// Drives walk over the file starting at the judge's start sector: head (the
// bytes the caller has) first, then windows read from the disk, never past cap
// or the scanned area. The length, or 0 when the walk gave none.
uint64_t WalkFile(StructureWalk& walk, const unsigned char* head, int headLen, uint64_t cap);

// The formats in table order, and the one a type belongs to (null for none).
const std::vector<const CarvedFormat*>& CarvedFormats();
const CarvedFormat* FormatOfType(EXTEND_NAME_TYPE type);

// Shared little helpers of the format files.
bool StartsWith(const unsigned char* buf, int len, const void* s, int n);

constexpr uint64_t kMiB = 1024ull * 1024;
constexpr uint64_t kGiB = 1024 * kMiB;
