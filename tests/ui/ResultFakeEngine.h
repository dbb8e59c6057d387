#pragma once
// An engine stand-in whose "disk" is a map from record index to file content, so
// the result page's preview and recovery can be checked byte for byte.
#include "engine/IFileRecoveryParse.h"
#include "platform/TextCodec.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

class ResultFakeEngine : public IFileRecoveryParse {
public:
    std::map<uint32_t, std::vector<uint8_t>> contents; // by nFileIndex
    std::string picturePath;                           // where PreView puts pictures ("" = bytes)
    RecoveryCallBack recoveryCb = nullptr;
    void* recoveryParam = nullptr;
    std::vector<std::wstring> savedTargets;
    int stopAfter = -1; // SaveFileData returns the stop code from this call on

    int Init(int, long long, long long, wchar_t) override { return 0; }
    int Init(wchar_t*, wchar_t) override { return 0; }
    int InitCallBack(ScanCallBack, RecoveryCallBack cb, void* pParam, int) override {
        recoveryCb = cb;
        recoveryParam = pParam;
        return 0;
    }
    int ScanDevice(wchar_t*) override { return 0; }
    int GetChildrenFileNode(_FILE_NODE_*, unsigned, std::vector<_FILE_NODE_>&) override { return 0; }
    int GetChildrenFileCount(_FILE_NODE_*, unsigned, unsigned& count) override { count = 0; return 0; }
    int GetLostFileCount() override { return 0; }
    int GetFileNodeParentDirPath(_FILE_NODE_*, wchar_t* path, int) override { path[0] = 0; return 0; }
    int GetUnUsedSectorCount(uint64_t&, uint64_t&) override { return 0; }
    int InitSearchCallBack(SearchCallBack, void*) override { return 0; }
    int SearchFileNode(wchar_t*, std::vector<__SEARCH_FILE_INFO__>&) override { return 0; }
    int BuildBitMapInfo() override { return 0; }

    int SaveFileData(_FILE_NODE_* node, wchar_t* target, int) override {
        savedTargets.push_back(target);
        if (stopAfter >= 0 && static_cast<int>(savedTargets.size()) > stopAfter) return RECOVERY_STOPPED;
        const std::vector<uint8_t>& data = contents[node->nFileIndex];
        int fd = ::open(WideToUtf8(target).c_str(), O_RDWR | O_CREAT, 0644);
        int ret = 0;
        if (fd < 0) {
            ret = errno;
        } else {
            if (!data.empty() && ::write(fd, data.data(), data.size()) != static_cast<ssize_t>(data.size())) ret = errno;
            ::close(fd);
        }
        if (recoveryCb) {
            int r = recoveryCb(recoveryParam, 100, 100, ret, target);
            if (r != 0) return r;
        }
        return ret;
    }

    int PreView(_FILE_NODE_* node, wchar_t* tmpPath, unsigned char* buf, int& len, PreViewCallBack cb,
                void* pParam) override {
        if (!picturePath.empty()) {
            std::wstring wide = Utf8ToWide(picturePath.c_str());
            std::wcsncpy(tmpPath, wide.c_str(), 511);
            tmpPath[511] = 0;
            len = 0;
        } else {
            const std::vector<uint8_t>& data = contents[node->nFileIndex];
            int n = static_cast<int>(data.size()) < len ? static_cast<int>(data.size()) : len;
            if (n > 0) std::memcpy(buf, data.data(), static_cast<size_t>(n));
            len = n;
        }
        if (cb) cb(pParam, 100, 0);
        return 0;
    }
};

inline __SEARCH_FILE_INFO__ MakeHit(const char* name, uint32_t index, uint64_t size, uint32_t cluster = 0,
                                    uint32_t fsType = 1) {
    __SEARCH_FILE_INFO__ hit{};
    std::strncpy(hit.szFileName, name, sizeof hit.szFileName - 1);
    hit.nFileIndex = index;
    hit.nClusterNO = cluster;
    hit.nFileSystemType = fsType;
    hit.u64FileSize = size;
    return hit;
}

#include "ui/CPreviewProcess.h"
#include "ui/CRecoveryProcess.h"
#include "ui/IResultPageHost.h"

// Runs the page's work at once on the calling thread and keeps the recovery reports.
class ResultFakeHost : public IResultPageHost {
public:
    struct Report {
        int nProgress, nPercent, nErrorCode;
        std::wstring name;
    };
    ResultFakeEngine engine;
    std::vector<Report> reports;
    int previews = 0;
    int stopReply = 0; // what the recovery callback answers

    ResultFakeHost() { engine.InitCallBack(nullptr, &ResultFakeHost::OnRecovery, this, 100); }

    void RunPreview(CPreviewProcess& preview) override {
        ++previews;
        preview.Run(&engine, nullptr, nullptr);
    }
    void RunRecovery(CRecoveryProcess& recovery, const QString&) override {
        recovery.Run(&engine, &ResultFakeHost::OnRecovery, this);
    }
    static int OnRecovery(void* p, int nProgress, int nPercent, int nErrorCode, wchar_t* name) {
        auto* self = static_cast<ResultFakeHost*>(p);
        self->reports.push_back({nProgress, nPercent, nErrorCode, name ? name : L""});
        return self->stopReply;
    }
};
