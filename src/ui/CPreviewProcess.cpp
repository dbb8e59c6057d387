#include "ui/CPreviewProcess.h"

#include "platform/TextCodec.h"

#include <cstring>
#include <cwchar>

CPreviewProcess::CPreviewProcess(const _FILE_NODE_& record) : m_record(record), m_nLength(0) {
    m_record.szFileName[sizeof m_record.szFileName - 1] = 0;
    m_szPath[0] = 0;
    std::memset(m_data, 0, sizeof m_data);
}

int CPreviewProcess::Run(IFileRecoveryParse* engine, PreViewCallBack callback, void* pParam) {
    m_szPath[0] = 0;
    m_nLength = DATA_SIZE;
    if (!engine) {
        m_nLength = 0;
        if (callback) callback(pParam, 100, 87);
        return 87;
    }
    int ret = engine->PreView(&m_record, m_szPath, m_data, m_nLength, callback, pParam);
    // The engine's word on lengths is not trusted further than the buffer.
    if (m_nLength < 0) m_nLength = 0;
    if (m_nLength > DATA_SIZE) m_nLength = DATA_SIZE;
    m_szPath[PATH_SIZE - 1] = 0;
    return ret;
}

QString CPreviewProcess::FileName() const { return QString::fromStdWString(Ansi2Unicode(m_record.szFileName)); }

QString CPreviewProcess::PicturePath() const {
    if (m_szPath[0] == 0) return QString();
    return QString::fromStdWString(std::wstring(m_szPath));
}
