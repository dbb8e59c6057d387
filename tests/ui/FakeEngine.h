#pragma once
// An engine stand-in: a scripted scan, hits by extension, and record index -> content for
// byte-exact previews and recoveries. ResultFakeHost runs the result page's work at once.
#include "engine/IFileRecoveryParse.h"
#include "platform/TextCodec.h"
#include "ui/CPreviewProcess.h"
#include "ui/CRecoveryProcess.h"
#include "ui/IResultPageHost.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

inline __SEARCH_FILE_INFO__ MakeHit(const char* name, uint32_t index, uint64_t size, uint32_t fsType = 1) {
    __SEARCH_FILE_INFO__ hit{};
    std::strncpy(hit.szFileName, name, sizeof hit.szFileName - 1);
    hit.nFileIndex = index, hit.nFileSystemType = fsType, hit.u64FileSize = size;
    return hit;
}

class FakeEngine : public IFileRecoveryParse {
public:
    // Reports 0..100 % in steps; alive counts the engines not yet destroyed.
    explicit FakeEngine(std::vector<std::string> names = {}, std::atomic<int>* alive = nullptr) : m_names(std::move(names)), m_alive(alive) { if (m_alive) ++*m_alive; }
    ~FakeEngine() override { if (m_alive) --*m_alive; }
    int Init(int, long long, long long, wchar_t) override { return 0; }
    int Init(wchar_t*, wchar_t) override { return 0; }
    int InitCallBack(ScanCallBack scanCb, RecoveryCallBack recoveryCb, void* pParam, int nPercent) override {
        return m_scanCb = scanCb, m_recoveryCb = recoveryCb, m_param = pParam, m_nPercent = nPercent, 0;
    }
    int ScanDevice(wchar_t*) override {
        wchar_t name[] = L"";
        for (int p = 0; p <= 100; p += 25)
            if (m_scanCb(m_param, p, m_nPercent, 10, p, 100, m_names.size(), name)) return 0;
        return m_nScanResult;
    }
    int GetChildrenFileNode(_FILE_NODE_*, unsigned, std::vector<_FILE_NODE_>&) override { return 0; }
    int GetChildrenFileCount(_FILE_NODE_*, unsigned, unsigned& count) override { return count = 0; }
    int GetLostFileCount() override { return 0; }
    int GetFileNodeParentDirPath(_FILE_NODE_*, wchar_t* path, int) override { return path[0] = 0; }
    int GetUnUsedSectorCount(uint64_t&, uint64_t&) override { return 0; }
    int BuildBitMapInfo() override { return 0; }
    int InitSearchCallBack(SearchCallBack cb, void* pParam) override { return m_searchCb = cb, m_searchParam = pParam, 0; }
    // Hits are the names whose "." + extension occurs in the key, as the store matches.
    int SearchFileNode(wchar_t* key, std::vector<__SEARCH_FILE_INFO__>& out) override {
        m_lastKey = key;
        wchar_t empty[] = L"";
        for (const std::string& n : m_names)
            if (m_lastKey.find(std::wstring(n.begin() + long(n.rfind('.')), n.end())) != std::wstring::npos) out.push_back(MakeHit(n.c_str(), 0, 0, 0));
        if (m_searchCb) m_searchCb(m_searchParam, 50, empty);
        return 0;
    }
    int SaveFileData(_FILE_NODE_* node, wchar_t* target, int) override {
        savedTargets.push_back(target);
        if (stopAfter >= 0 && static_cast<int>(savedTargets.size()) > stopAfter) return RECOVERY_STOPPED;
        const std::vector<uint8_t>& data = contents[node->nFileIndex];
        int fd = ::open(WideToUtf8(target).c_str(), O_RDWR | O_CREAT, 0644), ret = fd < 0 ? errno : 0;
        if (fd >= 0 && !data.empty() && ::write(fd, data.data(), data.size()) != static_cast<ssize_t>(data.size())) ret = errno;
        if (fd >= 0) ::close(fd);
        if (int r = m_recoveryCb ? m_recoveryCb(m_param, 100, 100, ret, target) : 0) return r;
        return ret;
    }
    int PreView(_FILE_NODE_* node, wchar_t* tmpPath, unsigned char* buf, int& len, PreViewCallBack cb, void* pParam) override {
        const std::vector<uint8_t>& data = contents[node->nFileIndex];
        if (!picturePath.empty()) std::wcsncpy(tmpPath, Utf8ToWide(picturePath.c_str()).c_str(), 511), tmpPath[511] = 0, len = 0;
        else if ((len = std::min(static_cast<int>(data.size()), len)) > 0) std::memcpy(buf, data.data(), static_cast<size_t>(len));
        if (cb) cb(pParam, 100, 0);
        return 0;
    }

    std::vector<std::string> m_names;
    std::atomic<int>* m_alive;
    int m_nScanResult = 0;
    std::wstring m_lastKey;
    std::map<uint32_t, std::vector<uint8_t>> contents; // by nFileIndex
    std::string picturePath;                           // where PreView puts pictures ("" = bytes)
    std::vector<std::wstring> savedTargets;
    int stopAfter = -1; // SaveFileData returns the stop code from this call on

private:
    ScanCallBack m_scanCb = nullptr;
    RecoveryCallBack m_recoveryCb = nullptr;
    SearchCallBack m_searchCb = nullptr;
    void *m_param = nullptr, *m_searchParam = nullptr;
    int m_nPercent = 100;
};

class ResultFakeHost : public IResultPageHost {
public:
    struct Report { int nProgress, nErrorCode; std::wstring name; };
    FakeEngine engine;
    std::vector<Report> reports;
    int previews = 0;

    ResultFakeHost() { engine.InitCallBack(nullptr, &ResultFakeHost::OnRecovery, this, 100); }
    void RunPreview(CPreviewProcess& preview) override { ++previews, preview.Run(&engine, nullptr, nullptr); }
    void RunRecovery(CRecoveryProcess& recovery, const QString&) override { recovery.Run(&engine, &ResultFakeHost::OnRecovery, this); }
    QString FolderOf(const _FILE_NODE_&) override { return QString(); }
    uint64_t AreaStartSector() const override { return 0; }
    static int OnRecovery(void* p, int nProgress, int, int nErrorCode, wchar_t* name) {
        static_cast<ResultFakeHost*>(p)->reports.push_back({nProgress, nErrorCode, name ? name : L""});
        return 0;
    }
};
