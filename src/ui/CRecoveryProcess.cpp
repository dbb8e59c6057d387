#include "ui/CRecoveryProcess.h"

#include "engine/FileCategories.h"
#include "platform/Log.h"
#include "platform/PathHelpers.h"
#include "platform/TextCodec.h"

#include <QDir>
#include <cerrno>
#include <cstring>
#include <cwchar>
#include <vector>

CRecoveryProcess::CRecoveryProcess(const SelectionMap& selection, const QString& saveDir)
    : m_selection(selection),
      m_saveDir(Unicode2Ansi(saveDir.toStdWString().c_str())),
      m_saveDirText(saveDir),
      m_nSaved(0),
      m_nRejected(0) {}

std::vector<wchar_t> CRecoveryProcess::FreeTargetName(const std::string& target) {
    // Room for the "(n)" an existing name gets, so that a cut is seen rather than used.
    std::vector<wchar_t> wide(2 * TARGET_PATH_SIZE, L'\0');
    GetRealFileName(target.c_str(), wide.data(), static_cast<int>(wide.size()));
    size_t length = std::wcslen(wide.data());
    if (length == 0 || length >= TARGET_PATH_SIZE || Unicode2Ansi(wide.data()).size() >= TARGET_PATH_SIZE)
        return std::vector<wchar_t>();
    wide.resize(TARGET_PATH_SIZE);
    return wide;
}

int CRecoveryProcess::Run(IFileRecoveryParse* engine, RecoveryCallBack callback, void* pParam) {
    int dirIndex = 0;
    std::wstring wideDir = m_saveDirText.toStdWString();
    GetPathDirIndex(wideDir.c_str(), dirIndex);
    int result = 0;
    for (auto& entry : m_selection) {
        _FILE_NODE_& node = entry.second;
        node.szFileName[sizeof node.szFileName - 1] = 0;
        char folder[16] = {0};
        GetDirTypeByFileName(node.szFileName, folder);
        QDir().mkdir(m_saveDirText + "/" + QString::fromLatin1(folder) + "/");
        const std::string target = m_saveDir + "/" + folder + "/" + node.szFileName;
        // A path cut to the engines' limit would name another file: such files are refused.
        std::vector<wchar_t> wideTarget;
        int refusal = 0;
        if (!engine)
            refusal = 87;
        else if (target.size() >= TARGET_PATH_SIZE || (wideTarget = FreeTargetName(target)).empty())
            refusal = ENAMETOOLONG;
        if (refusal != 0) {
            ++m_nRejected;
            OrvaleLog("recovery refused (%d): %s\n", refusal, target.c_str());
            // The report is the detail dialog's row for this file.
            std::wstring shown = Ansi2Unicode(target.c_str());
            if (callback && callback(pParam, 100, 100, refusal, &shown[0]) == RECOVERY_STOPPED) {
                result = RECOVERY_STOPPED;
                break;
            }
            continue;
        }
        int ret = engine->SaveFileData(&node, wideTarget.data(), dirIndex);
        ++m_nSaved;
        if (ret == RECOVERY_STOPPED) {
            result = RECOVERY_STOPPED;
            break;
        }
    }
    if (callback) callback(pParam, 100, 1000, 0, const_cast<wchar_t*>(L""));
    return result;
}
