#pragma once
// One preview: the record, and the buffers the engine fills on the worker thread.
#include "engine/IFileRecoveryParse.h"

#include <QString>

class CPreviewProcess {
public:
    enum { DATA_SIZE = 10240, PATH_SIZE = 512 };
    // Larger documents are shown by their first bytes: a page needs the whole file.
    static constexpr uint64_t DOCUMENT_LIMIT = 64ull << 20;

    explicit CPreviewProcess(const _FILE_NODE_& record);
    ~CPreviewProcess();
    CPreviewProcess(const CPreviewProcess&) = delete;
    CPreviewProcess& operator=(const CPreviewProcess&) = delete;

    // Worker thread: asks the engine for the file's first bytes or a picture file;
    // a PDF is also saved whole to a temporary file, for its first page.
    int Run(IFileRecoveryParse* engine, PreViewCallBack callback, void* pParam);

    const _FILE_NODE_& Record() const { return m_record; }
    QString FileName() const;
    // The picture file the engine wrote (as a path for open()), empty when it gave bytes.
    QString PicturePath() const;
    // The temporary whole copy of a PDF (removed with this object), empty when none.
    const QString& DocumentPath() const { return m_documentPath; }
    const unsigned char* Data() const { return m_data; }
    int Length() const { return m_nLength; }

private:
    void SaveDocument(IFileRecoveryParse* engine);

    _FILE_NODE_ m_record;
    wchar_t m_szPath[PATH_SIZE];
    unsigned char m_data[DATA_SIZE];
    int m_nLength;
    QString m_documentPath;
};
