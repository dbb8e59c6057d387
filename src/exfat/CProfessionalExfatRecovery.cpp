#include "exfat/CProfessionalExfatRecovery.h"

#include "carving/CFileTypeJudge.h"
#include "exfat/ExfatGeometryGuess.h"
#include "platform/DeviceMap.h"
#include "platform/Log.h"
#include "platform/PathHelpers.h"
#include "platform/TextCodec.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <set>
#include <strings.h>
#include <unordered_map>

namespace {
constexpr uint64_t kBootAreaBytes = 24 * 4096;
constexpr size_t kMaxSetBytes = 19 * EXFAT_ENTRY_BYTES;
constexpr uint64_t kMaxDirBytes = 256ull << 20;
constexpr unsigned kMaxDepth = 1024;
// Lists of found sets past this size stop growing: memory stays bounded on hostile disks.
constexpr size_t kMaxSets = 4u << 20;

bool Zeros(const ByteView& v, size_t from, size_t to) {
    for (size_t i = from; i < to; ++i)
        if (v.u8(i) != 0) return false;
    return !v.bad();
}

// The root's allocation-bitmap entry followed by its up-case table entry, with
// their reserved bytes zero: random data does not look like this.
bool IsRootPair(const ByteView& v, size_t off) {
    const size_t up = off + EXFAT_ENTRY_BYTES;
    return v.u8(off) == EXFAT_TYPE_BITMAP && v.u8(off + 1) <= 1 && Zeros(v, off + 2, off + 20) &&
           v.le32(off + 20) >= 2 && v.le64(off + 24) != 0 && v.u8(up) == EXFAT_TYPE_UPCASE && Zeros(v, up + 1, up + 4) &&
           Zeros(v, up + 8, up + 20) && v.le32(up + 20) >= 2 && v.le64(up + 24) != 0;
}

bool Judgeable(const char* name) {
    char ext[256];
    if (std::strlen(name) >= sizeof ext || GetExtendName(name, ext) != 0) return false;
    for (const EXTEND_NAME_ROW* row = CFileTypeJudge::szExtendNameAndType; row->type != TYPE_UNKNOWN; ++row)
        if (strcasecmp(row->szExtendName, ext) == 0) return true;
    return false;
}
} // namespace

CProfessionalExfatRecovery::CProfessionalExfatRecovery() : m_Results(&m_DiskReader) {}

int CProfessionalExfatRecovery::Init(int diskNo, long long startSector, long long sectorCount, wchar_t driveLetter) {
    if (m_DiskReader.IsOpen()) return 0;
    if (startSector < 0 || sectorCount <= 0) return 87;
    m_u64StartSector = uint64_t(startSector);
    m_u64SectorCount = uint64_t(sectorCount);
    m_nDriveLetter = uint32_t(driveLetter);
    return m_DiskReader.Init(diskNo, m_u64StartSector + m_u64SectorCount);
}

int CProfessionalExfatRecovery::Init(wchar_t* devicePath, wchar_t driveLetter) {
    if (m_DiskReader.IsOpen()) return 0;
    if (!devicePath) return 87;
    uint64_t bytes = 0;
    int rc = GetDeviceSize(WideToUtf8(devicePath), bytes);
    if (rc != 0) return rc;
    m_u64StartSector = 0;
    m_u64SectorCount = bytes / 512;
    m_nDriveLetter = uint32_t(driveLetter);
    return m_DiskReader.Init(devicePath, m_u64SectorCount);
}

int CProfessionalExfatRecovery::BeginDeepPass(wchar_t* storeName) {
    m_Sets.clear();
    m_BootSectors.clear();
    m_Volumes.clear();
    m_u64RootMarkSector = 0;
    m_RootMark = EXFAT_ROOT_ENTRIES();
    m_Results.ClearVolumes();
    m_Results.SetRootKey(0);
    if (!m_DiskReader.IsOpen()) return 87;
    // The area's own boot region: the pass may cover only free space and never meet it.
    const uint64_t bytes = std::min<uint64_t>(kBootAreaBytes, m_u64SectorCount * 512);
    std::vector<uint8_t> area(size_t(bytes), 0);
    unsigned got = 0;
    m_DiskReader.ReadData(area.data(), int(bytes / 512), (long long)m_u64StartSector, 512, &got);
    area.resize(size_t(got) * 512);
    EXFAT_GEOMETRY g;
    if (ParseExfatBootRegion(ByteView(area.data(), area.size()), g) == 0) AddBootVolume(m_u64StartSector, g);
    return m_Results.OpenStore(StorePrefix(), m_u64StartSector, storeName);
}

void CProfessionalExfatRecovery::AddBootVolume(uint64_t start, const EXFAT_GEOMETRY& g) {
    for (const Volume& v : m_Volumes)
        if (v.u64Start == start) return;
    Volume v;
    v.u64Start = start;
    v.g = g;
    v.bFromBoot = true;
    m_Volumes.push_back(v);
}

int CProfessionalExfatRecovery::OfferSector(const DeepSector& sector, uint64_t& used, uint64_t& findFileCount) {
    used = 0;
    if (!sector.data || sector.available < 512) return 0;
    const unsigned char* p = sector.data;
    if (std::memcmp(p + 3, "EXFAT   ", 8) == 0) {
        EXFAT_GEOMETRY g;
        if (ParseExfatBootSector(ByteView(p, 512), g) != 0) return 0;
        m_BootSectors.push_back(sector.absolute);
        used = 1;
        return 1;
    }
    // Most sectors hold no entry type at any 32-byte step: a cheap first look.
    bool candidate = false;
    for (size_t off = 0; off < 512 && !candidate; off += EXFAT_ENTRY_BYTES)
        candidate = (p[off] | EXFAT_IN_USE) == EXFAT_TYPE_FILE || p[off] == EXFAT_TYPE_BITMAP;
    if (!candidate) return 0;
    bool taken = false;
    if (sector.available >= 512 + kMaxSetBytes) {
        TakeSets(p, sector.available, sector, taken, findFileCount);
    } else {
        // A set may run past the buffer: read on from the disk.
        std::vector<uint8_t> more(512 * 3, 0);
        unsigned got = 0;
        if (sector.reader) sector.reader->ReadData(more.data(), 3, (long long)sector.absolute, 512, &got);
        if (got == 0) {
            std::memcpy(more.data(), p, 512);
            got = 1;
        }
        TakeSets(more.data(), size_t(got) * 512, sector, taken, findFileCount);
    }
    if (!taken) return 0;
    used = 1;
    return 1;
}

void CProfessionalExfatRecovery::TakeSets(const unsigned char* p, size_t available, const DeepSector& sector,
                                          bool& taken, uint64_t& findFileCount) {
    ByteView view(p, std::min(available, 512 + kMaxSetBytes));
    EXFAT_ENTRY_SET set;
    for (size_t off = 0; off < 512; off += EXFAT_ENTRY_BYTES) {
        const uint8_t type = view.u8(off);
        if (type == EXFAT_TYPE_BITMAP && !m_u64RootMarkSector && IsRootPair(view, off)) {
            m_u64RootMarkSector = sector.absolute;
            m_RootMark.nBitmapCluster = view.le32(off + 20);
            m_RootMark.u64BitmapLength = view.le64(off + 24);
            m_RootMark.nUpcaseCluster = view.le32(off + 32 + 20);
            m_RootMark.u64UpcaseLength = view.le64(off + 32 + 24);
            taken = true;
        }
        if ((type | EXFAT_IN_USE) != EXFAT_TYPE_FILE || ParseExfatEntrySet(view, off, set) != 0) continue;
        if (m_Sets.size() >= kMaxSets) return;
        m_Sets.push_back({sector.absolute, uint32_t(off), set});
        if (!set.IsDir()) ++findFileCount;
        taken = true;
        off += (set.nEntries - 1) * EXFAT_ENTRY_BYTES;
    }
}

// A boot sector names its volume's start only if the root folder is where it says:
// the backup copy, 12 sectors on, says the same with the wrong start.
bool CProfessionalExfatRecovery::RootCheck(uint64_t start, const EXFAT_GEOMETRY& g) {
    ExfatVolume v(&m_DiskReader, start, g, false);
    std::vector<uint8_t> root(g.ClusterBytes());
    uint32_t bytes = 0;
    if (v.ReadCluster(g.nRootCluster, root.data(), bytes) != 0 || bytes == 0) return false;
    std::vector<EXFAT_ENTRY_SET> sets;
    EXFAT_ROOT_ENTRIES entries;
    ParseExfatDirectory(ByteView(root.data(), bytes), sets, &entries);
    return entries.nBitmapCluster != 0;
}

void CProfessionalExfatRecovery::GuessVolume() {
    EXFAT_GUESS_INPUT in;
    std::set<uint64_t> starts;
    std::vector<const FoundSet*> files;
    for (const FoundSet& f : m_Sets) {
        if (f.set.IsDir()) in.dirFirstClusters.push_back(f.set.nFirstCluster);
        else if (f.set.nFirstCluster >= 2 && f.set.u64DataLength > 0) {
            char name[256];
            ExfatNameToAnsi(f.set, name, sizeof name);
            if (Judgeable(name)) {
                in.fileFirstClusters.push_back(f.set.nFirstCluster);
                files.push_back(&f);
            }
        }
        if (f.nOffset == 0) starts.insert(f.u64Sector);
    }
    in.dirStartSectors.assign(starts.begin(), starts.end());
    in.rootSector = m_u64RootMarkSector;
    in.upcaseCluster = m_RootMark.nUpcaseCluster;
    in.upcaseLength = m_RootMark.u64UpcaseLength;
    ExfatSignatureProbe probe = [&](size_t i, uint64_t sector) {
        unsigned char buf[512];
        unsigned got = 0;
        if (sector >= m_DiskReader.GetSectorLimit()) return false;
        m_DiskReader.ReadData(buf, 1, (long long)sector, 512, &got);
        if (got == 0) return false;
        char name[256], ext[256];
        ExfatNameToAnsi(files[i]->set, name, sizeof name);
        if (GetExtendName(name, ext) != 0) return false;
        return CFileTypeJudge::RecogniseFileStart(buf, 512) != TYPE_UNKNOWN &&
               CFileTypeJudge::IsFileTypeMatching(buf, 512, ext, &m_DiskReader, 512, sector);
    };
    EXFAT_GUESS guess = GuessExfatGeometry(in, m_u64StartSector, probe);
    if (guess.nSectorsPerCluster == 0) return;
    Volume v;
    v.u64Start = m_u64StartSector;
    v.bFromBoot = false;
    v.g.nSectorsPerCluster = guess.nSectorsPerCluster;
    const uint64_t heap = guess.u64Cluster2Sector - m_u64StartSector;
    if (heap > UINT32_MAX) return;
    v.g.nHeapOffset = uint32_t(heap);
    const uint64_t end = m_u64StartSector + m_u64SectorCount;
    uint64_t clusters = end > guess.u64Cluster2Sector ? (end - guess.u64Cluster2Sector) / guess.nSectorsPerCluster : 0;
    if (m_RootMark.u64BitmapLength) clusters = std::min<uint64_t>(clusters, m_RootMark.u64BitmapLength * 8);
    v.g.nClusterCount = uint32_t(std::min<uint64_t>(clusters, 0xFFFFFFF5u));
    v.g.u64VolumeSectors = heap + uint64_t(v.g.nClusterCount) * v.g.nSectorsPerCluster;
    v.u64RootSector = m_u64RootMarkSector;
    OrvaleLog("deep exFAT geometry guessed: %u sectors per cluster, cluster 2 at %llu (score %u)\n",
              guess.nSectorsPerCluster, (unsigned long long)guess.u64Cluster2Sector, guess.nScore);
    m_Volumes.push_back(v);
}

void CProfessionalExfatRecovery::LoadBitmap(Volume& v) {
    std::vector<EXFAT_RUN> runs;
    ExfatMapRuns(v.g, v.g.nRootCluster, kMaxDirBytes, EXFAT_LAYOUT_CHAIN, v.pVolume->FatLookup(), EXFAT_BITMAP(), runs);
    std::vector<uint8_t> root;
    v.pVolume->ReadRuns(runs, kMaxDirBytes, root);
    std::vector<EXFAT_ENTRY_SET> sets;
    EXFAT_ROOT_ENTRIES entries;
    ParseExfatDirectory(ByteView(root.data(), root.size()), sets, &entries);
    if (entries.nBitmapCluster) v.pVolume->LoadBitmap(entries.nBitmapCluster, entries.u64BitmapLength);
}

int CProfessionalExfatRecovery::EndDeepPass() {
    for (uint64_t s : m_BootSectors) {
        std::vector<uint8_t> boot(512);
        unsigned got = 0;
        m_DiskReader.ReadData(boot.data(), 1, (long long)s, 512, &got);
        EXFAT_GEOMETRY g;
        if (got == 0 || ParseExfatBootSector(ByteView(boot.data(), 512), g) != 0) continue;
        if (RootCheck(s, g)) AddBootVolume(s, g);
        else if (s >= 12 && RootCheck(s - 12, g)) AddBootVolume(s - 12, g);
    }
    if (m_Volumes.empty() && !m_Sets.empty()) GuessVolume();
    std::sort(m_Volumes.begin(), m_Volumes.end(), [](const Volume& a, const Volume& b) { return a.u64Start < b.u64Start; });
    std::vector<std::vector<const FoundSet*>> perVolume(m_Volumes.size());
    for (const FoundSet& f : m_Sets) {
        // The last volume starting at or before the set whose heap holds it.
        for (size_t i = m_Volumes.size(); i-- > 0;) {
            const Volume& v = m_Volumes[i];
            const uint64_t heap = v.u64Start + v.g.HeapSector();
            if (f.u64Sector >= heap && f.u64Sector < v.u64Start + v.g.u64VolumeSectors * v.g.Scale()) {
                perVolume[i].push_back(&f);
                break;
            }
        }
    }
    for (size_t i = 0; i < m_Volumes.size(); ++i) {
        Volume& v = m_Volumes[i];
        v.pVolume = m_Results.AddVolume(
            std::unique_ptr<ExfatVolume>(new ExfatVolume(&m_DiskReader, v.u64Start, v.g, v.bFromBoot)));
        if (v.bFromBoot) LoadBitmap(v);
        else if (m_RootMark.nBitmapCluster) v.pVolume->LoadBitmap(m_RootMark.nBitmapCluster, m_RootMark.u64BitmapLength);
        BuildTree(v, perVolume[i]);
    }
    m_Sets.clear();
    m_Sets.shrink_to_fit();
    if (m_Results.Store()) m_Results.Store()->FlushBufToFile();
    return 0;
}

void CProfessionalExfatRecovery::BuildTree(Volume& v, const std::vector<const FoundSet*>& sets) {
    CScanResultFileManager* store = m_Results.Store();
    if (!store || sets.empty()) return;
    ExfatVolume& vol = *v.pVolume;
    const EXFAT_GEOMETRY& g = v.g;
    const EXFAT_BITMAP bitmap = vol.Bitmap();
    const ExfatFatLookup fat = vol.FatLookup();
    const uint64_t spc = uint64_t(g.nSectorsPerCluster) * g.Scale();
    const uint64_t heap = v.u64Start + g.HeapSector();
    auto clusterOf = [&](uint64_t sector) { return uint32_t(2 + (sector - heap) / spc); };
    auto layoutOf = [&](const EXFAT_ENTRY_SET& s) {
        if (!s.bDeleted) return s.NoFatChain() || !vol.HasFat() ? EXFAT_LAYOUT_CONTIGUOUS : EXFAT_LAYOUT_CHAIN;
        return ExfatDeletedLayout(g, s.nFirstCluster, s.u64DataLength, s.NoFatChain(), fat, bitmap);
    };

    // Which folder each cluster belongs to (0: the root); live folders first, so
    // that a stale deleted entry never claims a live folder's clusters.
    std::unordered_map<uint32_t, uint32_t> owner;
    std::vector<EXFAT_RUN> runs;
    if (v.bFromBoot) {
        ExfatMapRuns(g, g.nRootCluster, kMaxDirBytes, EXFAT_LAYOUT_CHAIN, fat, bitmap, runs);
        for (const EXFAT_RUN& r : runs)
            for (uint32_t i = 0; i < r.nCount; ++i) owner.emplace(r.nCluster + i, 0);
    } else if (v.u64RootSector >= heap) {
        owner.emplace(clusterOf(v.u64RootSector), 0);
    }
    std::map<uint32_t, const FoundSet*> dirs; // by first cluster
    for (int pass = 0; pass < 2; ++pass) {
        for (const FoundSet* f : sets) {
            const EXFAT_ENTRY_SET& s = f->set;
            if (!s.IsDir() || s.bDeleted != (pass == 1) || !g.IsDataCluster(s.nFirstCluster)) continue;
            if (!dirs.emplace(s.nFirstCluster, f).second) continue;
            ExfatMapRuns(g, s.nFirstCluster, std::min(s.u64DataLength, kMaxDirBytes), layoutOf(s), fat, bitmap, runs);
            for (const EXFAT_RUN& r : runs)
                for (uint32_t i = 0; i < r.nCount; ++i) owner.emplace(r.nCluster + i, s.nFirstCluster);
        }
    }
    // The folder a set was found in: a known folder, or a lost one named by its cluster.
    std::map<uint32_t, bool> lost;
    auto parentOf = [&](const FoundSet* f) {
        const uint32_t c = clusterOf(f->u64Sector);
        auto it = owner.find(c);
        if (it != owner.end()) return it->second;
        lost[c] = true;
        return c;
    };
    std::map<uint32_t, uint32_t> parentDir;
    for (auto& d : dirs) {
        uint32_t p = parentOf(d.second);
        parentDir[d.first] = p == d.first ? 0 : p;
    }
    for (auto& l : lost) parentDir.emplace(l.first, 0);
    std::map<uint32_t, unsigned> depthCache{{0, 0}};
    std::function<unsigned(uint32_t)> depthOf = [&](uint32_t id) {
        std::vector<uint32_t> chain;
        uint32_t c = id;
        while (!depthCache.count(c) && chain.size() < kMaxDepth) {
            chain.push_back(c);
            auto it = parentDir.find(c);
            c = it == parentDir.end() ? 0 : it->second;
            if (std::find(chain.begin(), chain.end(), c) != chain.end()) c = 0; // a loop joins the root
        }
        unsigned d = depthCache.count(c) ? depthCache[c] : 0;
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) depthCache[*it] = ++d;
        return depthCache[id];
    };

    auto fill = [&](_FILE_NODE_& node, const FoundSet& f) {
        std::memset(&node, 0, sizeof node);
        node.nDriveLetter = m_nDriveLetter;
        node.nFileSystemType = FS_TYPE_PRO_EXFAT;
        node.nClusterNO = f.set.nFirstCluster;
        node.nClusterBytes = g.ClusterBytes();
        node.u64CreateTime = f.set.u64CreateTime;
        node.u64AccessTime = f.set.u64AccessTime;
        node.u64ModifyTime = f.set.u64ModifyTime;
        node.u64FileSize = f.set.u64DataLength;
        node.u64DataStartSector = g.HeapSector();
        node.u64RecordSector = f.u64Sector;
        node.u64PartitionStartSector = v.u64Start;
        ExfatNameToAnsi(f.set, node.szFileName, sizeof node.szFileName);
    };
    std::set<uint32_t> shown;
    for (const FoundSet* f : sets) {
        if (f->set.IsDir()) continue;
        _FILE_NODE_ node;
        fill(node, *f);
        node.nReserved = layoutOf(f->set);
        m_Results.Runs(node, runs);
        // Live files of a lost volume own their clusters; only deleted ones can have lost them.
        node.bIsHealth = m_Results.JudgeHealth(vol, node, runs, f->set.bDeleted && vol.Bitmap().pBits != nullptr);
        const uint32_t parent = parentOf(f);
        unsigned char* slot = store->CreateFileNode(sizeof(_FILE_NODE_));
        if (!slot) continue;
        node.nFileIndex = store->GetFileIndex();
        store->AddChildren(parent, depthOf(parent), node.nFileIndex, node.nClusterNO, nullptr);
        std::memcpy(slot, &node, sizeof node);
        for (uint32_t c = parent, steps = 0; c != 0 && steps < kMaxDepth && shown.insert(c).second; ++steps)
            c = parentDir.count(c) ? parentDir[c] : 0;
    }
    for (uint32_t id : shown) {
        _FILE_NODE_ node;
        auto d = dirs.find(id);
        if (d != dirs.end()) {
            fill(node, *d->second);
            node.nReserved = d->second->set.bDeleted ? EXFAT_NODE_DELETED : 0;
        } else {
            std::memset(&node, 0, sizeof node);
            node.nDriveLetter = m_nDriveLetter;
            node.nFileSystemType = FS_TYPE_PRO_EXFAT;
            node.nClusterNO = id;
            node.nClusterBytes = 0xFFFFFFFFu;
            std::snprintf(node.szFileName, sizeof node.szFileName, "LostFolder%u", id);
        }
        node.bIsDir = 1;
        node.bIsHealth = 1;
        const uint32_t parent = parentDir.count(id) ? parentDir[id] : 0;
        unsigned char* slot = store->CreateFileNode(sizeof(_FILE_NODE_));
        if (!slot) continue;
        node.nFileIndex = store->GetFileIndex();
        store->AddChildren(parent, depthOf(parent), node.nFileIndex, id, node.szFileName);
        std::memcpy(slot, &node, sizeof node);
    }
}
