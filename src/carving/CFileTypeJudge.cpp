#include "carving/CFileTypeJudge.h"

#include "platform/CDiskReader.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <strings.h>

int CFileTypeJudge::m_nJudgeCount = 0;

// The read buffer is shared by every judge; it lives while any judge does, so
// destroying one judge never pulls it from under another.
CFileTypeJudge::CFileTypeJudge() {
    ++m_nJudgeCount;
    ReadBuf();
}

CFileTypeJudge::~CFileTypeJudge() {
    if (--m_nJudgeCount == 0) {
        delete[] m_pReadBuf;
        m_pReadBuf = nullptr;
    }
}

void CFileTypeJudge::InitCallBack(ScanCallBack progressFunc, RecoveryCallBack recoveryFunc, void* pParam, int nPercent) {
    m_progressFunc = progressFunc;
    m_pRecoveryFunc = recoveryFunc;
    m_pParam = pParam;
    m_nPercent = nPercent;
}

namespace {
std::vector<EXTEND_NAME_ROW> MakeRows() {
    std::vector<EXTEND_NAME_ROW> rows;
    for (const CarvedFormat* f : CarvedFormats())
        for (int i = 0; i < f->nameCount; ++i)
            rows.push_back({f->names[i].ext, f->names[i].type, f->test, f->length, f->leads, f->leadCount, f->probeOffset, f->probeByte, f->startWalk, f});
    rows.push_back({"", TYPE_UNKNOWN, nullptr, nullptr, "", 0, -1, 0, false, nullptr});
    return rows;
}

const EXTEND_NAME_ROW* Rows() {
    static const std::vector<EXTEND_NAME_ROW> rows = MakeRows();
    return rows.data();
}
} // namespace

const EXTEND_NAME_ROW* const CFileTypeJudge::szExtendNameAndType = Rows();

namespace {
// A read-ahead never stops at text, so it is not looked for.
EXTEND_NAME_TYPE StartOf(unsigned char* buf, int len) {
    return CFileTypeJudge::RecogniseFileStart(buf, len, nullptr, false);
}
} // namespace

SignatureTest const CarveContext::RecogniseStart = &StartOf;

namespace {
// Entries of the start walk for sectors whose first byte is b: the formats to
// try, in table order, each with the probe that must hold before its test runs.
struct WalkEntry {
    const CarvedFormat* format;
    int probeOffset; // -1: no probe
    unsigned char probeByte;
    bool text; // a text kind
};

struct StartIndex {
    std::array<std::vector<WalkEntry>, 256> buckets;

    StartIndex() {
        for (const CarvedFormat* f : CarvedFormats()) {
            if (!f->startWalk || !f->test) continue;
            const bool text = f->nameCount > 0 && IsTextKind(f->names[0].type);
            for (int b = 0; b < 256; ++b) {
                bool lead = false;
                for (int i = 0; i < f->leadCount; ++i) lead = lead || static_cast<unsigned char>(f->leads[i]) == b;
                if (lead || (f->leadCount == 0 && f->probeOffset < 0)) buckets[b].push_back({f, -1, 0, text});
                else if (f->probeOffset >= 0) buckets[b].push_back({f, f->probeOffset, f->probeByte, text});
            }
        }
    }
};

const StartIndex& Index() {
    static const StartIndex index;
    return index;
}

// Kinds of one container (the zip family, the compound files, the ISO media
// boxes) share their length rule: a file of one named as another is not damaged.
bool SameFormat(EXTEND_NAME_TYPE a, EXTEND_NAME_TYPE b) {
    if (a == b) return true;
    const CarvedFormat* fa = FormatOfType(a);
    const CarvedFormat* fb = FormatOfType(b);
    return fa && fb && (fa == fb || (fa->length && fa->length == fb->length));
}
} // namespace

int CFileTypeJudge::FindFirstRowOfType(EXTEND_NAME_TYPE type) {
    for (int i = 0; szExtendNameAndType[i].type != TYPE_UNKNOWN; ++i)
        if (szExtendNameAndType[i].type == type) return i;
    return -1;
}

EXTEND_NAME_TYPE CFileTypeJudge::RecogniseFileStart(unsigned char* buf, int len, int* rowIndex, bool withText) {
    if (rowIndex) *rowIndex = -1;
    if (!buf || len <= 0) return TYPE_UNKNOWN;
    for (const WalkEntry& e : Index().buckets[buf[0]]) {
        if (e.probeOffset >= 0 && (e.probeOffset >= len || buf[e.probeOffset] != e.probeByte)) continue;
        if (!withText && e.text) continue;
        EXTEND_NAME_TYPE t = e.format->test(buf, len);
        if (t != TYPE_UNKNOWN) {
            if (rowIndex) *rowIndex = FindFirstRowOfType(t);
            return t;
        }
    }
    return TYPE_UNKNOWN;
}

bool CFileTypeJudge::IsFileTypeMatching(unsigned char* buf, int len, char* ext, CDiskReader* reader, int bytesPerSector,
                                        uint64_t sector) {
    m_nBytesPerSector = bytesPerSector > 0 ? bytesPerSector : 512;
    m_u64StartSector = m_u64CurrentSector = sector;
    m_pDiskReader = reader;
    m_bIsNeedCheckTsFileRange = 0;
    if (!ext || !buf || len <= 0) return true;
    const EXTEND_NAME_ROW* row = szExtendNameAndType;
    while (row->type != TYPE_UNKNOWN && strcasecmp(row->szExtendName, ext) != 0) ++row;
    if (row->type == TYPE_UNKNOWN || !row->format) return true;
    const CarvedFormat& f = *row->format;
    if (f.test && SameFormat(f.test(buf, len), row->type)) return true;
    EXTEND_NAME_TYPE other = RecogniseFileStart(buf, len);
    if (other != TYPE_UNKNOWN && !IsTextKind(other) && !SameFormat(other, row->type)) return false;
    if (f.mayStart) return f.mayStart(buf, len);
    return !f.magic || (len >= f.magicLen && std::memcmp(buf, f.magic, static_cast<size_t>(f.magicLen)) == 0);
}

int CFileTypeJudge::ParseFileBuf(unsigned char* buf, int len, uint64_t sector, uint64_t scannedSectors,
                                 uint64_t totalSectors, int remainSeconds, uint64_t fileCount, CDiskReader* reader,
                                 int bytesPerSector, char* name, EXTEND_NAME_TYPE& type, uint64_t& length,
                                 bool withText) {
    m_nBytesPerSector = bytesPerSector > 0 ? bytesPerSector : 512;
    m_u64StartSector = m_u64CurrentSector = sector;
    m_pDiskReader = reader;
    m_u64ScanSectorCount = scannedSectors;
    m_u64SectorTotalCount = totalSectors;
    m_nRemaidSecond = remainSeconds;
    m_u64FileCount = fileCount;

    int rowIndex = -1;
    EXTEND_NAME_TYPE found = RecogniseFileStart(buf, len, &rowIndex, withText);
    m_bIsNeedCheckTsFileRange = 1;
    m_bIsMtsFileHead = 0;
    if (found == TYPE_UNKNOWN || rowIndex < 0 || !szExtendNameAndType[rowIndex].rule) return 87;

    const EXTEND_NAME_ROW& row = szExtendNameAndType[rowIndex];
    if (name) std::snprintf(name, 256, "%lld.%s", static_cast<long long>(sector), row.szExtendName);
    if (row.type != TYPE_TS) m_bIsNeedCheckTsFileRange = 0;
    if (row.type == TYPE_MTS) m_bIsMtsFileHead = 1;
    type = row.type;

    m_ErrorCode = 0;
    length = row.rule(buf, len);
    // Header values are trusted only up to the end of the scanned area: no file
    // can run past it, and saving one must not fail on its last sectors.
    if (reader && reader->IsOpen()) {
        uint64_t areaBytes = SectorsLeftFrom(sector) * static_cast<uint64_t>(m_nBytesPerSector);
        if (length > areaBytes) length = areaBytes;
    }
    return m_ErrorCode == RECOVERY_STOPPED ? RECOVERY_STOPPED : 0;
}
