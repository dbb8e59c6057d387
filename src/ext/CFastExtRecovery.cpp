#include "ext/CFastExtRecovery.h"

#include "carving/CFileTypeJudge.h"
#include "engine/CLogFileManager.h"
#include "engine/CScanResultFileManager.h"
#include "platform/DeviceMap.h"
#include "platform/Log.h"
#include "platform/Portability.h"
#include "platform/TextCodec.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {
constexpr long kReportIntervalMs = 5000;
constexpr uint64_t kMaxDirBlocks = 1u << 16;     // a folder of more blocks is not believed
constexpr uint64_t kMaxJournalBytes = 1ull << 30;
constexpr uint64_t kUnixToFileTime = 11644473600ull;
// A name left in a folder block's slack may be much older than the inode's
// last use; a journal copy's name dates from its transaction: the newest wins.
constexpr uint64_t kOnDiskRank = 0;

uint64_t FileTime(uint32_t unixSeconds) {
    return unixSeconds ? (uint64_t(unixSeconds) + kUnixToFileTime) * 10000000ull : 0;
}

// A map block that deletion emptied: an extent node without entries, or a
// pointer block whose first pointer was cleared.
bool LooksEmptied(const std::vector<uint8_t>& b) {
    ByteView v(b.data(), b.size());
    if (v.le16(0) == kExtExtentMagic) return v.le16(2) == 0;
    return v.le32(0) == 0;
}
} // namespace

CFastExtRecovery::CFastExtRecovery() = default;

CFastExtRecovery::~CFastExtRecovery() { m_pScanResult.reset(); }

int CFastExtRecovery::Init(int diskNo, long long startSector, long long sectorCount, wchar_t driveLetter) {
    m_u64StartSector = uint64_t(startSector);
    m_u64SectorCount = uint64_t(sectorCount);
    m_nDriveLetter = uint32_t(driveLetter);
    int rc = m_DiskReader.Init(diskNo, m_u64StartSector + m_u64SectorCount);
    if (rc != 0) return rc;
    return OpenGeometry(m_u64SectorCount * 512);
}

int CFastExtRecovery::Init(wchar_t* devicePath, wchar_t driveLetter) {
    if (!devicePath) return 87;
    std::string path = WideToUtf8(devicePath);
    uint64_t bytes = 0;
    if (int rc = GetDeviceSize(path, bytes)) return rc;
    m_u64StartSector = 0;
    m_u64SectorCount = bytes / 512;
    m_nDriveLetter = uint32_t(driveLetter);
    int rc = m_DiskReader.Init(devicePath, m_u64SectorCount);
    if (rc != 0) return rc;
    return OpenGeometry(bytes);
}

bool CFastExtRecovery::ReadBlocks(uint64_t block, uint32_t count, std::vector<uint8_t>& out) {
    const uint32_t spb = m_Sb.nBlockSize / 512;
    out.assign(size_t(count) * m_Sb.nBlockSize, 0);
    if (block >= m_Sb.u64BlockCount) return false;
    unsigned got = 0;
    m_DiskReader.ReadData(out.data(), int(count * spb), (long long)(m_u64StartSector + block * spb), 512, &got);
    return got == count * spb;
}

int CFastExtRecovery::OpenGeometry(uint64_t volumeBytes) {
    m_bGeometryValid = false;
    std::vector<uint64_t> offsets{kExtSuperblockOffset};
    for (uint64_t off : ExtBackupSuperblockOffsets(volumeBytes)) offsets.push_back(off);
    unsigned char buf[1024];
    for (uint64_t off : offsets) {
        unsigned got = 0;
        m_DiskReader.ReadData(buf, 2, (long long)(m_u64StartSector + off / 512), 512, &got);
        EXT_SUPERBLOCK sb;
        if (got != 2 || !ParseExtSuperblock(ByteView(buf, sizeof buf), sb)) continue;
        // A backup must stand where its own geometry puts its group.
        if (off != kExtSuperblockOffset) {
            const uint64_t at = (uint64_t(sb.nFirstDataBlock) + uint64_t(sb.nBlockGroupNr) * sb.nBlocksPerGroup) *
                                sb.nBlockSize;
            if (sb.nBlockGroupNr == 0 || at != off) continue;
            OrvaleLog("ext: primary superblock unusable, backup of group %u used\n", sb.nBlockGroupNr);
        }
        m_Sb = sb;
        m_u64SbOffset = off;
        if (LoadGroups()) {
            m_bGeometryValid = true;
            return 0;
        }
    }
    OrvaleLog("ext: no usable superblock and group descriptors\n");
    return 87;
}

bool CFastExtRecovery::LoadGroups() {
    const uint32_t perBlock = m_Sb.nBlockSize / m_Sb.nDescSize;
    m_Groups.assign(m_Sb.nGroupCount, EXT_GROUP_DESC());
    m_GroupSound.assign(m_Sb.nGroupCount, false);
    // The table after a backup superblock stands in for the primary one.
    const uint64_t backupTable = m_u64SbOffset == kExtSuperblockOffset
                                     ? uint64_t(m_Sb.nFirstDataBlock) + m_Sb.nBlocksPerGroup + 1
                                     : m_u64SbOffset / m_Sb.nBlockSize + 1;
    std::vector<uint8_t> block, spare;
    uint64_t cached = ~0ull, spareCached = ~0ull;
    uint32_t sound = 0;
    for (uint32_t g = 0; g < m_Sb.nGroupCount; ++g) {
        const size_t off = size_t(g % perBlock) * m_Sb.nDescSize;
        const uint64_t primary = ExtDescriptorBlock(m_Sb, g);
        bool ok = false;
        if (m_u64SbOffset == kExtSuperblockOffset) {
            if (primary != cached) {
                if (!ReadBlocks(primary, 1, block)) block.clear();
                cached = primary;
            }
            ok = !block.empty() && ParseExtGroupDesc(ByteView(block.data(), block.size()).from(off), m_Sb, m_Groups[g]);
        }
        if (!ok && !(m_Sb.HasMetaBg() && g / perBlock >= m_Sb.nFirstMetaBg)) {
            const uint64_t b = backupTable + g / perBlock;
            if (b != spareCached) {
                if (!ReadBlocks(b, 1, spare)) spare.clear();
                spareCached = b;
            }
            ok = !spare.empty() && ParseExtGroupDesc(ByteView(spare.data(), spare.size()).from(off), m_Sb, m_Groups[g]);
        }
        m_GroupSound[g] = ok;
        if (ok) ++sound;
    }
    // Without group 0 there is no root folder to start from.
    return sound > 0 && m_GroupSound[0];
}

bool CFastExtRecovery::InodeLocation(uint32_t ino, uint64_t& block, uint32_t& offsetInBlock) const {
    if (ino == 0 || ino > m_Sb.nInodeCount) return false;
    const uint32_t g = (ino - 1) / m_Sb.nInodesPerGroup;
    if (g >= m_Groups.size() || !m_GroupSound[g]) return false;
    const uint64_t byte = uint64_t((ino - 1) % m_Sb.nInodesPerGroup) * m_Sb.nInodeSize;
    block = m_Groups[g].u64InodeTable + byte / m_Sb.nBlockSize;
    offsetInBlock = uint32_t(byte % m_Sb.nBlockSize);
    return true;
}

bool CFastExtRecovery::ReadInode(uint32_t ino, InodeSource& src) {
    uint64_t block = 0;
    uint32_t off = 0;
    if (!InodeLocation(ino, block, off)) return false;
    unsigned char sector[512];
    const uint64_t abs = m_u64StartSector + block * (m_Sb.nBlockSize / 512) + off / 512;
    unsigned got = 0;
    m_DiskReader.ReadData(sector, 1, (long long)abs, 512, &got);
    if (got != 1 || !ParseExtInode(ByteView(sector + off % 512, 512 - off % 512), src.inode)) return false;
    src.u64Sector = abs;
    src.nOffset = off % 512;
    return true;
}

uint64_t CFastExtRecovery::JournalCopySector(const JBD2_COPY& c) const {
    if (c.nJournalBlock >= m_JournalDiskBlocks.size()) return 0;
    return m_u64StartSector + m_JournalDiskBlocks[c.nJournalBlock] * (m_Sb.nBlockSize / 512);
}

void CFastExtRecovery::LoadJournal() {
    if (m_bJournalLoaded) return;
    m_bJournalLoaded = true;
    if (!m_bGeometryValid || !m_Sb.HasJournal() || m_Sb.nJournalInode == 0) return;
    InodeSource j;
    if (!ReadInode(m_Sb.nJournalInode, j) || j.inode.u64Size == 0) return;
    const uint64_t bytes = std::min<uint64_t>(j.inode.u64Size, kMaxJournalBytes);
    const uint64_t blocks = bytes / m_Sb.nBlockSize;
    std::vector<EXT_RUN> runs;
    ExtBlockFetch fetch = [this](uint64_t b, std::vector<uint8_t>& out) { return ReadBlocks(b, 1, out); };
    if (BuildExtBlockRuns(j.inode, m_Sb, blocks, fetch, runs) == 0) return;
    std::vector<uint64_t> disk;
    disk.reserve(blocks);
    for (const EXT_RUN& r : runs)
        for (uint64_t i = 0; i < r.u64Length; ++i) disk.push_back(r.u64Physical ? r.u64Physical + i : 0);
    std::vector<uint8_t> journal(disk.size() * m_Sb.nBlockSize, 0);
    std::vector<uint8_t> chunk;
    for (const EXT_RUN& r : runs) {
        if (!r.u64Physical) continue;
        for (uint64_t done = 0; done < r.u64Length;) {
            const uint32_t n = uint32_t(std::min<uint64_t>(r.u64Length - done, 256));
            if (ReadBlocks(r.u64Physical + done, n, chunk))
                std::memcpy(journal.data() + (r.u64Logical + done) * m_Sb.nBlockSize, chunk.data(), chunk.size());
            done += n;
        }
    }
    if (!ParseJbd2Superblock(ByteView(journal.data(), journal.size()), m_Jsb) || m_Jsb.nBlockSize != m_Sb.nBlockSize) {
        OrvaleLog("ext: journal superblock unusable; deleted files are looked for without it\n");
        return;
    }
    std::vector<JBD2_COPY> copies;
    WalkJbd2Journal(ByteView(journal.data(), journal.size()), m_Jsb, m_Sb.u64BlockCount, copies);
    m_JournalDiskBlocks = std::move(disk);
    for (const JBD2_COPY& c : copies)
        if (c.nJournalBlock < m_JournalDiskBlocks.size() && m_JournalDiskBlocks[c.nJournalBlock] != 0)
            m_JournalCopies[c.u64FsBlock].push_back(c);
    for (auto& entry : m_JournalCopies)
        std::stable_sort(entry.second.begin(), entry.second.end(),
                         [](const JBD2_COPY& a, const JBD2_COPY& b) { return int32_t(a.nSequence - b.nSequence) > 0; });
}

bool CFastExtRecovery::JournalInode(uint32_t ino, InodeSource& src) {
    LoadJournal();
    uint64_t block = 0;
    uint32_t off = 0;
    if (!InodeLocation(ino, block, off)) return false;
    auto it = m_JournalCopies.find(block);
    if (it == m_JournalCopies.end()) return false;
    unsigned char sector[512];
    for (const JBD2_COPY& c : it->second) {
        const uint64_t abs = JournalCopySector(c) + off / 512;
        unsigned got = 0;
        m_DiskReader.ReadData(sector, 1, (long long)abs, 512, &got);
        if (got != 1) continue;
        if (c.bEscaped && off < 4) {
            const uint32_t magic = kJbd2Magic;
            for (int i = 0; i < 4; ++i) sector[i] = uint8_t(magic >> (24 - 8 * i));
        }
        EXT_INODE n;
        if (!ParseExtInode(ByteView(sector + off % 512, 512 - off % 512), n)) continue;
        if (!InodeInUse(n) || !(n.IsRegular() || n.IsDir()) || !ExtInodeHasMap(n, m_Sb)) continue;
        src.inode = n;
        src.u64Sector = abs;
        src.nOffset = off % 512;
        return true;
    }
    return false;
}

bool CFastExtRecovery::FetchMapBlock(uint64_t block, std::vector<uint8_t>& out) {
    if (ReadBlocks(block, 1, out) && !LooksEmptied(out)) return true;
    LoadJournal();
    auto it = m_JournalCopies.find(block);
    if (it == m_JournalCopies.end()) return !out.empty();
    std::vector<uint8_t> copy(m_Sb.nBlockSize);
    for (const JBD2_COPY& c : it->second) {
        unsigned got = 0;
        m_DiskReader.ReadData(copy.data(), int(m_Sb.nBlockSize / 512), (long long)JournalCopySector(c), 512, &got);
        if (got != m_Sb.nBlockSize / 512 || LooksEmptied(copy)) continue;
        out = copy;
        return true;
    }
    return !out.empty();
}

int CFastExtRecovery::InitCallBack(ScanCallBack scanCb, RecoveryCallBack recoveryCb, void* pParam, int nPercent) {
    m_pScanCallBack = scanCb;
    m_pRecoveryCallBack = recoveryCb;
    m_pParam = pParam;
    m_nPercent = nPercent;
    return 0;
}

int CFastExtRecovery::InitSearchCallBack(SearchCallBack cb, void* pParam) {
    m_pSearchCallBack = cb;
    m_pSearchParam = pParam;
    if (m_pScanResult) m_pScanResult->InitSearchCallBack(cb, pParam);
    return 0;
}

int CFastExtRecovery::Report(int progress, int remaindSecond) {
    if (!m_pScanCallBack) return 0;
    return m_pScanCallBack(m_pParam, progress, m_nPercent, remaindSecond, 0, 0, 0, nullptr);
}

int CFastExtRecovery::ScanDevice(wchar_t* resultName) {
    m_DirParent.clear();
    m_DirName.clear();
    m_DeletedDirs.clear();
    m_WalkedDirs.clear();
    m_DirQueue = std::queue<uint32_t>();
    m_Candidates.clear();
    m_BlockOwner.clear();
    m_LiveInodes.clear();
    m_DepthCache.clear();
    m_FoundDirs.clear();
    m_FoundDirSet.clear();
    m_DirSources.clear();
    m_pScanResult.reset(new CScanResultFileManager());
    m_pScanResult->InitSearchCallBack(m_pSearchCallBack, m_pSearchParam);
    if (resultName) return m_pScanResult->Init(resultName);
    if (!m_bGeometryValid) return 87;

    SYSTEMTIME st;
    std::memset(&st, 0, sizeof st);
    rsb_getSystemTime(&st);
    char name[128];
    std::snprintf(name, sizeof name, "Fast_%lld_%d%d%d%d%2d", (long long)m_u64StartSector, st.wYear, st.wMonth, st.wDay,
                  st.wHour, st.wMinute);
    // A fresh scan starts a fresh store, never appended to one of the same minute.
    char logDir[256] = {0};
    CLogFileManager::GetInstance()->GetLogFileDirPath(logDir);
    for (const char* suffix : {"", "_Relation", "_DirInfo"}) ::unlink((std::string(logDir) + name + suffix).c_str());
    std::wstring wideName = Ansi2Unicode(name);
    int rc = m_pScanResult->Init(wideName.c_str());
    if (rc != 0) return rc;
    if (!m_bBitMapValid) BuildBitMapInfo();

    int result = Report(1, -1);
    LoadJournal();
    m_DirQueue.push(kExtRootInode);
    long lastReport = rsb_getTickCount();
    int step = 2;
    while (result == 0 && !m_DirQueue.empty()) {
        const uint32_t dir = m_DirQueue.front();
        m_DirQueue.pop();
        if (!m_WalkedDirs.insert(dir).second) continue;
        const bool deleted = m_DeletedDirs.count(dir) != 0;
        InodeSource src;
        auto known = m_DirSources.find(dir);
        if (known != m_DirSources.end()) src = known->second;
        else if (!ReadInode(dir, src)) continue; // an unreadable folder costs only itself
        if (!src.inode.IsDir()) continue;
        WalkFolder(dir, src.inode, deleted);
        const long now = rsb_getTickCount();
        if (now - lastReport >= kReportIntervalMs) {
            lastReport = now;
            result = Report(std::min(step++, 79), -1);
        }
    }
    if (result == 0) result = Report(80, 10);
    if (result == 0) RecordCandidates();
    m_pScanResult->FlushBufToFile();
    if (result == 0) result = Report(100, 0);
    return result;
}

void CFastExtRecovery::WalkFolder(uint32_t dirIno, const EXT_INODE& dir, bool dirDeleted) {
    if (dir.HasInlineData()) return; // tiny folders inside the inode hold no slack worth reading
    const uint64_t blocks = std::min<uint64_t>((dir.u64Size + m_Sb.nBlockSize - 1) / m_Sb.nBlockSize, kMaxDirBlocks);
    std::vector<EXT_RUN> runs;
    ExtBlockFetch fetch = [this](uint64_t b, std::vector<uint8_t>& out) { return FetchMapBlock(b, out); };
    BuildExtBlockRuns(dir, m_Sb, blocks, fetch, runs);
    std::vector<uint8_t> buf, copy(m_Sb.nBlockSize);
    std::vector<EXT_DIR_ENTRY> entries;
    for (const EXT_RUN& r : runs) {
        if (!r.u64Physical) continue;
        for (uint64_t i = 0; i < r.u64Length; ++i) {
            const uint64_t b = r.u64Physical + i;
            if (m_BlockOwner.count(b)) continue; // a block claimed twice is read once
            m_BlockOwner[b] = dirIno;
            entries.clear();
            if (ReadBlocks(b, 1, buf)) ParseExtDirBlock(ByteView(buf.data(), buf.size()), m_Sb, true, entries);
            TakeEntries(dirIno, entries, dirDeleted, kOnDiskRank);
            // Older states of this block in the journal name files since removed from it.
            auto it = m_JournalCopies.find(b);
            if (it == m_JournalCopies.end()) continue;
            for (const JBD2_COPY& c : it->second) {
                unsigned got = 0;
                m_DiskReader.ReadData(copy.data(), int(m_Sb.nBlockSize / 512), (long long)JournalCopySector(c), 512,
                                      &got);
                if (got != m_Sb.nBlockSize / 512) continue;
                if (c.bEscaped) {
                    for (int k = 0; k < 4; ++k) copy[k] = uint8_t(kJbd2Magic >> (24 - 8 * k));
                }
                entries.clear();
                ParseExtDirBlock(ByteView(copy.data(), copy.size()), m_Sb, true, entries);
                TakeEntries(dirIno, entries, true, uint64_t(c.nSequence) + 1);
            }
        }
    }
}

void CFastExtRecovery::TakeEntries(uint32_t dirIno, const std::vector<EXT_DIR_ENTRY>& entries, bool dirDeleted,
                                   uint64_t rank) {
    for (const EXT_DIR_ENTRY& e : entries) {
        if (e.nInode == dirIno || e.nInode == kExtRootInode) continue;
        const bool live = !e.bDeleted && !dirDeleted;
        if (live) {
            m_LiveInodes.insert(e.nInode);
            m_Candidates.erase(e.nInode);
            if (e.nFileType == 2 || (e.nFileType == 0 && !m_Sb.HasFileType())) {
                if (m_DirParent.count(e.nInode) && !m_DeletedDirs.count(e.nInode)) continue;
                m_DirParent[e.nInode] = dirIno;
                m_DirName[e.nInode] = e.strName;
                m_DeletedDirs.erase(e.nInode);
                m_DirSources.erase(e.nInode);
                m_DirQueue.push(e.nInode);
            }
            continue;
        }
        if (m_LiveInodes.count(e.nInode)) continue;
        // An inode number is reused: the newest name belongs to the newest inode copy.
        auto known = m_Candidates.find(e.nInode);
        if (known != m_Candidates.end() && known->second.u64Rank >= rank) continue;
        Candidate c;
        c.nInode = e.nInode;
        c.nParent = dirIno;
        c.strName = e.strName;
        c.bDir = e.nFileType == 2;
        c.u64Rank = rank;
        if (c.bDir) {
            if (m_DirParent.count(e.nInode)) continue;
            // A deleted folder is walked along the inode it had before deletion.
            InodeSource cur, old;
            if (!ReadInode(e.nInode, cur) || InodeInUse(cur.inode)) continue;
            const bool haveMap = cur.inode.IsDir() && ExtInodeHasMap(cur.inode, m_Sb);
            if (!haveMap && !JournalInode(e.nInode, old)) continue;
            const InodeSource& src = haveMap ? cur : old;
            if (!src.inode.IsDir()) continue;
            m_DirParent[e.nInode] = dirIno;
            m_DirName[e.nInode] = e.strName;
            m_DeletedDirs.insert(e.nInode);
            m_DirSources[e.nInode] = src;
            m_DirQueue.push(e.nInode);
            continue;
        }
        m_Candidates[e.nInode] = c;
    }
}

unsigned CFastExtRecovery::Depth(uint32_t dir) {
    unsigned depth = 0;
    std::vector<uint32_t> path;
    uint32_t d = dir;
    std::set<uint32_t> seen;
    while (d != kExtRootInode) {
        auto cached = m_DepthCache.find(d);
        if (cached != m_DepthCache.end()) {
            depth = cached->second;
            break;
        }
        auto it = m_DirParent.find(d);
        if (it == m_DirParent.end() || !seen.insert(d).second) break;
        path.push_back(d);
        d = it->second;
    }
    for (auto it = path.rbegin(); it != path.rend(); ++it) m_DepthCache[*it] = ++depth;
    auto cached = m_DepthCache.find(dir);
    return cached != m_DepthCache.end() ? cached->second : depth;
}

void CFastExtRecovery::MarkFolderChain(uint32_t dir) {
    uint32_t d = dir;
    for (size_t steps = 0; steps <= m_DirParent.size() && d != kExtRootInode; ++steps) {
        if (!m_FoundDirSet.insert(d).second) return;
        m_FoundDirs.push_back(d);
        auto it = m_DirParent.find(d);
        if (it == m_DirParent.end()) return;
        d = it->second;
    }
}

void CFastExtRecovery::FillNode(_FILE_NODE_& node, uint32_t ino, const InodeSource& src, const std::string& name,
                                bool dir) const {
    std::memset(&node, 0, sizeof node);
    node.nDriveLetter = m_nDriveLetter;
    node.nFileSystemType = FS_TYPE_FAST_EXT;
    node.bIsDir = dir ? 1 : 0;
    node.nClusterNO = ino;
    node.nClusterBytes = m_Sb.nBlockSize;
    node.u64CreateTime = FileTime(src.inode.nCtime);
    node.u64AccessTime = FileTime(src.inode.nAtime);
    node.u64ModifyTime = FileTime(src.inode.nMtime);
    node.u64FileSize = dir ? 0 : src.inode.u64Size;
    node.u64DataStartSector = src.nOffset;  // where the inode starts inside its sector
    node.u64RecordSector = src.u64Sector;
    node.u64PartitionStartSector = m_u64StartSector;
    std::snprintf(node.szFileName, sizeof node.szFileName, "%s", name.c_str());
}

bool CFastExtRecovery::JudgeHealth(const _FILE_NODE_& node) {
    if (node.u64FileSize == 0) return false;
    std::vector<EXT_RUN> runs;
    uint64_t blocks = 0;
    if (MapNode(&node, runs, blocks) != 0) return false;
    if (!m_bBitMapValid) return true;
    // Data a live file now owns was overwritten.
    for (const EXT_RUN& r : runs)
        for (uint64_t i = 0; r.u64Physical && i < r.u64Length; ++i)
            if (IsBlockInUse(r.u64Physical + i)) return false;
    return true;
}

// A file no name leads to is named after its inode; its kind comes from its first block.
std::string CFastExtRecovery::OrphanExtension(const InodeSource& src) {
    _FILE_NODE_ probe;
    FillNode(probe, 0, src, "", false);
    std::vector<EXT_RUN> runs;
    uint64_t blocks = 0;
    std::vector<uint8_t> head;
    MapNode(&probe, runs, blocks);
    if (runs.empty() || runs[0].u64Physical == 0 || !ReadBlocks(runs[0].u64Physical, 1, head)) return "";
    int row = -1;
    if (CFileTypeJudge::RecogniseFileStart(head.data(), int(head.size()), &row) == TYPE_UNKNOWN || row < 0) return "";
    return std::string(".") + CFileTypeJudge::szExtendNameAndType[row].szExtendName;
}

void CFastExtRecovery::RecordCandidates() {
    // Inodes of old inode-table copies that no name leads to still hold files.
    std::map<uint32_t, Candidate> all = m_Candidates;
    const uint32_t perBlock = m_Sb.nBlockSize / m_Sb.nInodeSize;
    const uint64_t tableBlocks = (uint64_t(m_Sb.nInodesPerGroup) * m_Sb.nInodeSize + m_Sb.nBlockSize - 1) / m_Sb.nBlockSize;
    for (uint32_t g = 0; g < m_Groups.size(); ++g) {
        if (!m_GroupSound[g]) continue;
        for (uint64_t b = 0; b < tableBlocks; ++b) {
            if (!m_JournalCopies.count(m_Groups[g].u64InodeTable + b)) continue;
            for (uint32_t k = 0; k < perBlock; ++k) {
                const uint64_t ino = uint64_t(g) * m_Sb.nInodesPerGroup + b * perBlock + k + 1;
                if (ino > m_Sb.nInodeCount || ino < 11) continue;
                if (all.count(uint32_t(ino)) || m_LiveInodes.count(uint32_t(ino)) || m_DirParent.count(uint32_t(ino)))
                    continue;
                Candidate c;
                c.nInode = uint32_t(ino);
                c.nParent = kExtRootInode;
                c.strName = "inode_" + std::to_string(ino);
                all[c.nInode] = c;
            }
        }
    }
    for (auto& entry : all) {
        const Candidate& c = entry.second;
        InodeSource cur, src;
        if (!ReadInode(c.nInode, cur) || InodeInUse(cur.inode)) continue; // the number now names another file
        const bool named = m_Candidates.count(c.nInode) != 0;
        if (cur.inode.IsRegular() && ExtInodeHasMap(cur.inode, m_Sb) && cur.inode.u64Size > 0) src = cur;
        else if (JournalInode(c.nInode, src)) {
            if (!src.inode.IsRegular()) continue;
        } else if (named && !cur.inode.IsDir()) src = cur; // the name alone is still worth showing
        else continue;
        _FILE_NODE_ node;
        FillNode(node, c.nInode, src, named ? c.strName : c.strName + OrphanExtension(src), false);
        node.bIsHealth = JudgeHealth(node) ? 1 : 0;
        if (!ExtInodeHasMap(src.inode, m_Sb)) node.nReserved = kNameOnly;
        unsigned char* slot = m_pScanResult->CreateFileNode(sizeof(_FILE_NODE_));
        if (!slot) continue;
        node.nFileIndex = m_pScanResult->GetFileIndex();
        m_pScanResult->AddChildren(c.nParent, Depth(c.nParent), node.nFileIndex, node.nClusterNO, nullptr);
        std::memcpy(slot, &node, sizeof node);
        if (c.nParent != kExtRootInode) MarkFolderChain(c.nParent);
    }
    for (uint32_t d : m_FoundDirs) {
        InodeSource src;
        auto known = m_DirSources.find(d);
        if (known != m_DirSources.end()) src = known->second;
        else if (!ReadInode(d, src)) continue;
        const uint32_t parent = m_DirParent.count(d) ? m_DirParent[d] : kExtRootInode;
        _FILE_NODE_ node;
        FillNode(node, d, src, m_DirName[d], true);
        node.nReserved = m_DeletedDirs.count(d) ? 1 : 0;
        node.bIsHealth = 1;
        unsigned char* slot = m_pScanResult->CreateFileNode(sizeof(_FILE_NODE_));
        if (!slot) continue;
        node.nFileIndex = m_pScanResult->GetFileIndex();
        m_pScanResult->AddChildren(parent, Depth(parent), node.nFileIndex, d, node.szFileName);
        std::memcpy(slot, &node, sizeof node);
    }
}

int CFastExtRecovery::GetChildrenFileNode(_FILE_NODE_* parent, unsigned depth, std::vector<_FILE_NODE_>& out) {
    if (!parent && depth != 0) return 87;
    if (!m_pScanResult) return 0;
    const uint32_t key = parent && parent->nClusterNO ? parent->nClusterNO : kExtRootInode;
    m_pScanResult->FlushBufToFile();
    return m_pScanResult->GetChildrenFileNode((uint64_t(depth) << 32) | key, out);
}

int CFastExtRecovery::GetChildrenFileCount(_FILE_NODE_* parent, unsigned depth, unsigned& count) {
    if (!parent && depth != 0) return 87;
    if (!m_pScanResult) return 0;
    const uint32_t key = parent && parent->nClusterNO ? parent->nClusterNO : kExtRootInode;
    m_pScanResult->FlushBufToFile();
    return m_pScanResult->GetChildrenFileCount((uint64_t(depth) << 32) | key, count);
}

int CFastExtRecovery::GetLostFileCount() { return m_pScanResult ? int(m_pScanResult->GetFileIndex()) : 0; }

int CFastExtRecovery::GetFileNodeParentDirPath(_FILE_NODE_* node, wchar_t* path, int size) {
    if (!m_pScanResult) return 87;
    return m_pScanResult->GetParentDirPath(node, path, size);
}

int CFastExtRecovery::SearchFileNode(wchar_t* key, std::vector<__SEARCH_FILE_INFO__>& out) {
    if (!m_pScanResult) return 0;
    return m_pScanResult->SearchFileNodeInfo(key, out);
}
