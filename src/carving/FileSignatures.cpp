// Signature tests that need nothing but the buffer. Each checks its minimum
// length first, so a short or null buffer is simply "not this kind".
#include "carving/CFileTypeJudge.h"
#include "platform/ByteView.h"

#include <cstring>

namespace {
bool Has(const unsigned char* buf, int len, int minLen) { return buf && len >= minLen; }

bool At(const unsigned char* buf, int len, int off, const void* s, int n) {
    return off >= 0 && n >= 0 && off + n <= len && std::memcmp(buf + off, s, n) == 0;
}

// Bytes b0 b1 b2 b3 somewhere in [0, limit) of buf.
bool FindStartCode(const unsigned char* buf, int limit, unsigned char code) {
    for (int i = 0; i < limit; ++i)
        if (buf[i] == 0 && buf[i + 1] == 0 && buf[i + 2] == 1 && buf[i + 3] == code) return true;
    return false;
}
} // namespace

EXTEND_NAME_TYPE CFileTypeJudge::IsMpgType(unsigned char* buf, int len) {
    if (!Has(buf, len, 16)) return TYPE_UNKNOWN;
    int limit = (len < 32 ? len : 32) - 3;
    static const unsigned char seq[4] = {0, 0, 1, 0xB3}, pack[4] = {0, 0, 1, 0xBA};
    if (At(buf, len, 0, seq, 4) && FindStartCode(buf, limit, 0xB8)) return TYPE_MPG;
    if (At(buf, len, 0, pack, 4) && FindStartCode(buf, limit, 0xBB)) return TYPE_MPG;
    return TYPE_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsRmvbType(unsigned char* buf, int len) {
    return Has(buf, len, 4) && At(buf, len, 0, ".RMF", 4) ? TYPE_RMVB : TYPE_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsAsfType(unsigned char* buf, int len) {
    static const unsigned char guid[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                           0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
    return Has(buf, len, 24) && At(buf, len, 0, guid, 16) ? TYPE_ASF : TYPE_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsSwfType(unsigned char* buf, int len) {
    if (!Has(buf, len, 8)) return TYPE_UNKNOWN;
    if (At(buf, len, 0, "FWS", 3) && buf[3] < 6) return TYPE_SWF;
    if (At(buf, len, 0, "CWS", 3) && buf[3] >= 6 && buf[3] <= 15) return TYPE_SWF;
    return TYPE_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsAviType(unsigned char* buf, int len) {
    return Has(buf, len, 16) && At(buf, len, 0, "RIFF", 4) && At(buf, len, 8, "AVI ", 4) && At(buf, len, 12, "LIST", 4)
               ? TYPE_AVI
               : TYPE_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsFlvType(unsigned char* buf, int len) {
    static const unsigned char headerSize[4] = {0, 0, 0, 9};
    return Has(buf, len, 16) && At(buf, len, 0, "FLV", 3) && buf[3] == 1 && At(buf, len, 5, headerSize, 4)
               ? TYPE_FLV
               : TYPE_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsMkvType(unsigned char* buf, int len) {
    static const unsigned char ebml[4] = {0x1A, 0x45, 0xDF, 0xA3};
    return Has(buf, len, 16) && At(buf, len, 0, ebml, 4) ? TYPE_MKV : TYPE_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsMtsType(unsigned char* buf, int len) {
    static const unsigned char pat[8] = {0x00, 0x00, 0xB0, 0x11, 0x00, 0x00, 0xC1, 0x00};
    if (!Has(buf, len, 16) || !At(buf, len, 8, pat, 8)) return TYPE_UNKNOWN;
    m_uMtsPreIndex = buf[7];
    bool timeCode = buf[0] || buf[1] || buf[2] || buf[3];
    // A later packet of a stream already being measured is not a new file.
    if (timeCode && m_bIsMtsFileHead) return TYPE_UNKNOWN;
    return TYPE_MTS;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsMxfType(unsigned char* buf, int len) {
    static const unsigned char key[16] = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01,
                                          0x0D, 0x01, 0x02, 0x01, 0x01, 0x02, 0x04, 0x00};
    return Has(buf, len, 16) && At(buf, len, 0, key, 16) ? TYPE_MXF : TYPE_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsMidType(unsigned char* buf, int len) {
    static const unsigned char six[4] = {0, 0, 0, 6};
    return Has(buf, len, 16) && At(buf, len, 0, "MThd", 4) && At(buf, len, 4, six, 4) && At(buf, len, 14, "MTrk", 4)
               ? TYPE_MID
               : TYPE_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsApeType(unsigned char* buf, int len) {
    return Has(buf, len, 4) && At(buf, len, 0, "MAC ", 4) ? TYPE_APE : TYPE_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsWavType(unsigned char* buf, int len) {
    return Has(buf, len, 16) && At(buf, len, 0, "RIFF", 4) && At(buf, len, 8, "WAVE", 4) && At(buf, len, 12, "fmt ", 4)
               ? TYPE_WAV
               : TYPE_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsMp2Type(unsigned char* buf, int len) {
    static const unsigned char sync[4] = {0xFF, 0xFD, 0xE4, 0x00};
    return Has(buf, len, 4) && At(buf, len, 0, sync, 4) ? TYPE_MP2 : TYPE_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsMmfType(unsigned char* buf, int len) {
    return Has(buf, len, 4) && At(buf, len, 0, "MMMD", 4) ? TYPE_MMF : TYPE_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsFlaType(unsigned char* buf, int len) {
    static const unsigned char cfb[4] = {0xD0, 0xCF, 0x11, 0xE0};
    return Has(buf, len, 16) && At(buf, len, 0, cfb, 4) ? TYPE_FLA : TYPE_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsPsdType(unsigned char* buf, int len) {
    return Has(buf, len, 40) && At(buf, len, 0, "8BPS", 4) ? TYPE_PSD : TYPE_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsTifType(unsigned char* buf, int len) {
    static const unsigned char le[4] = {0x49, 0x49, 0x2A, 0x00}, be[4] = {0x4D, 0x4D, 0x00, 0x2A};
    return Has(buf, len, 4) && (At(buf, len, 0, le, 4) || At(buf, len, 0, be, 4)) ? TYPE_TIF : TYPE_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsIcoType(unsigned char* buf, int len) {
    static const unsigned char sig[4] = {0, 0, 1, 0};
    if (!Has(buf, len, 16) || !At(buf, len, 0, sig, 4)) return TYPE_UNKNOWN;
    ByteView v(buf, len);
    uint64_t n = v.le16(4);
    if (n < 1 || 6 + 16 * n > static_cast<uint64_t>(len)) return TYPE_UNKNOWN;
    uint64_t expected = 6 + 16 * n;
    for (uint64_t i = 0; i < n; ++i) {
        size_t e = 6 + 16 * i;
        if (v.u8(e + 3) != 0 || v.le32(e + 12) != expected) return TYPE_UNKNOWN;
        expected += v.le32(e + 8);
    }
    return TYPE_ICO;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsCabType(unsigned char* buf, int len) {
    return Has(buf, len, 36) && At(buf, len, 0, "MSCF", 4) ? TYPE_CAB : TYPE_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsPeType(unsigned char* buf, int len) {
    if (!Has(buf, len, 512) || !At(buf, len, 0, "MZ", 2)) return TYPE_UNKNOWN;
    ByteView v(buf, len);
    uint32_t peOff = v.le32(60);
    static const unsigned char pe[4] = {'P', 'E', 0, 0};
    if (peOff > 488 || !At(buf, len, static_cast<int>(peOff), pe, 4)) return TYPE_UNKNOWN;
    uint16_t characteristics = v.le16(peOff + 22);
    if (!(characteristics & 0x0002)) return TYPE_UNKNOWN;
    if (characteristics & 0x1000) return TYPE_SYS;
    if (characteristics & 0x2000) return TYPE_DLL;
    return TYPE_EXE;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsGhoType(unsigned char* buf, int len) {
    static const unsigned char sig[4] = {0xFE, 0xEF, 0x00, 0x00};
    return Has(buf, len, 4) && At(buf, len, 0, sig, 4) ? TYPE_GHO : TYPE_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsSqlType(unsigned char* buf, int len) {
    return Has(buf, len, 16) && At(buf, len, 0, "SQLite format 3", 16) ? TYPE_DB : TYPE_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsDbxEmailType(unsigned char* buf, int len) {
    static const unsigned char sig[4] = {0xCF, 0xAD, 0x12, 0xFE};
    return Has(buf, len, 16) && At(buf, len, 0, sig, 4) ? TYPE_DBX : TYPE_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsPstEmailType(unsigned char* buf, int len) {
    return Has(buf, len, 16) && At(buf, len, 0, "!BDN", 4) && At(buf, len, 8, "SM", 2) ? TYPE_PST : TYPE_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsTtfType(unsigned char* buf, int len) {
    static const unsigned char version[4] = {0, 1, 0, 0};
    if (!Has(buf, len, 16) || !At(buf, len, 0, version, 4)) return TYPE_UNKNOWN;
    ByteView v(buf, len);
    uint64_t tables = v.be16(4);
    if (!tables || !v.be16(6) || !v.be16(8) || !v.be16(10)) return TYPE_UNKNOWN;
    if (16 * tables + 16 > static_cast<uint64_t>(len)) return TYPE_UNKNOWN;
    return v.be32(12 + 16 * tables) == 0x00010000 ? TYPE_TTF : TYPE_UNKNOWN;
}
