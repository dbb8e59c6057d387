#pragma once
// Recognises the start of a file from its first bytes and works out how long the
// file is. One row of szExtendNameAndType holds an extension, its type number,
// the signature test and the length rule of that type. It works in the shared
// static context of CarveContext.
#include "carving/formats/CarvedFormat.h"

#include <cstdint>

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

class CFileTypeJudge : public FormatRules {
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
    // callback asked to stop while the length rule read ahead. Without withText
    // the text kinds are not tried (inside another file printable bytes are its data).
    int ParseFileBuf(unsigned char* buf, int len, uint64_t sector, uint64_t scannedSectors, uint64_t totalSectors,
                     int remainSeconds, uint64_t fileCount, CDiskReader* reader, int bytesPerSector, char* name,
                     EXTEND_NAME_TYPE& type, uint64_t& length, bool withText = true);

    // First row, in table order, whose test accepts buf; its type, or 49. rowIndex
    // (may be null) receives the first row of the returned type. Text comes last
    // in the table, so leaving it out (withText false) changes no other answer.
    static EXTEND_NAME_TYPE RecogniseFileStart(unsigned char* buf, int len, int* rowIndex = nullptr,
                                               bool withText = true);
    // Index of the first row of a type, -1 when none.
    static int FindFirstRowOfType(EXTEND_NAME_TYPE type);

private:
    static int m_nJudgeCount;
};
