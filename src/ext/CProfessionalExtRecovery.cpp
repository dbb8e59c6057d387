#include "ext/CProfessionalExtRecovery.h"

#include "carving/CFileTypeJudge.h"
#include "engine/CScanResultFileManager.h"
#include "platform/CDiskReader.h"
#include "platform/DeviceMap.h"
#include "platform/Portability.h"
#include "platform/TextCodec.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr uint64_t kMaxRebuiltBytes = 1ull << 30; // larger rebuilt files keep their whole-block length
constexpr uint64_t kMaxBlocksPerFile = 1ull << 31;
// Pointer-shaped blocks kept for the end of the pass (at most a few MiB); plenty for real upper levels.
constexpr size_t kMaxUpperCandidates = 1u << 18;
} // namespace

CProfessionalExtRecovery::CProfessionalExtRecovery() = default;
CProfessionalExtRecovery::~CProfessionalExtRecovery() = default;

int CProfessionalExtRecovery::Init(int diskNo, long long startSector, long long sectorCount, wchar_t driveLetter) {
    m_u64StartSector = uint64_t(startSector);
    m_nDriveLetter = uint32_t(driveLetter);
    // An area without an ext superblock simply gives this engine nothing to take.
    m_bOpen = m_Volume.Init(diskNo, startSector, sectorCount, driveLetter) == 0;
    return 0;
}

int CProfessionalExtRecovery::Init(wchar_t* devicePath, wchar_t driveLetter) {
    m_u64StartSector = 0;
    m_nDriveLetter = uint32_t(driveLetter);
    m_bOpen = m_Volume.Init(devicePath, driveLetter) == 0;
    return 0;
}

int CProfessionalExtRecovery::InitCallBack(ScanCallBack scanCb, RecoveryCallBack recoveryCb, void* pParam, int nPercent) {
    return m_Volume.InitCallBack(scanCb, recoveryCb, pParam, nPercent);
}

int CProfessionalExtRecovery::InitSearchCallBack(SearchCallBack cb, void* pParam) {
    m_pSearchCallBack = cb;
    m_pSearchParam = pParam;
    if (m_pScanResult) m_pScanResult->InitSearchCallBack(cb, pParam);
    return 0;
}

int CProfessionalExtRecovery::BeginDeepPass(wchar_t* storeName) {
    m_PointerBlocks.clear();
    m_ExtentNodes.clear();
    m_UpperCandidates.clear();
    m_pScanResult.reset(new CScanResultFileManager());
    m_pScanResult->InitSearchCallBack(m_pSearchCallBack, m_pSearchParam);
    // The bitmaps say what is free on a resumed pass too: the linker walks over free blocks only.
    if (m_bOpen) m_Volume.BuildBitMapInfo();
    if (storeName && storeName[0]) return m_pScanResult->Init(storeName);
    SYSTEMTIME t{};
    rsb_getLocalTime(&t);
    char name[128];
    std::snprintf(name, sizeof name, "Pro_Ext_%lld_%d%d%d%d%2d", static_cast<long long>(m_u64StartSector), t.wYear,
                  t.wMonth, t.wDay, t.wHour, t.wMinute);
    std::wstring wide = Ansi2Unicode(name);
    return m_pScanResult->Init(wide.c_str());
}

int CProfessionalExtRecovery::OfferSector(const DeepSector& s, uint64_t& used, uint64_t&) {
    used = 1;
    if (!m_bOpen || s.absolute < m_u64StartSector) return 0;
    const EXT_SUPERBLOCK& sb = m_Volume.Superblock();
    const uint64_t spb = sb.nBlockSize / 512;
    const uint64_t rel = s.absolute - m_u64StartSector;
    if (rel % spb != 0) return 0;
    const uint64_t block = rel / spb;
    if (block >= sb.u64BlockCount || m_Volume.IsBlockInUse(block)) return 0;
    // Cheap first look: an extent header, or a first pointer inside the volume.
    ByteView head(s.data, 512);
    const uint32_t first = head.le32(0);
    const bool extent = head.le16(0) == kExtExtentMagic;
    if (!extent && (first <= sb.nFirstDataBlock || first >= sb.u64BlockCount)) return 0;
    std::vector<uint8_t> whole;
    ByteView v;
    if (s.available >= sb.nBlockSize) {
        v = ByteView(s.data, sb.nBlockSize);
    } else {
        if (!m_Volume.ReadBlocks(block, 1, whole)) return 0;
        v = ByteView(whole.data(), whole.size());
    }
    if (extent) {
        EXT_EXTENT_NODE node;
        if (!ParseExtExtentNode(v, sb.u64BlockCount, node) || (node.Leaves.empty() && node.Children.empty())) return 0;
        m_ExtentNodes[block] = std::move(node);
    } else {
        const uint32_t n = RecogniseExtIndirectBlock(v, sb.u64BlockCount, sb.nFirstDataBlock, block);
        if (n == 0) {
            // Pointer-shaped but not a run forward, or one pointer alone: kept in case
            // every block it names proves to be a pointer block (a double or triple one).
            const uint32_t upper = ExtPointerEntryCount(v, sb.u64BlockCount, sb.nFirstDataBlock);
            if (upper == 0 || m_UpperCandidates.size() >= kMaxUpperCandidates) return 0;
            std::vector<uint32_t>& entries = m_UpperCandidates[block];
            for (uint32_t i = 0; i < upper; ++i) entries.push_back(v.le32(size_t(i) * 4));
            return kOfferNoted;
        }
        std::vector<uint32_t> entries(n);
        for (uint32_t i = 0; i < n; ++i) entries[i] = v.le32(size_t(i) * 4);
        m_PointerBlocks[block] = std::move(entries);
    }
    used = spb;
    return 1;
}

int CProfessionalExtRecovery::EndDeepPass() {
    if (!m_pScanResult) return 0;
    if (m_bOpen) {
        std::vector<EXT_LINKED_FILE> files;
        // Double, then triple-indirect blocks: every block they name is a pointer block.
        for (int level = 2; level <= 3; ++level) {
            std::vector<uint64_t> proven;
            for (const auto& c : m_UpperCandidates) {
                bool all = true;
                for (uint32_t b : c.second) all = all && b != c.first && m_PointerBlocks.count(b);
                if (all) proven.push_back(c.first);
            }
            for (uint64_t b : proven) {
                m_PointerBlocks[b] = std::move(m_UpperCandidates[b]);
                m_UpperCandidates.erase(b);
            }
        }
        ExtBlockFree isFree = [this](uint64_t b) { return !m_Volume.IsBlockInUse(b); };
        std::vector<uint8_t> head;
        ExtBlockFree isFileStart = [&](uint64_t b) {
            return m_Volume.ReadBlocks(b, 1, head) &&
                   CFileTypeJudge::RecogniseFileStart(head.data(), int(head.size())) != TYPE_UNKNOWN;
        };
        LinkExtPointerBlocks(m_PointerBlocks, m_Volume.Superblock(), isFree, files, isFileStart);
        LinkExtExtentNodes(m_ExtentNodes, files);
        for (const EXT_LINKED_FILE& f : files) RecordLinked(f);
    }
    return m_pScanResult->FlushBufToFile();
}

bool CProfessionalExtRecovery::WriteRuns(const std::vector<EXT_RUN>& runs, const std::string& path, uint64_t blocks) {
    const uint64_t bs = m_Volume.Superblock().nBlockSize;
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = true;
    std::vector<uint8_t> chunk;
    for (const EXT_RUN& r : runs) {
        if (r.u64Logical >= blocks) break;
        const uint64_t length = std::min(r.u64Length, blocks - r.u64Logical);
        for (uint64_t i = 0; ok && i < length;) {
            const uint32_t n = uint32_t(std::min<uint64_t>(length - i, (1u << 20) / bs));
            if (r.u64Physical) ok = m_Volume.ReadBlocks(r.u64Physical + i, n, chunk);
            else chunk.assign(size_t(n) * bs, 0);
            ok = ok && ::pwrite(fd, chunk.data(), chunk.size(), off_t((r.u64Logical + i) * bs)) == ssize_t(chunk.size());
            i += n;
        }
    }
    ::close(fd);
    return ok;
}

void CProfessionalExtRecovery::RecordLinked(const EXT_LINKED_FILE& f) {
    const EXT_SUPERBLOCK& sb = m_Volume.Superblock();
    const uint64_t bs = sb.nBlockSize;
    _FILE_NODE_ node;
    std::memset(&node, 0, sizeof node);
    node.nDriveLetter = m_nDriveLetter;
    node.nFileSystemType = FS_TYPE_PRO_EXT;
    node.nClusterNO = uint32_t(f.u64MapBlock);
    node.nClusterBytes = uint32_t(bs);
    node.u64RecordSector = m_u64StartSector + f.u64MapBlock * (bs / 512);
    node.u64PartitionStartSector = m_u64StartSector;
    const uint64_t wanted = f.u64Blocks ? f.u64Blocks : kMaxBlocksPerFile;
    node.u64FileSize = wanted * bs;
    StoreExtMapInNode(node, f);
    std::vector<EXT_RUN> runs;
    uint64_t blocks = 0;
    m_Volume.MapNode(&node, runs, blocks);
    uint64_t covered = 0;
    bool overwritten = false;
    for (const EXT_RUN& r : runs) {
        covered = r.u64Logical + r.u64Length;
        for (uint64_t i = 0; r.u64Physical && i < r.u64Length && !overwritten; ++i)
            overwritten = m_Volume.IsBlockInUse(r.u64Physical + i);
    }
    if (covered == 0 || runs[0].u64Physical == 0) return;
    node.u64FileSize = covered * bs;

    // The judge reads the rebuilt bytes from a file of their own, never the
    // disk, where the rest of a fragmented file is not where it continues.
    std::string ext = "bin";
    bool known = false;
    const std::string temp = GetScanLogDirPath() + "ext_rebuilt.tmp";
    // A larger file is judged by its first part only and keeps its whole-block length.
    const bool whole = node.u64FileSize <= kMaxRebuiltBytes;
    const uint64_t judged = whole ? node.u64FileSize : kMaxRebuiltBytes;
    {
        MakeDirectories(GetScanLogDirPath());
        std::wstring wideTemp = Utf8ToWide(temp.c_str());
        CDiskReader reader;
        if (WriteRuns(runs, temp, judged / bs) && reader.Init(wideTemp.c_str(), judged / 512) == 0) {
            std::vector<unsigned char> head(bs);
            unsigned got = 0;
            reader.ReadData(head.data(), int(bs / 512), 0, 512, &got);
            CFileTypeJudge judge;
            char name[256] = {0};
            EXTEND_NAME_TYPE type = TYPE_UNKNOWN;
            uint64_t length = 0;
            if (got == bs / 512 &&
                judge.ParseFileBuf(head.data(), int(bs), 0, 0, judged / 512, -1, 0, &reader, 512, name, type,
                                   length) == 0) {
                const char* dot = std::strrchr(name, '.');
                if (dot && dot[1]) ext = dot + 1;
                known = true;
                if (whole && length > 0 && length <= node.u64FileSize) node.u64FileSize = length;
            }
        }
        ::unlink(temp.c_str());
    }
    std::snprintf(node.szFileName, kExtMapInNameOffset - 1, "ext_%llu.%s", (unsigned long long)f.u64MapBlock,
                  ext.c_str());
    // A map whose first block starts no known kind of file was linked wrongly.
    if (!known) return;
    node.bIsHealth = overwritten ? 0 : 1;
    unsigned char* slot = m_pScanResult->CreateFileNode(sizeof(_FILE_NODE_));
    if (!slot) return;
    node.nFileIndex = m_pScanResult->GetFileIndex();
    m_pScanResult->AddChildren(kExtRootInode, 0, node.nFileIndex, node.nClusterNO, nullptr);
    std::memcpy(slot, &node, sizeof node);
}

int CProfessionalExtRecovery::GetFileDataStartSector(_FILE_NODE_* node, uint64_t& absoluteSector) {
    return m_Volume.GetFileDataStartSector(node, absoluteSector);
}

int CProfessionalExtRecovery::GetChildrenFileNode(_FILE_NODE_* parent, unsigned depth, std::vector<_FILE_NODE_>& out) {
    if (!m_pScanResult || parent) return 0;
    m_pScanResult->FlushBufToFile();
    return m_pScanResult->GetChildrenFileNode((uint64_t(depth) << 32) | kExtRootInode, out);
}

int CProfessionalExtRecovery::GetChildrenFileCount(_FILE_NODE_* parent, unsigned depth, unsigned& count) {
    if (!m_pScanResult || parent) return 0;
    m_pScanResult->FlushBufToFile();
    return m_pScanResult->GetChildrenFileCount((uint64_t(depth) << 32) | kExtRootInode, count);
}

int CProfessionalExtRecovery::GetLostFileCount() { return m_pScanResult ? int(m_pScanResult->GetFileIndex()) : 0; }

int CProfessionalExtRecovery::GetFileNodeParentDirPath(_FILE_NODE_*, wchar_t* path, int size) {
    if (path && size > 0) path[0] = 0;
    return 0;
}

int CProfessionalExtRecovery::SaveFileData(_FILE_NODE_* node, wchar_t* targetPath, int baseDepth) {
    return m_Volume.SaveFileData(node, targetPath, baseDepth);
}

int CProfessionalExtRecovery::SearchFileNode(wchar_t* key, std::vector<__SEARCH_FILE_INFO__>& out) {
    if (!m_pScanResult) return 0;
    return m_pScanResult->SearchFileNodeInfo(key, out);
}

int CProfessionalExtRecovery::PreView(_FILE_NODE_* node, wchar_t* tempPath, unsigned char* buffer, int& length,
                                      PreViewCallBack cb, void* pParam) {
    return m_Volume.PreView(node, tempPath, buffer, length, cb, pParam);
}
