#include "engine/CScanResultFileManager.h"

#include "engine/CLogFileManager.h"
#include "engine/FileCategories.h"
#include "platform/DeviceMap.h"
#include "platform/Log.h"
#include "platform/TextCodec.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <new>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace {
constexpr size_t kNodeBytes = sizeof(_FILE_NODE_);
constexpr size_t kDirInfoBytes = sizeof(_DIR_FILE_INFO_);
// Node files above this size no longer take part in the Other search.
constexpr uint64_t kOtherSearchLimit = 0x7FFFFFF;
constexpr size_t kSearchKeyBytes = 4096;
constexpr size_t kNameOffset = offsetof(_FILE_NODE_, szFileName);
constexpr size_t kNameBytes = sizeof(_FILE_NODE_::szFileName);

int PWriteAll(int fd, const void* data, size_t size, uint64_t offset) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::pwrite(fd, p, size, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return EIO;
        p += n;
        size -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return 0;
}

// Reads up to size bytes at offset; returns the count read, or -errno.
long long PReadFull(int fd, void* data, size_t size, uint64_t offset) {
    char* p = static_cast<char*>(data);
    size_t got = 0;
    while (got < size) {
        ssize_t n = ::pread(fd, p + got, size - got, static_cast<off_t>(offset + got));
        if (n < 0) {
            if (errno == EINTR) continue;
            return -static_cast<long long>(errno);
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    return static_cast<long long>(got);
}

char* AppendDecimal(char* p, uint64_t v) {
    char digits[20];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v);
    while (n) *p++ = digits[--n];
    return p;
}

void LowerAscii(std::string& s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
}

// The extension of a bounded 8-bit name (text after the last '.'); false when
// there is none. An empty extension ("name.") counts as none: "." alone would
// otherwise occur in every search key.
bool ExtensionOf(const char* name, size_t len, std::string& ext) {
    size_t dot = len;
    while (dot > 0 && name[dot - 1] != '.') --dot;
    if (dot == 0 || dot == len) return false;
    ext.assign(name + dot, name + len);
    LowerAscii(ext);
    return true;
}

// Incremental parser of the relation text " | key - [a,b,c]" repeated; a
// malformed byte ends parsing and what was read before it is kept.
class RelationParser {
public:
    explicit RelationParser(std::map<uint64_t, std::vector<uint32_t>>& map) : m_map(map) {}
    bool Feed(const char* p, size_t n) {
        for (size_t i = 0; i < n && !m_bad; ++i) Step(p[i]);
        return !m_bad;
    }
    bool Finish() const { return !m_bad && m_state == WantBar; }

private:
    enum State { WantBar, WantKey, WantBracket, InList };
    void Step(char c) {
        if (c == ' ') return;
        if (c >= '0' && c <= '9') {
            if (m_state != WantKey && m_state != InList) return Fail();
            uint64_t d = static_cast<uint64_t>(c - '0');
            if (m_num > (~uint64_t(0) - d) / 10) return Fail();
            m_num = m_num * 10 + d;
            m_hasNum = true;
            return;
        }
        switch (c) {
        case '|':
            if (m_state != WantBar) return Fail();
            m_state = WantKey;
            Reset();
            return;
        case '-':
            if (m_state != WantKey || !m_hasNum) return Fail();
            m_key = m_num;
            m_list = nullptr;
            m_state = WantBracket;
            Reset();
            return;
        case '[':
            if (m_state != WantBracket || m_hasNum) return Fail();
            m_state = InList;
            return;
        case ',':
            if (m_state != InList || !m_hasNum) return Fail();
            Push();
            return;
        case ']':
            if (m_state != InList) return Fail();
            if (m_hasNum) Push();
            m_state = WantBar;
            return;
        default:
            return Fail();
        }
    }
    void Push() {
        if (m_num > 0xFFFFFFFFu) return Fail();
        if (!m_list) m_list = &m_map[m_key];
        m_list->push_back(static_cast<uint32_t>(m_num));
        Reset();
    }
    void Reset() {
        m_num = 0;
        m_hasNum = false;
    }
    void Fail() { m_bad = true; }

    std::map<uint64_t, std::vector<uint32_t>>& m_map;
    State m_state = WantBar;
    uint64_t m_num = 0;
    bool m_hasNum = false;
    uint64_t m_key = 0;
    std::vector<uint32_t>* m_list = nullptr;
    bool m_bad = false;
};
} // namespace

CScanResultFileManager::CScanResultFileManager() {
    m_strKnownExtensions = std::string(g_szPhotoTypes) + "|" + g_szAudioTypes + "|" + g_szDocumentTypes + "|" +
                           g_szVideoTypes + "|" + g_szArchiveTypes;
}

CScanResultFileManager::~CScanResultFileManager() { Close(); }

void CScanResultFileManager::Close() {
    if (m_fdNode >= 0 || m_fdRelation >= 0) FlushBufToFile();
    delete[] m_pBuffer;
    m_pBuffer = nullptr;
    for (int* fd : {&m_fdNode, &m_fdRelation, &m_fdDirInfo}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
    m_mapRelation.clear();
    m_vecDirInfo.clear();
    m_vecFirstListOf.clear();
    m_vecListKeys.clear();
    m_bParentIndexValid = false;
    m_pLastList = nullptr;
    m_u64LastKey = ~uint64_t(0);
    m_nBufUsed = 0;
}

int CScanResultFileManager::Init(const wchar_t* name) {
    Close();
    m_u32FileIndex = 0;
    m_u64ByteCount = 0;
    m_u64NodeFileBytes = 0;
    m_nWriteError = 0;
    m_bRelationDirty = m_bDirInfoDirty = false;
    if (!name || !*name) return 87;

    char dir[256];
    CLogFileManager::GetInstance()->GetLogFileDirPath(dir);
    MakeDirectories(dir);
    m_strNodePath = std::string(dir) + WideToUtf8(name);
    m_strRelationPath = m_strNodePath + "_Relation";
    m_strDirInfoPath = m_strNodePath + "_DirInfo";

    m_fdNode = ::open(m_strNodePath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (m_fdNode < 0) return errno;
    m_fdRelation = ::open(m_strRelationPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (m_fdRelation < 0) {
        int err = errno;
        ::close(m_fdNode);
        m_fdNode = -1;
        return err;
    }

    // New records go after the whole records already there, numbered on from them,
    // so that records added on resume neither collide with nor shift the old ones.
    struct stat st;
    if (::fstat(m_fdNode, &st) == 0 && st.st_size > 0) {
        uint64_t records = static_cast<uint64_t>(st.st_size) / kNodeBytes;
        if (records > 0xFFFFFFFFu) records = 0xFFFFFFFFu;
        m_u32FileIndex = static_cast<uint32_t>(records);
        m_u64NodeFileBytes = records * kNodeBytes;
        m_u64ByteCount = m_u64NodeFileBytes;
    }

    LoadRelationFile();

    int result = 0;
    m_pBuffer = new (std::nothrow) unsigned char[kWriteBufferBytes];
    if (!m_pBuffer) result = 8;

    m_fdDirInfo = ::open(m_strDirInfoPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (m_fdDirInfo >= 0) LoadDirInfoFile();
    return result;
}

void CScanResultFileManager::LoadRelationFile() {
    RelationParser parser(m_mapRelation);
    std::vector<char> chunk(1 << 20);
    uint64_t offset = 0;
    bool ok = true;
    for (;;) {
        long long n = PReadFull(m_fdRelation, chunk.data(), chunk.size(), offset);
        if (n <= 0) break;
        offset += static_cast<uint64_t>(n);
        if (!parser.Feed(chunk.data(), static_cast<size_t>(n))) {
            ok = false;
            break;
        }
    }
    if (!ok || (offset > 0 && !parser.Finish()))
        OrvaleLog("CScanResultFileManager: relation file %s is damaged after byte %llu\n", m_strRelationPath.c_str(),
                  static_cast<unsigned long long>(offset));
    ::lseek(m_fdRelation, 0, SEEK_SET);
}

void CScanResultFileManager::LoadDirInfoFile() {
    std::vector<char> chunk(kDirInfoBytes * 1024);
    uint64_t offset = 0;
    for (;;) {
        long long n = PReadFull(m_fdDirInfo, chunk.data(), chunk.size(), offset);
        if (n <= 0) break;
        size_t whole = static_cast<size_t>(n) / kDirInfoBytes;
        for (size_t i = 0; i < whole; ++i) {
            _DIR_FILE_INFO_ info;
            std::memcpy(&info, chunk.data() + i * kDirInfoBytes, kDirInfoBytes);
            info.szDirName[sizeof info.szDirName - 1] = 0;
            m_vecDirInfo.push_back(info);
        }
        if (static_cast<size_t>(n) < chunk.size()) break;
        offset += static_cast<uint64_t>(n);
    }
    ::lseek(m_fdDirInfo, 0, SEEK_SET);
}

unsigned char* CScanResultFileManager::CreateFileNode(int size) {
    if (!m_pBuffer || size <= 0 || size > m_nBufCapacity) return nullptr;
    if (m_nBufUsed + size > m_nBufCapacity) FlushFileNodeToFile();
    unsigned char* p = m_pBuffer + m_nBufUsed;
    std::memset(p, 0, static_cast<size_t>(size));
    m_nBufUsed += size;
    m_u64ByteCount += static_cast<uint64_t>(size);
    ++m_u32FileIndex;
    return p;
}

void CScanResultFileManager::AddChildren(uint32_t parentClusterNO, uint32_t group, uint32_t fileIndex,
                                         uint32_t clusterNO, const char* dirName) {
    uint64_t key = (static_cast<uint64_t>(group) << 32) | parentClusterNO;
    if (key != m_u64LastKey || !m_pLastList) {
        m_pLastList = &m_mapRelation[key];
        m_u64LastKey = key;
    }
    m_pLastList->push_back(fileIndex);
    m_bRelationDirty = true;
    m_bParentIndexValid = false;
    if (dirName) {
        _DIR_FILE_INFO_ info;
        std::memset(&info, 0, sizeof info);
        info.nClusterNO = clusterNO;
        info.nFileIndex = fileIndex;
        std::strncpy(info.szDirName, dirName, sizeof info.szDirName - 1);
        m_vecDirInfo.push_back(info);
        m_bDirInfoDirty = true;
    }
}

int CScanResultFileManager::FlushFileNodeToFile() {
    if (m_nBufUsed == 0) return 0;
    int err = m_fdNode >= 0 ? PWriteAll(m_fdNode, m_pBuffer, static_cast<size_t>(m_nBufUsed), m_u64NodeFileBytes)
                            : EBADF;
    // Even when the write failed, later records keep their places at
    // (N - 1) * 344: the lost ones leave a gap instead of shifting the rest.
    m_u64NodeFileBytes += static_cast<uint64_t>(m_nBufUsed);
    m_nBufUsed = 0;
    if (err) {
        if (!m_nWriteError) m_nWriteError = err;
        OrvaleLog("CScanResultFileManager: writing %s failed (%d)\n", m_strNodePath.c_str(), err);
    }
    return err;
}

int CScanResultFileManager::KeepFirstRecords(uint32_t count) {
    if (m_fdNode < 0) return EBADF;
    if (int rc = FlushBufToFile()) return rc;
    if (count >= m_u32FileIndex) return 0;
    if (::ftruncate(m_fdNode, static_cast<off_t>(count) * static_cast<off_t>(kNodeBytes)) != 0) return errno;
    m_u32FileIndex = count;
    m_u64NodeFileBytes = m_u64ByteCount = uint64_t(count) * kNodeBytes;
    for (auto& entry : m_mapRelation)
        entry.second.erase(std::remove_if(entry.second.begin(), entry.second.end(),
                                          [count](uint32_t index) { return index > count; }),
                           entry.second.end());
    m_vecDirInfo.erase(std::remove_if(m_vecDirInfo.begin(), m_vecDirInfo.end(),
                                      [count](const _DIR_FILE_INFO_& d) { return d.nFileIndex > count; }),
                       m_vecDirInfo.end());
    m_bRelationDirty = m_bDirInfoDirty = true;
    m_bParentIndexValid = false;
    m_pLastList = nullptr;
    m_u64LastKey = ~uint64_t(0);
    int rc = FlushRelationToFile();
    int dirs = FlushDirFileInfoVec();
    return rc ? rc : dirs;
}

int CScanResultFileManager::FlushRelationToFile() {
    if (m_fdRelation < 0) return EBADF;
    if (!m_bRelationDirty) return 0;
    std::vector<char> chunk(1 << 20);
    const size_t reserve = 64; // room for one group header or one number
    size_t used = 0;
    uint64_t offset = 0;
    int err = 0;
    auto drain = [&]() {
        if (!err && used) err = PWriteAll(m_fdRelation, chunk.data(), used, offset);
        offset += used;
        used = 0;
    };
    for (const auto& entry : m_mapRelation) {
        if (chunk.size() - used < reserve) drain();
        char* p = chunk.data() + used;
        std::memcpy(p, " | ", 3);
        p = AppendDecimal(p + 3, entry.first);
        std::memcpy(p, " - [", 4);
        used = static_cast<size_t>(p + 4 - chunk.data());
        bool first = true;
        for (uint32_t index : entry.second) {
            if (chunk.size() - used < reserve) drain();
            p = chunk.data() + used;
            if (!first) *p++ = ',';
            first = false;
            used = static_cast<size_t>(AppendDecimal(p, index) - chunk.data());
        }
        chunk[used++] = ']';
    }
    drain();
    if (!err && ::ftruncate(m_fdRelation, static_cast<off_t>(offset)) != 0) err = errno;
    ::lseek(m_fdRelation, 0, SEEK_SET);
    if (err) {
        if (!m_nWriteError) m_nWriteError = err;
        OrvaleLog("CScanResultFileManager: writing %s failed (%d)\n", m_strRelationPath.c_str(), err);
        return err;
    }
    m_bRelationDirty = false;
    return 0;
}

int CScanResultFileManager::FlushDirFileInfoVec() {
    if (m_fdDirInfo < 0 || !m_bDirInfoDirty) return 0;
    size_t bytes = m_vecDirInfo.size() * kDirInfoBytes;
    int err = bytes ? PWriteAll(m_fdDirInfo, m_vecDirInfo.data(), bytes, 0) : 0;
    if (!err && ::ftruncate(m_fdDirInfo, static_cast<off_t>(bytes)) != 0) err = errno;
    ::lseek(m_fdDirInfo, 0, SEEK_SET);
    if (err) {
        if (!m_nWriteError) m_nWriteError = err;
        OrvaleLog("CScanResultFileManager: writing %s failed (%d)\n", m_strDirInfoPath.c_str(), err);
        return err;
    }
    m_bDirInfoDirty = false;
    return 0;
}

int CScanResultFileManager::FlushBufToFile() {
    int err = FlushFileNodeToFile();
    if (err) return err;
    err = FlushRelationToFile();
    int dirErr = FlushDirFileInfoVec();
    if (!err) err = dirErr;
    // Records lost by an earlier failed write keep every later flush from reporting success.
    return err ? err : m_nWriteError;
}

const std::vector<uint32_t>* CScanResultFileManager::ChooseList(uint64_t key) const {
    if (key == 0) return m_mapRelation.empty() ? nullptr : &m_mapRelation.begin()->second;
    auto it = m_mapRelation.find(key);
    return it == m_mapRelation.end() ? nullptr : &it->second;
}

int CScanResultFileManager::ReadRecord(uint32_t index, _FILE_NODE_* out) const {
    if (index == 0 || index > m_u32FileIndex) return 30;
    uint64_t offset = static_cast<uint64_t>(index - 1) * kNodeBytes;
    if (offset >= m_u64NodeFileBytes) {
        uint64_t inBuffer = offset - m_u64NodeFileBytes;
        if (!m_pBuffer || inBuffer + kNodeBytes > static_cast<uint64_t>(m_nBufUsed)) return 30;
        std::memcpy(out, m_pBuffer + inBuffer, kNodeBytes);
    } else {
        long long n = PReadFull(m_fdNode, out, kNodeBytes, offset);
        if (n < 0) return static_cast<int>(-n);
        if (static_cast<size_t>(n) != kNodeBytes) return 30;
    }
    out->szFileName[kNameBytes - 1] = 0;
    return 0;
}

bool CScanResultFileManager::IsHiddenPhoto(const _FILE_NODE_& node) const {
    if (node.bIsDir || node.bIsHealth) return false;
    std::string ext;
    if (!ExtensionOf(node.szFileName, strnlen(node.szFileName, kNameBytes), ext)) return false;
    return std::strstr(g_szPhotoTypes, ext.c_str()) != nullptr;
}

int CScanResultFileManager::GetChildrenFileNode(uint64_t key, std::vector<_FILE_NODE_>& out) {
    const std::vector<uint32_t>* list = ChooseList(key);
    if (!list) return 0;
    size_t first = out.size();
    for (uint32_t index : *list) {
        _FILE_NODE_ node;
        int r = ReadRecord(index, &node);
        if (r == 30) continue; // a relation to a record that never reached the node file
        if (r) return r;
        if (IsHiddenPhoto(node)) continue;
        out.push_back(node);
    }
    std::sort(out.begin() + static_cast<std::ptrdiff_t>(first), out.end(), VectorCmp);
    return 0;
}

int CScanResultFileManager::GetChildrenFileCount(uint64_t key, unsigned& count) {
    count = 0;
    std::deque<uint64_t> queue{key};
    // A list reached twice (two folders with the same cluster at one depth)
    // holds the same records: count them once, and never loop.
    std::set<uint64_t> seen;
    while (!queue.empty()) {
        uint64_t k = queue.front();
        queue.pop_front();
        if (!seen.insert(k == 0 && !m_mapRelation.empty() ? m_mapRelation.begin()->first : k).second) continue;
        const std::vector<uint32_t>* list = ChooseList(k);
        if (!list) continue;
        for (uint32_t index : *list) {
            _FILE_NODE_ node;
            int r = ReadRecord(index, &node);
            if (r == 30) continue;
            if (r) return r;
            if (node.bIsDir) queue.push_back((((k >> 32) + 1) << 32) | node.nClusterNO);
            else ++count;
        }
    }
    return 0;
}

int CScanResultFileManager::GetFileNodeByClusterNO(uint32_t clusterNO, _FILE_NODE_* out) {
    int fd = ::open(m_strNodePath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        std::vector<unsigned char> piece(kWriteBufferBytes);
        uint64_t offset = 0;
        while (offset < m_u64NodeFileBytes) {
            size_t want = static_cast<size_t>(std::min<uint64_t>(piece.size(), m_u64NodeFileBytes - offset));
            long long n = PReadFull(fd, piece.data(), want, offset);
            if (n <= 0) break;
            for (size_t at = 0; at + kNodeBytes <= static_cast<size_t>(n); at += kNodeBytes) {
                _FILE_NODE_ node;
                std::memcpy(&node, piece.data() + at, kNodeBytes);
                if (node.bIsDir && node.nClusterNO == clusterNO) {
                    node.szFileName[kNameBytes - 1] = 0;
                    if (out) *out = node;
                    ::close(fd);
                    return 0;
                }
            }
            offset += static_cast<uint64_t>(n);
        }
        ::close(fd);
    }
    for (int at = 0; m_pBuffer && at + static_cast<int>(kNodeBytes) <= m_nBufUsed; at += kNodeBytes) {
        _FILE_NODE_ node;
        std::memcpy(&node, m_pBuffer + at, kNodeBytes);
        if (node.bIsDir && node.nClusterNO == clusterNO) {
            node.szFileName[kNameBytes - 1] = 0;
            if (out) *out = node;
            return 0;
        }
    }
    return 87;
}

bool CScanResultFileManager::FindParentKey(uint32_t index, uint64_t& key) {
    if (!m_bParentIndexValid) {
        m_vecFirstListOf.assign(static_cast<size_t>(m_u32FileIndex) + 1, 0);
        m_vecListKeys.clear();
        for (const auto& entry : m_mapRelation) {
            m_vecListKeys.push_back(entry.first);
            const uint32_t ordinal = static_cast<uint32_t>(m_vecListKeys.size());
            for (uint32_t n : entry.second)
                if (n < m_vecFirstListOf.size() && m_vecFirstListOf[n] == 0) m_vecFirstListOf[n] = ordinal;
        }
        m_bParentIndexValid = true;
    }
    if (index >= m_vecFirstListOf.size() || m_vecFirstListOf[index] == 0) return false;
    key = m_vecListKeys[m_vecFirstListOf[index] - 1];
    return true;
}

int CScanResultFileManager::GetParentFileNode(const _FILE_NODE_* node, std::vector<_FILE_NODE_>& chain) {
    if (!node) return 87;
    uint32_t current = node->nFileIndex;
    // Damaged or odd relations can make two folders each other's parent; a
    // record met twice ends the chain instead of climbing for ever.
    std::set<uint32_t> visited{current};
    while (!m_mapRelation.empty()) {
        const uint64_t rootKey = m_mapRelation.begin()->first;
        uint64_t key = 0;
        if (!FindParentKey(current, key) || key == rootKey) return 0;

        const uint32_t parentCluster = static_cast<uint32_t>(key);
        _FILE_NODE_ parent;
        std::memset(&parent, 0, sizeof parent);
        auto dir = std::find_if(m_vecDirInfo.begin(), m_vecDirInfo.end(),
                                [&](const _DIR_FILE_INFO_& d) { return d.nClusterNO == parentCluster; });
        if (dir != m_vecDirInfo.end()) {
            parent.bIsDir = 1;
            parent.nClusterNO = dir->nClusterNO;
            parent.nFileIndex = dir->nFileIndex;
            std::memcpy(parent.szFileName, dir->szDirName, sizeof dir->szDirName);
            parent.szFileName[kNameBytes - 1] = 0;
        } else if (GetFileNodeByClusterNO(parentCluster, &parent) != 0) {
            return 87;
        }
        if (parent.nFileIndex == current || !visited.insert(parent.nFileIndex).second) return 0;
        chain.push_back(parent);
        current = parent.nFileIndex;
    }
    return 0;
}

int CScanResultFileManager::GetParentDirPath(const _FILE_NODE_* node, wchar_t* path, int size) {
    if (path && size > 0) path[0] = 0;
    if (!node || !path || size <= 0) return 87;
    std::vector<_FILE_NODE_> chain;
    int result = GetParentFileNode(node, chain);
    std::string text;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        text.append(it->szFileName, strnlen(it->szFileName, kNameBytes));
        text += '/';
    }
    Ansi2Unicode(text.c_str(), path, size);
    return result;
}

void CScanResultFileManager::InitSearchCallBack(SearchCallBack cb, void* pParam) {
    m_pSearchCallBack = cb;
    m_pSearchParam = pParam;
}

int CScanResultFileManager::SearchFileNodeInfo(const wchar_t* key, std::vector<__SEARCH_FILE_INFO__>& out) {
    char narrow[kSearchKeyBytes];
    Unicode2Ansi(key ? key : L"", narrow, sizeof narrow);
    FlushBufToFile();
    bool other = std::strstr(narrow, ".other") != nullptr;

    int result = 0;
    int fd = ::open(m_strNodePath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        result = errno;
    } else {
        struct stat st;
        uint64_t fileSize = ::fstat(fd, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
        if (fileSize > kOtherSearchLimit) other = false;
#ifdef POSIX_FADV_SEQUENTIAL
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
        // Membership of each extension is decided once per search: names repeat
        // their extensions many times over, and the key is long. Extensions of
        // up to 8 bytes are looked up packed into one integer.
        enum : uint8_t { InKey = 1, Known = 2, Photo = 4 };
        std::unordered_map<uint64_t, uint8_t> decidedShort;
        std::unordered_map<std::string, uint8_t> decidedLong;
        uint64_t lastPacked = 0;
        uint8_t lastFlags = 0;
        std::string ext;
        auto decide = [&](const std::string& e) {
            std::string needle = "." + e;
            return static_cast<uint8_t>((std::strstr(narrow, needle.c_str()) ? InKey : 0) |
                                        (std::strstr(m_strKnownExtensions.c_str(), needle.c_str()) ? Known : 0) |
                                        (std::strstr(g_szPhotoTypes, e.c_str()) ? Photo : 0));
        };
        std::vector<unsigned char> piece(kWriteBufferBytes);
        uint64_t offset = 0;
        for (;;) {
            long long n = PReadFull(fd, piece.data(), piece.size(), offset);
            if (n < 0) {
                result = static_cast<int>(-n);
                break;
            }
            if (n == 0) break;
            for (size_t at = 0; at + kNodeBytes <= static_cast<size_t>(n); at += kNodeBytes) {
                const unsigned char* rec = piece.data() + at;
                uint32_t isDir, isHealth;
                std::memcpy(&isDir, rec + offsetof(_FILE_NODE_, bIsDir), 4);
                std::memcpy(&isHealth, rec + offsetof(_FILE_NODE_, bIsHealth), 4);
                if (isDir) continue;
                const char* name = reinterpret_cast<const char*>(rec + kNameOffset);
                const size_t len = strnlen(name, kNameBytes);
                size_t dot = len;
                while (dot > 0 && name[dot - 1] != '.') --dot;
                bool match;
                if (dot > 0 && dot < len) {
                    uint8_t flags;
                    if (len - dot <= 8) {
                        uint64_t packed = 0;
                        for (size_t i = dot; i < len; ++i) {
                            unsigned char c = static_cast<unsigned char>(name[i]);
                            if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
                            packed = (packed << 8) | c;
                        }
                        if (packed == lastPacked) {
                            flags = lastFlags;
                        } else {
                            auto it = decidedShort.find(packed);
                            if (it != decidedShort.end()) {
                                flags = it->second;
                            } else {
                                ExtensionOf(name, len, ext);
                                flags = decide(ext);
                                if (decidedShort.size() < 65536) decidedShort.emplace(packed, flags);
                            }
                            lastPacked = packed;
                            lastFlags = flags;
                        }
                    } else {
                        ExtensionOf(name, len, ext);
                        auto it = decidedLong.find(ext);
                        if (it != decidedLong.end()) {
                            flags = it->second;
                        } else {
                            flags = decide(ext);
                            if (decidedLong.size() < 65536) decidedLong.emplace(ext, flags);
                        }
                    }
                    if (!isHealth && (flags & Photo)) continue; // unhealthy photos stay hidden
                    match = (flags & InKey) || (other && !(flags & Known));
                } else {
                    match = other;
                }
                if (!match) continue;
                out.emplace_back();
                std::memcpy(&out.back(), rec, kNodeBytes);
                out.back().szFileName[kNameBytes - 1] = 0;
            }
            offset += static_cast<uint64_t>(n);
            if (m_pSearchCallBack && fileSize > 0) {
                int progress = static_cast<int>(std::min<uint64_t>(offset, fileSize) * 100 / fileSize);
                if (m_pSearchCallBack(m_pSearchParam, progress, nullptr) != 0) {
                    result = RECOVERY_STOPPED;
                    break;
                }
            }
            if (static_cast<size_t>(n) < piece.size()) break;
        }
        ::close(fd);
    }
    std::sort(out.begin(), out.end(), SearchVectorCmp);
    return result;
}
