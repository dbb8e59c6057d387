#pragma once
// One recovery run: every ticked file is saved into the category folder of the
// destination (others/ for a kind without one; with keepTree, below its original
// folders) under a name that overwrites nothing, and a report beside them lists
// every file. A file is written under a temporary name and takes its own only
// when all of it is there, so nothing that failed or was stopped looks recovered.
#include "engine/IFileRecoveryParse.h"
#include "ui/ResultSelection.h"

#include <QString>
#include <string>
#include <vector>

class CRecoveryProcess {
public:
    enum { TARGET_PATH_SIZE = 512 };

    CRecoveryProcess(const SelectionMap& selection, const QString& saveDir, bool keepTree = true);

    // Worker thread. Every report goes to callback with pParam: the engine's own,
    // relayed under the file's real name (the engine's recovery callback is
    // pointed at callback when the run ends), and this loop's (files it cannot
    // save, the final report). Returns RECOVERY_STOPPED when the user stopped the
    // run, else 0.
    int Run(IFileRecoveryParse* engine, RecoveryCallBack callback, void* pParam);

    // The wide target GetRealFileName picks for it, TARGET_PATH_SIZE characters long;
    // empty when the free name no longer fits the limit.
    static std::vector<wchar_t> FreeTargetName(const std::string& target);

    int Saved() const { return m_nSaved; }
    int Total() const { return static_cast<int>(m_selection.size()); }
    int Rejected() const { return m_nRejected; }
    // The report written by the last Run, empty when it could not be created.
    const QString& ReportPath() const { return m_reportPath; }

private:
    // The 8-bit folder below the destination node goes into, made; original gets
    // its original folder ("/A/B/", empty when unknown).
    std::string TargetFolder(IFileRecoveryParse* engine, _FILE_NODE_& node, const char* category,
                             std::string& original) const;

    SelectionMap m_selection;
    std::string m_saveDir; // 8-bit
    QString m_saveDirText;
    int m_nSaved;
    int m_nRejected;
    bool m_bKeepTree;
    QString m_reportPath;
};
