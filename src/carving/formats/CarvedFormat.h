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
#include "carving/CFileTypeJudge.h"

#include <cstddef>
#include <cstdint>
#include <vector>

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
                                          &CFileTypeJudge::test, length, magic, mayStart, leads, probeOffset, probeByte, startWalk};

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

// Text kinds (txt, html, ...): never a reason for a read-ahead to stop.
bool IsTextKind(EXTEND_NAME_TYPE type);

// Shared little helpers of the format files.
bool StartsWith(const unsigned char* buf, int len, const void* s, int n);
uint32_t Crc32(uint32_t crc, const unsigned char* p, size_t n);

constexpr uint64_t kMiB = 1024ull * 1024;
constexpr uint64_t kGiB = 1024 * kMiB;
