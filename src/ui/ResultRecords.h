#pragma once
// What the result page shows of a found file beyond its record: its folder,
// whether it was deleted, where it came from, and the filters over them.
#include "engine/FileNode.h"

#include <QRegularExpression>
#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

enum RESULT_SOURCE { SOURCE_FILE_SYSTEM = 0, SOURCE_LOST_VOLUME, SOURCE_CARVED };

struct RESULT_ROW {
    QString name;
    QString folder;  // "A/B" below its volume, empty for the volume's root
    QString volume;  // the Folders view's top folder holding it
    int source = SOURCE_FILE_SYSTEM;
    uint64_t volumeSector = 0; // orders the lost volumes
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
// deep FAT marks a deleted entry with nReserved 1 (and a short name, so a folder's,
// with '!'), deep NTFS a record that was in use with nReserved 1.
bool IsRecordDeleted(const _FILE_NODE_& node, const QString& folder);
// Carved; the quick engines' files and the deep engines' files of a volume
// starting where the area's own file system starts are the file system; the
// rest come from lost volumes.
int RecordSource(const _FILE_NODE_& node, bool areaHasFileSystem, uint64_t areaStart);
QString SourceText(int source);
// Where a lost volume lies: deep FAT knows its volumes by their data area's first sector.
uint64_t VolumeSector(const _FILE_NODE_& node);
// The top folder of a file of that source: one per lost volume.
QString VolumeText(const _FILE_NODE_& node, int source);

// One row per hit, in the hits' order. folderOf gives the engine's parent path ("A/B/").
std::vector<RESULT_ROW> BuildResultRows(const std::vector<__SEARCH_FILE_INFO__>& hits,
                                        const std::function<QString(const _FILE_NODE_&)>& folderOf,
                                        bool areaHasFileSystem, uint64_t areaStart);

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
