#pragma once
// What every carving step shares: the kinds of file, the static context a step
// runs in (one carving step or health test at a time in the whole process;
// callers set it, then ask) and the reads through it. The format files and the
// read-ahead stand on this; the judge above them fills it in.
#include "engine/IFileRecoveryParse.h"

#include <cstdint>
#include <vector>

class CDiskReader;

enum EXTEND_NAME_TYPE : int {
    TYPE_DOC = 0,
    TYPE_DOCX = 1,
    TYPE_OLE = 2,
    TYPE_XLS = 3,
    TYPE_XLSX = 4,
    TYPE_PPT = 5,
    TYPE_PPTX = 6,
    TYPE_MSO07 = 7,
    TYPE_PDF = 8,
    TYPE_GHO = 9,
    TYPE_JPG = 10,
    TYPE_MP2 = 11,
    TYPE_MP3 = 12,
    TYPE_MID = 13,
    TYPE_MMF = 14,
    TYPE_MPG = 15,
    TYPE_3GP = 16,
    TYPE_MOV = 17,
    TYPE_MP4 = 18,
    TYPE_MKV = 19,
    TYPE_TS = 20,
    TYPE_WAV = 21,
    TYPE_AVI = 22,
    TYPE_RMVB = 23,
    TYPE_ASF = 24,
    TYPE_APE = 25,
    TYPE_SWF = 26,
    TYPE_FLV = 27,
    TYPE_PSD = 28,
    TYPE_BMP = 29,
    TYPE_PNG = 30,
    TYPE_GIF = 31,
    TYPE_TIF = 32,
    TYPE_CAB = 33,
    TYPE_7Z = 34,
    TYPE_ZIP = 35,
    TYPE_GZIP = 36,
    TYPE_RAR = 37,
    TYPE_PST = 38,
    TYPE_DB = 39,
    TYPE_DBX = 40,
    TYPE_EXE = 41,
    TYPE_DLL = 42,
    TYPE_SYS = 43,
    TYPE_FLA = 44,
    TYPE_TTF = 45,
    TYPE_ICO = 46,
    TYPE_MTS = 47,
    TYPE_MXF = 48,
    TYPE_UNKNOWN = 49,
    TYPE_ODT = 50,
    TYPE_ODS = 51,
    TYPE_ODP = 52,
    TYPE_ODG = 53,
    TYPE_EPUB = 54,
    TYPE_JAR = 55,
    TYPE_APK = 56,
    TYPE_OGG = 57,
    TYPE_TXT = 58,
    TYPE_HTML = 59,
    TYPE_XML = 60,
    TYPE_JSON = 61,
    TYPE_CSV = 62,
    TYPE_SH = 63,
};

// Text kinds (txt, html, ...): never a reason for a read-ahead to stop.
inline bool IsTextKind(EXTEND_NAME_TYPE type) { return type >= TYPE_TXT && type <= TYPE_SH; }

typedef EXTEND_NAME_TYPE (*SignatureTest)(unsigned char* buf, int len);
typedef uint64_t (*LengthRule)(unsigned char* buf, int len);

struct _TS_FILE_RANGE_ {
    uint64_t u64StartSector;
    uint64_t u64EndSector;
};

class CarveContext {
public:
    static int m_nBytesPerSector;
    static uint64_t m_u64StartSector;
    static uint64_t m_u64CurrentSector;
    static CDiskReader* m_pDiskReader;
    static uint64_t m_u64ScanSectorCount;
    static uint64_t m_u64SectorTotalCount;
    static int m_nRemaidSecond;
    static uint64_t m_u64FileCount;
    static int m_bIsNeedCheckTsFileRange;
    static int m_bIsMtsFileHead;
    static unsigned char m_uMtsPreIndex;
    static std::vector<_TS_FILE_RANGE_> m_tsFileRangeVec;
    static int m_ErrorCode;
    static unsigned char* m_pReadBuf;
    static ScanCallBack m_progressFunc;
    static RecoveryCallBack m_pRecoveryFunc;
    static void* m_pParam;
    static int m_nPercent;

    static constexpr int kReadBufBytes = 65536;

    // Reads count sectors at an absolute sector through the context's reader,
    // never past the reader's bound. 0 when all arrived; got = sectors read.
    static int ReadContextSectors(unsigned char* buf, int count, uint64_t sector, unsigned& got);
    // Reads len bytes at byte offset off of the file starting at m_u64CurrentSector.
    static bool ReadFileBytesAt(uint64_t off, unsigned char* out, int len);
    // Sectors from sector up to the reader's bound (0 without a reader).
    static uint64_t SectorsLeftFrom(uint64_t sector);
    // The shared read buffer, allocated on first use.
    static unsigned char* ReadBuf();

    // The start walk over every format but text (a read-ahead never stops at
    // text), in table order: the type a buffer starts, or 49. The judge plugs it
    // in, so a read-ahead can stop at any other file's start without the formats
    // knowing the table they sit in.
    static SignatureTest const RecogniseStart;

    // File-system metadata (boot sectors, NTFS records, FAT folder sectors),
    // where a read-ahead stops as at another file's start.
    static bool IsFileSystemSector(unsigned char* buf, int len);

    // First / last occurrence of pattern in buf; null for an empty pattern or one longer than buf.
    static unsigned char* memmem(unsigned char* buf, int len, const unsigned char* pattern, int patternLen);
    static unsigned char* memrmem(unsigned char* buf, int len, const unsigned char* pattern, int patternLen);
};
