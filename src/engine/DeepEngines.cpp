#include "engine/DeepEngines.h"

#include "carving/CFileTypeRecovery.h"
#include "exfat/CProfessionalExfatRecovery.h"
#include "ext/CProfessionalExtRecovery.h"
#include "fat/CProfessionalFatRecovery.h"
#include "ntfs/CProfessionalNtfsRecovery.h"
#include "platform/DeviceMap.h"
#include "platform/TextCodec.h"

#include <string>

namespace {
// The carver seen as a deep engine. Its store is opened when the pass begins,
// not at Init, so a resumed scan reopens its store instead of starting another.
class CarverDeepEngine : public IDeepEngine {
public:
    int Init(int diskNo, long long startSector, long long sectorCount, wchar_t driveLetter) override {
        m_nDiskNo = diskNo;
        m_llStartSector = startSector;
        m_llSectorCount = sectorCount;
        m_DriveLetter = driveLetter;
        m_DevicePath.clear();
        return 0;
    }
    int Init(wchar_t* devicePath, wchar_t driveLetter) override {
        if (!devicePath) return 87;
        m_DevicePath = devicePath;
        m_DriveLetter = driveLetter;
        m_llStartSector = 0;
        uint64_t bytes = 0;
        int rc = GetDeviceSize(WideToUtf8(devicePath), bytes);
        m_llSectorCount = static_cast<long long>(bytes / 512);
        return rc;
    }
    const char* StorePrefix() const override { return "File_Type_"; }
    int BeginDeepPass(wchar_t* storeName) override {
        if (!storeName) {
            if (m_DevicePath.empty()) return m_Carver.Init(m_nDiskNo, m_llStartSector, m_llSectorCount, m_DriveLetter);
            return m_Carver.Init(&m_DevicePath[0], m_DriveLetter);
        }
        uint64_t end = static_cast<uint64_t>(m_llStartSector + m_llSectorCount);
        if (m_DevicePath.empty()) return m_Carver.InitLogFile(storeName, m_DriveLetter, m_nDiskNo, 512, end);
        return m_Carver.InitLogFile(storeName, m_DriveLetter, &m_DevicePath[0], 512, end);
    }
    int OfferSector(const DeepSector& s, uint64_t& used, uint64_t& findFileCount) override {
        used = 1;
        int rc = m_Carver.ParseFileBuf(const_cast<unsigned char*>(s.data), 512, s.absolute, s.scanned, s.total,
                                       s.remainingSeconds, s.reader, 512, used, findFileCount);
        if (rc == RECOVERY_STOPPED) return rc;
        if (used == 0) used = 1;
        return 1;
    }
    int EndDeepPass() override {
        unsigned count = 0;
        return m_Carver.GetChildrenFileCount(nullptr, 0, count); // flushes the store
    }
    bool OwnsRecordType(uint32_t type) const override { return type == FS_TYPE_FILE_TYPE; }

    int InitCallBack(ScanCallBack scanCb, RecoveryCallBack recoveryCb, void* pParam, int nPercent) override {
        return m_Carver.InitCallBack(scanCb, recoveryCb, pParam, nPercent);
    }
    int ScanDevice(wchar_t*) override { return 0; }
    int GetChildrenFileNode(_FILE_NODE_* parent, unsigned group, std::vector<_FILE_NODE_>& out) override {
        return m_Carver.GetChildrenFileNode(parent, group, out);
    }
    int GetChildrenFileCount(_FILE_NODE_* parent, unsigned group, unsigned& count) override {
        return m_Carver.GetChildrenFileCount(parent, group, count);
    }
    int GetLostFileCount() override { return m_Carver.GetLostFileCount(); }
    int GetFileNodeParentDirPath(_FILE_NODE_*, wchar_t*, int) override { return 0; }
    int SaveFileData(_FILE_NODE_* node, wchar_t* targetPath, int dirIndex) override {
        return m_Carver.SaveFileData(node, targetPath, dirIndex);
    }
    int GetUnUsedSectorCount(uint64_t&, uint64_t&) override { return 0; }
    int InitSearchCallBack(SearchCallBack cb, void* pParam) override { return m_Carver.InitSearchCallBack(cb, pParam); }
    int SearchFileNode(wchar_t* key, std::vector<__SEARCH_FILE_INFO__>& out) override {
        return m_Carver.SearchFileNode(key, out);
    }
    int BuildBitMapInfo() override { return 0; }
    int PreView(_FILE_NODE_* node, wchar_t* tmpPath, unsigned char* buf, int& len, PreViewCallBack cb,
                void* pParam) override {
        return m_Carver.PreView(node, tmpPath, buf, len, cb, pParam);
    }

private:
    CFileTypeRecovery m_Carver;
    int m_nDiskNo = 0;
    long long m_llStartSector = 0;
    long long m_llSectorCount = 0;
    wchar_t m_DriveLetter = L'C';
    std::wstring m_DevicePath;
};
} // namespace

std::vector<std::unique_ptr<IDeepEngine>> NewDeepEngines() {
    std::vector<std::unique_ptr<IDeepEngine>> engines;
    engines.emplace_back(new CProfessionalNtfsRecovery());
    engines.emplace_back(new CProfessionalExfatRecovery());
    engines.emplace_back(new CProfessionalFatRecovery());
    engines.emplace_back(new CProfessionalExtRecovery());
    engines.emplace_back(new CarverDeepEngine());  // last: takes what nobody claimed
    return engines;
}
