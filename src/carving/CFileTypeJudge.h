#pragma once
// Recognises the start of a file from its first bytes and works out how long the
// file is. One row of szExtendNameAndType holds an extension, its type number,
// the signature test and the length rule of that type.
//
// The context below is static and shared: one carving step or health test at a
// time in the whole process. Callers set it, then ask.
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

struct CarvedFormat;

typedef EXTEND_NAME_TYPE (*SignatureTest)(unsigned char* buf, int len);
typedef uint64_t (*LengthRule)(unsigned char* buf, int len);

// One extension of a carved format (see carving/formats): the table of rows is
// made from the format table. A row without a length rule is recognised but
// never carved.
struct EXTEND_NAME_ROW {
    const char* szExtendName;
    EXTEND_NAME_TYPE type;
    SignatureTest test;
    LengthRule rule;
    // Cheap pre-checks for the sector walk: the bytes a matching buffer can start
    // with ("" = any), and for any-start rows one (offset, byte) that must hold
    // unless the first byte is one of the leads.
    const char* szLeads;
    int nLeadCount;
    int nProbeOffset;
    unsigned char uProbeByte;
    // False for a row the start walk passes over (see the table).
    bool bWalk;
    const CarvedFormat* format;
};

struct _TS_FILE_RANGE_ {
    uint64_t u64StartSector;
    uint64_t u64EndSector;
};

class CFileTypeJudge {
public:
    CFileTypeJudge();
    ~CFileTypeJudge();
    CFileTypeJudge(const CFileTypeJudge&) = delete;
    CFileTypeJudge& operator=(const CFileTypeJudge&) = delete;

    // Every extension row, ended by a row of type TYPE_UNKNOWN.
    static const EXTEND_NAME_ROW* const szExtendNameAndType;

    static void InitCallBack(ScanCallBack progressFunc, RecoveryCallBack recoveryFunc, void* pParam, int nPercent);

    // Health test of the file-system engines, over the first bytes of a file
    // named with ext: false only when they positively show other content (another
    // format's signature, or bytes no file of ext's format starts with); true
    // for an extension without a row and for a variant the tests do not know.
    static bool IsFileTypeMatching(unsigned char* buf, int len, char* ext, CDiskReader* reader, int bytesPerSector,
                                   uint64_t sector);

    // The judge's half of a carving step. 0 with name, type and length; 87 when
    // nothing is recognised or the type is never carved; -9527 when the scan
    // callback asked to stop while the length rule read ahead.
    int ParseFileBuf(unsigned char* buf, int len, uint64_t sector, uint64_t scannedSectors, uint64_t totalSectors,
                     int remainSeconds, uint64_t fileCount, CDiskReader* reader, int bytesPerSector, char* name,
                     EXTEND_NAME_TYPE& type, uint64_t& length);

    // First row, in table order, whose test accepts buf; its type, or 49. rowIndex
    // (may be null) receives the first row of the returned type.
    static EXTEND_NAME_TYPE RecogniseFileStart(unsigned char* buf, int len, int* rowIndex = nullptr);
    // Index of the first row of a type, -1 when none.
    static int FindFirstRowOfType(EXTEND_NAME_TYPE type);
    static bool IsFileSystemSector(unsigned char* buf, int len);

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

    // First / last occurrence of pattern in buf; null for an empty pattern or one longer than buf.
    static unsigned char* memmem(unsigned char* buf, int len, const unsigned char* pattern, int patternLen);
    static unsigned char* memrmem(unsigned char* buf, int len, const unsigned char* pattern, int patternLen);

    // Shared context.
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

private:
    static int m_nJudgeCount;
};
