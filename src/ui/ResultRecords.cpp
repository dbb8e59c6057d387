#include "ui/ResultRecords.h"

#include "platform/TextCodec.h"

#include <cstring>

QString RecordName(const _FILE_NODE_& node) {
    char name[sizeof node.szFileName + 1];
    std::memcpy(name, node.szFileName, sizeof node.szFileName);
    name[sizeof node.szFileName] = 0;
    return QString::fromStdWString(Ansi2Unicode(name));
}

qint64 RecordTimeSeconds(uint64_t value) {
    // FILETIME ticks of any date after 1601-01-02 exceed every plausible count of seconds.
    const uint64_t kTicksPerSecond = 10000000ull, kEpochTicks = 116444736000000000ull;
    if (value == 0) return -1;
    if (value < 1000000000000ull) return static_cast<qint64>(value);
    if (value < kEpochTicks) return -1;
    return static_cast<qint64>((value - kEpochTicks) / kTicksPerSecond);
}

bool IsRecordDeleted(const _FILE_NODE_& node, const QString& folder) {
    switch (node.nFileSystemType) {
    case FS_TYPE_PRO_FAT:
        if (node.nReserved == 1 || node.szFileName[0] == '!' || folder.startsWith('!')) return true;
        return folder.contains(QStringLiteral("/!"));
    case FS_TYPE_PRO_NTFS: return node.nReserved != 1;
    default: return true;
    }
}

int RecordSource(const _FILE_NODE_& node, bool areaHasFileSystem, uint64_t areaStart) {
    switch (node.nFileSystemType) {
    case FS_TYPE_FILE_TYPE: return SOURCE_CARVED;
    case FS_TYPE_FAST_FAT:
    case FS_TYPE_FAST_NTFS:
    case FS_TYPE_FAST_EXFAT:
    case FS_TYPE_FAST_EXT: return SOURCE_FILE_SYSTEM;
    default:
        return areaHasFileSystem && node.u64PartitionStartSector == areaStart ? SOURCE_FILE_SYSTEM : SOURCE_LOST_VOLUME;
    }
}

uint64_t VolumeSector(const _FILE_NODE_& node) {
    return node.u64PartitionStartSector + (node.nFileSystemType == FS_TYPE_PRO_FAT ? node.u64DataStartSector : 0);
}

QString SourceText(int source) {
    switch (source) {
    case SOURCE_LOST_VOLUME: return QStringLiteral("Lost volume");
    case SOURCE_CARVED: return QStringLiteral("Carved");
    default: return QStringLiteral("File system");
    }
}

QString VolumeText(const _FILE_NODE_& node, int source) {
    if (source == SOURCE_CARVED) return QStringLiteral("Found by content");
    if (source == SOURCE_FILE_SYSTEM) return QStringLiteral("File system");
    const char* kind = "";
    switch (node.nFileSystemType) {
    case FS_TYPE_PRO_FAT: kind = "FAT "; break;
    case FS_TYPE_PRO_NTFS: kind = "NTFS "; break;
    case FS_TYPE_PRO_EXFAT: kind = "exFAT "; break;
    case FS_TYPE_PRO_EXT: kind = "ext "; break;
    default: break;
    }
    return QStringLiteral("Lost %1volume, sector %2").arg(QLatin1String(kind)).arg(static_cast<qulonglong>(VolumeSector(node)));
}

std::vector<RESULT_ROW> BuildResultRows(const std::vector<__SEARCH_FILE_INFO__>& hits,
                                        const std::function<QString(const _FILE_NODE_&)>& folderOf,
                                        bool areaHasFileSystem, uint64_t areaStart) {
    std::vector<RESULT_ROW> rows;
    rows.reserve(hits.size());
    for (const auto& hit : hits) {
        RESULT_ROW row;
        row.name = RecordName(hit);
        row.source = RecordSource(hit, areaHasFileSystem, areaStart);
        row.volumeSector = row.source == SOURCE_LOST_VOLUME ? VolumeSector(hit) : 0;
        if (row.source != SOURCE_CARVED && folderOf) {
            row.folder = folderOf(hit);
            while (row.folder.endsWith('/')) row.folder.chop(1);
            while (row.folder.startsWith('/')) row.folder.remove(0, 1);
        }
        row.volume = VolumeText(hit, row.source);
        // In a volume whose file system stands, the deep engines read free space only:
        // whatever they find there was deleted, even an entry of a deleted folder.
        row.deleted = row.source != SOURCE_LOST_VOLUME || IsRecordDeleted(hit, row.folder);
        row.healthy = hit.bIsHealth != 0;
        row.modified = RecordTimeSeconds(hit.u64ModifyTime);
        rows.push_back(std::move(row));
    }
    return rows;
}

CResultFilter::CResultFilter(const QString& pattern, bool deletedOnly, bool healthyOnly)
    : m_pattern(pattern.trimmed()), m_deletedOnly(deletedOnly), m_healthyOnly(healthyOnly) {
    if (m_pattern.contains(QRegularExpression(QStringLiteral("[*?\\[]")))) {
        m_bGlob = true;
        m_glob = QRegularExpression(QRegularExpression::wildcardToRegularExpression(m_pattern),
                                    QRegularExpression::CaseInsensitiveOption);
    }
}

bool CResultFilter::Accepts(const RESULT_ROW& row) const {
    if (m_deletedOnly && !row.deleted) return false;
    if (m_healthyOnly && !row.healthy) return false;
    if (m_pattern.isEmpty()) return true;
    if (m_bGlob) return m_glob.isValid() && m_glob.match(row.name).hasMatch();
    return row.name.contains(m_pattern, Qt::CaseInsensitive);
}
