#pragma once
// What the result page shows of a found file beyond its record: its folder,
// whether it was deleted, where it came from, and the filters over them.
#include "engine/FileNode.h"

#include <QRegularExpression>
#include <QString>
#include <cstdint>
#include <functional>
#include <set>
#include <vector>

enum RESULT_SOURCE { SOURCE_FILE_SYSTEM = 0, SOURCE_LOST_VOLUME, SOURCE_CARVED };

struct RESULT_ROW {
    QString name;
    QString folder;  // "A/B" below its volume, empty for the volume's root
    QString volume;  // the Folders view's top folder holding it
    int source = SOURCE_FILE_SYSTEM;
    bool deleted = true;
    bool healthy = true;
    qint64 modified = -1; // seconds since 1970, -1 when unknown
};

// The record's name field, which may lack its terminator.
QString RecordName(const _FILE_NODE_& node);
// An engine's time field as seconds since 1970: FAT stores seconds, the others
// FILETIME ticks; -1 for no time at all.
qint64 RecordTimeSeconds(uint64_t value);
// The quick engines list deleted files only and carving looks at free space (or
// at an area whose file system is gone); the deep engines meet live entries too:
// deep FAT marks a deleted entry's name (and so its folder's) with '!', deep NTFS
// marks a record that was in use with nReserved 1.
bool IsRecordDeleted(const _FILE_NODE_& node, const QString& folder);
// Carved; else the file system when its volume starts at one of fileSystemStarts;
// else a lost volume.
int RecordSource(const _FILE_NODE_& node, const std::set<uint64_t>& fileSystemStarts);
QString SourceText(int source);
// The top folder of a file of that source: one per lost volume, by its start.
QString VolumeText(const _FILE_NODE_& node, int source);

// One row per hit, in the hits' order. folderOf gives the engine's parent path
// ("A/B/"), areaStart the first sector of the scanned area.
std::vector<RESULT_ROW> BuildResultRows(const std::vector<__SEARCH_FILE_INFO__>& hits,
                                        const std::function<QString(const _FILE_NODE_&)>& folderOf,
                                        uint64_t areaStart);

// What the filter box and switches let through. A pattern with *, ? or [ is a
// glob over the whole name, anything else a substring; both ignore case.
class CResultFilter {
public:
    CResultFilter(const QString& pattern = QString(), bool deletedOnly = false, bool healthyOnly = false);
    bool Accepts(const RESULT_ROW& row) const;
    bool IsEmpty() const { return m_pattern.isEmpty() && !m_deletedOnly && !m_healthyOnly; }

private:
    QString m_pattern;
    QRegularExpression m_glob;
    bool m_bGlob = false;
    bool m_deletedOnly;
    bool m_healthyOnly;
};
