#pragma once
// Progress of the scan, search and recovery on standard error, and Ctrl-C as the stop request.
#include <atomic>
#include <cstdint>
#include <string>

class CliProgress {
public:
    // Progress shows on a terminal, or anywhere when forced (--progress).
    explicit CliProgress(bool forced = false);

    // Installs the Ctrl-C handler: the first press asks the engine to stop, a second one ends the program.
    static void InstallInterruptHandler();
    static bool StopRequested();

    static int ScanCallBack(void* pParam, int nProgress, int nPercent, int nRemaindSecond, uint64_t u64CurSector,
                            uint64_t u64SectorCount, uint64_t u64FindFileCount, wchar_t* pRecoveryFileName);
    static int SearchCallBack(void* pParam, int nProgress, wchar_t* pRecoveryFileName);
    static int RecoveryCallBack(void* pParam, int nProgress, int nPercent, int nErrorCode, wchar_t* pRecoveryFileName);

    // The file being recovered, for the recovery line.
    void BeginFile(size_t index, size_t total, const std::string& name);
    // The first error the engine reported while saving the current file (0: none).
    int FileError() const { return m_nFileError; }
    // Ends the current progress line.
    void Finish();
    uint64_t LastSectorCount() const { return m_u64Total; }
    uint64_t LastSector() const { return m_u64Current; }

private:
    void Show(const std::string& line, int percent);

    bool m_bTerminal;
    bool m_bShown;
    int m_nLastPercent;
    long m_lLastTick;
    bool m_bLineOpen;
    uint64_t m_u64Current;
    uint64_t m_u64Total;
    size_t m_nFileIndex;
    size_t m_nFileTotal;
    std::string m_strFile;
    int m_nFileError;
};

