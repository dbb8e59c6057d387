#pragma once
// The files a scan found, described for people (grouped text) and for programs (JSON).
#include "engine/FileNode.h"

#include <cstdint>
#include <string>
#include <vector>

class IFileRecoveryParse;

struct CliFinding {
    __SEARCH_FILE_INFO__ node;
    std::string name;        // UTF-8
    std::string category;    // "photo", "audio", ... "others"
    std::string extension;   // lower case, without the dot
    std::string folder;      // UTF-8 folder path, empty when unknown
    const char* engine;      // "quick-fat", "deep-ntfs", ... "carved" (RecoveryEngineName)
    uint64_t firstSector;    // absolute sector of the data, or of the record where unknown
};

// Describes every hit; the engine answers folder paths and data sectors.
std::vector<CliFinding> DescribeFindings(IFileRecoveryParse* engine, bool deep,
                                         const std::vector<__SEARCH_FILE_INFO__>& hits);

// Grouped by category and extension as the result page groups them.
// complete is false for a scan that was stopped or failed part way: the list may lack files.
void PrintFindingsText(FILE* out, const std::string& target, long long firstSector, long long sectorCount,
                       const std::vector<CliFinding>& findings, bool complete);
void PrintFindingsJson(FILE* out, const std::string& target, long long firstSector, long long sectorCount,
                       const std::vector<CliFinding>& findings, bool complete);

// JSON string literal of UTF-8 text (invalid bytes become U+FFFD).
std::string JsonString(const std::string& utf8);
