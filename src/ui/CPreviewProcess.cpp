#include "ui/CPreviewProcess.h"

#include "platform/TextCodec.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <atomic>
#include <cstring>
#include <cwchar>

namespace {
// The preview's own save is no recovery: the window hears nothing of it.
int QuietRecovery(void*, int, int, int, wchar_t*) { return 0; }
} // namespace

CPreviewProcess::CPreviewProcess(const _FILE_NODE_& record) : m_record(record), m_nLength(0) {
    m_record.szFileName[sizeof m_record.szFileName - 1] = 0;
    m_szPath[0] = 0;
    std::memset(m_data, 0, sizeof m_data);
}

CPreviewProcess::~CPreviewProcess() {
    if (!m_documentPath.isEmpty()) QFile::remove(m_documentPath);
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
    if (ret == 0 && m_szPath[0] == 0 && m_nLength >= 5 && std::memcmp(m_data, "%PDF-", 5) == 0 &&
        !m_record.bIsDir && m_record.u64FileSize <= DOCUMENT_LIMIT)
        SaveDocument(engine);
    return ret;
}

void CPreviewProcess::SaveDocument(IFileRecoveryParse* engine) {
    static std::atomic<int> serial{0};
    const QString path = QDir::tempPath() + QStringLiteral("/orvale-preview-%1-%2.pdf")
                                                .arg(QCoreApplication::applicationPid())
                                                .arg(++serial);
    QFile::remove(path);
    std::wstring target = path.toStdWString();
    engine->InitCallBack(nullptr, &QuietRecovery, nullptr, 100);
    _FILE_NODE_ node = m_record;
    const int ret = engine->SaveFileData(&node, &target[0], 0);
    if (ret == 0 && QFile::exists(path))
        m_documentPath = path;
    else
        QFile::remove(path);
}

QString CPreviewProcess::FileName() const { return QString::fromStdWString(Ansi2Unicode(m_record.szFileName)); }

QString CPreviewProcess::PicturePath() const {
    if (m_szPath[0] == 0) return QString();
    return QString::fromStdWString(std::wstring(m_szPath));
}
