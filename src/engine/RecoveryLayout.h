#pragma once
// Where a found file goes below the folder it is recovered into, and the report
// of what went where, shared by the window and the command-line tool.
#include "engine/FileNode.h"

#include <cstdint>
#include <cstdio>
#include <string>

class IFileRecoveryParse;

// What found a file: "quick-fat", "deep-ntfs", "quick-ext", ... or "carved".
const char* RecoveryEngineName(uint32_t fileSystemType);

// Absolute first sector of a file's data, or of its record where the engine cannot tell.
uint64_t FoundFileFirstSector(IFileRecoveryParse* engine, bool deep, const _FILE_NODE_& node);

// The 8-bit folder, relative to the recovery folder, a file is saved into:
// categoryFolder (may be empty), then, with keepTree, every component of
// originalFolder ('/'-separated, as the engines give it) passed through
// SanitizeFileName, so that no component climbs out of the recovery folder.
std::string RecoveryRelativeFolder(const std::string& categoryFolder, const std::string& originalFolder,
                                   bool keepTree);

// A CSV field (RFC 4180): quoted when it holds a comma, quote or line break.
std::string CsvField(const std::string& text);

// The report of one recovery run, one line per file, written as it goes so
// that a stopped run still tells what it saved. Never overwrites a file.
class RecoveryReportFile {
public:
    struct Row {
        std::string originalPath; // UTF-8
        std::string savedPath;    // UTF-8, relative to the recovery folder; empty when not saved
        uint64_t size = 0;
        bool healthy = false;
        const char* engine = "";
        uint64_t firstSector = 0;
        std::string status;       // "saved", "partial" or "failed: <reason>"
    };

    // Creates "orvale-report.csv" (or a free "(n)" name) in the UTF-8 folder.
    explicit RecoveryReportFile(const std::string& folder);
    ~RecoveryReportFile();
    RecoveryReportFile(const RecoveryReportFile&) = delete;
    RecoveryReportFile& operator=(const RecoveryReportFile&) = delete;

    bool ok() const { return m_file != nullptr; }
    int error() const { return m_error; }          // errno when it could not be created
    const std::string& path() const { return m_path; }
    void Add(const Row& row);

private:
    FILE* m_file = nullptr;
    int m_error = 0;
    std::string m_path;
};
