#pragma once
// An engine that reports a scripted scan and returns a fixed set of hits, for
// driving the window's workers without a device.
#include "engine/IFileRecoveryParse.h"

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

class FakeEngine : public IFileRecoveryParse {
public:
    // Reports 0..100 % in steps; with runUntilStopped it keeps reporting until a callback asks it to stop.
    explicit FakeEngine(std::vector<std::string> names, bool runUntilStopped = false, std::atomic<int>* alive = nullptr)
        : m_names(std::move(names)), m_bRunUntilStopped(runUntilStopped), m_alive(alive) {
        if (m_alive) ++*m_alive;
    }
    ~FakeEngine() override {
        if (m_alive) --*m_alive;
    }

    int Init(int, long long, long long, wchar_t) override { return 0; }
    int Init(wchar_t*, wchar_t) override { return 0; }
    int InitCallBack(ScanCallBack scanCb, RecoveryCallBack, void* pParam, int nPercent) override {
        m_scanCb = scanCb;
        m_param = pParam;
        m_nPercent = nPercent;
        return 0;
    }
    int ScanDevice(wchar_t*) override {
        wchar_t name[] = L"";
        if (m_bRunUntilStopped) {
            for (int i = 0;; ++i) {
                if (m_scanCb(m_param, i % 100, 90, -1, i, 1000000, 0, name)) {
                    m_bStopped = true;
                    return 0;
                }
                usleep(5000);
            }
        }
        for (int p = 0; p <= 100; p += 25)
            if (m_scanCb(m_param, p, m_nPercent, 10, p, 100, m_names.size(), name)) return 0;
        return m_nScanResult;
    }
    int GetChildrenFileNode(_FILE_NODE_*, unsigned, std::vector<_FILE_NODE_>&) override { return 0; }
    int GetChildrenFileCount(_FILE_NODE_*, unsigned, unsigned& count) override {
        count = 0;
        return 0;
    }
    int GetLostFileCount() override { return 0; }
    int GetFileNodeParentDirPath(_FILE_NODE_*, wchar_t*, int) override { return 0; }
    int SaveFileData(_FILE_NODE_*, wchar_t*, int) override { return 0; }
    int GetUnUsedSectorCount(uint64_t&, uint64_t&) override { return 0; }
    int InitSearchCallBack(SearchCallBack cb, void* pParam) override {
        m_searchCb = cb;
        m_searchParam = pParam;
        return 0;
    }
    // Hits are the names whose "." + extension occurs in the key, as the store matches.
    int SearchFileNode(wchar_t* key, std::vector<__SEARCH_FILE_INFO__>& out) override {
        m_lastKey = key;
        wchar_t empty[] = L"";
        for (const std::string& n : m_names) {
            std::wstring ext(n.begin() + static_cast<long>(n.rfind('.')), n.end());
            if (m_lastKey.find(ext) == std::wstring::npos) continue;
            __SEARCH_FILE_INFO__ hit;
            std::memset(&hit, 0, sizeof hit);
            std::strncpy(hit.szFileName, n.c_str(), sizeof hit.szFileName - 1);
            out.push_back(hit);
        }
        if (m_searchCb) m_searchCb(m_searchParam, 50, empty);
        return 0;
    }
    int BuildBitMapInfo() override { return 0; }
    int PreView(_FILE_NODE_*, wchar_t*, unsigned char*, int&, PreViewCallBack, void*) override { return 0; }

    std::vector<std::string> m_names;
    bool m_bRunUntilStopped;
    std::atomic<int>* m_alive;
    int m_nScanResult = 0;
    std::atomic<bool> m_bStopped{false};
    std::wstring m_lastKey;
    ScanCallBack m_scanCb = nullptr;
    SearchCallBack m_searchCb = nullptr;
    void* m_param = nullptr;
    void* m_searchParam = nullptr;
    int m_nPercent = 100;
};
