#include "ui/CRecoveryProcess.h"

#include "engine/FileCategories.h"
#include "engine/RecoveryLayout.h"
#include "engine/SafeSave.h"
#include "platform/Log.h"
#include "platform/PathHelpers.h"
#include "platform/TextCodec.h"

#include <QDir>
#include <cerrno>
#include <cstring>
#include <cwchar>
#include <vector>

CRecoveryProcess::CRecoveryProcess(const SelectionMap& selection, const QString& saveDir, bool keepTree)
    : m_selection(selection),
      m_saveDir(Unicode2Ansi(saveDir.toStdWString().c_str())),
      m_saveDirText(saveDir),
      m_nSaved(0),
      m_nRejected(0),
      m_bKeepTree(keepTree) {}

namespace {
// The engine writes a temporary name: the window hears of the file under the
// name it will have, and the first error the engine met and went on from is kept.
struct Relay {
    RecoveryCallBack callback;
    void* param;
    std::wstring shown;
    int firstError = 0;
};

int RelayRecovery(void* p, int progress, int percent, int error, wchar_t*) {
    Relay* relay = static_cast<Relay*>(p);
    if (error > 0 && relay->firstError == 0) relay->firstError = error;
    return relay->callback ? relay->callback(relay->param, progress, percent, error, &relay->shown[0]) : 0;
}
} // namespace

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

std::string CRecoveryProcess::TargetFolder(IFileRecoveryParse* engine, _FILE_NODE_& node, const char* category,
                                           std::string& original) const {
    original.clear();
    wchar_t parent[TARGET_PATH_SIZE] = {0};
    if (engine && node.nFileSystemType != FS_TYPE_FILE_TYPE &&
        engine->GetFileNodeParentDirPath(&node, parent, TARGET_PATH_SIZE) == 0)
        original = "/" + Unicode2Ansi(parent);
    if (original == "/") original.clear();
    std::string folder = RecoveryRelativeFolder(category, original, m_bKeepTree);
    // A tree that cannot be made (a file in its way, a path past the engines'
    // limit) gives way to the category folder: the file is saved all the same.
    if (folder != category && (m_saveDir.size() + folder.size() + std::strlen(node.szFileName) + 10 >= TARGET_PATH_SIZE ||
                               !QDir().mkpath(m_saveDirText + "/" + QString::fromStdString(WideToUtf8(Ansi2Unicode(folder.c_str()).c_str())))))
        folder = category;
    if (folder == category) QDir().mkdir(m_saveDirText + "/" + QString::fromLatin1(category) + "/");
    return folder;
}

int CRecoveryProcess::Run(IFileRecoveryParse* engine, RecoveryCallBack callback, void* pParam) {
    int dirIndex = 0;
    std::wstring wideDir = m_saveDirText.toStdWString();
    GetPathDirIndex(wideDir.c_str(), dirIndex);
    int result = 0;
    QDir().mkpath(m_saveDirText);
    Relay relay{callback, pParam, std::wstring(), 0};
    if (engine) engine->InitCallBack(nullptr, &RelayRecovery, &relay, 100);
    RecoveryReportFile report(m_saveDirText.toStdString());
    m_reportPath = QString::fromStdString(report.path());
    if (!report.ok()) OrvaleLog("recovery report not written: %s\n", std::strerror(report.error()));
    for (auto& entry : m_selection) {
        _FILE_NODE_& node = entry.second;
        node.szFileName[sizeof node.szFileName - 1] = 0;
        char category[16] = {0};
        GetDirTypeByFileName(node.szFileName, category);
        if (!category[0]) std::strcpy(category, "others");
        std::string original;
        const std::string folder = TargetFolder(engine, node, category, original);
        const std::string name = SanitizeFileName(node.szFileName);
        const std::string target = m_saveDir + "/" + (folder.empty() ? "" : folder + "/") + name;
        RecoveryReportFile::Row row;
        row.originalPath = WideToUtf8(Ansi2Unicode((original + node.szFileName).c_str()).c_str());
        row.size = node.u64FileSize;
        row.healthy = node.bIsHealth != 0;
        row.engine = RecoveryEngineName(node.nFileSystemType);
        row.firstSector = FoundFileFirstSector(engine, true, node);
        // A path cut to the engines' limit would name another file: such files are refused.
        std::vector<wchar_t> wideTarget;
        int refusal = 0;
        if (!engine)
            refusal = 87;
        else if (target.size() >= TARGET_PATH_SIZE || (wideTarget = FreeTargetName(target)).empty())
            refusal = ENAMETOOLONG;
        if (refusal != 0) {
            row.status = std::string("failed: ") + std::strerror(refusal == 87 ? EINVAL : refusal);
            report.Add(row);
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
        relay.shown = wideTarget.data();
        relay.firstError = 0;
        const SafeSaveResult saved = SaveFileSafely(engine, node, WideToUtf8(wideTarget.data()), dirIndex, false,
                                                    [&relay] { return relay.firstError; });
        const int ret = saved.code;
        if (ret == 0) ++m_nSaved;
        const std::string root = m_saveDirText.toStdString() + "/";
        if (ret == 0 && saved.savedPath.compare(0, root.size(), root) == 0) row.savedPath = saved.savedPath.substr(root.size());
        row.status = ret == 0 ? std::string("saved")
                              : "failed: " + (ret == RECOVERY_STOPPED ? std::string("stopped")
                                                                      : ret > 0 ? std::strerror(ret) : std::to_string(ret));
        report.Add(row);
        if (ret == RECOVERY_STOPPED) {
            result = RECOVERY_STOPPED;
            break;
        }
    }
    if (engine) engine->InitCallBack(nullptr, callback, pParam, 100);
    if (callback) callback(pParam, 100, 1000, 0, const_cast<wchar_t*>(L""));
    return result;
}
