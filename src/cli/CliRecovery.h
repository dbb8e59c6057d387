#pragma once
// Saves found files into per-category folders of a destination, never overwriting.
#include "cli/CliFindings.h"

#include <string>
#include <utility>
#include <vector>

class CliProgress;
class IFileRecoveryParse;

struct CliRecoveryReport {
    std::vector<std::string> saved;                                 // UTF-8 paths written whole
    std::vector<std::string> partial;                               // incomplete files kept as "….partial"
    std::vector<std::pair<std::string, std::string>> failures;      // name, reason
    bool stopped = false;
    std::string reportPath;                                         // the CSV report, empty when none
    std::string reportError;                                        // why there is none
};

// A file that cannot be saved whole leaves nothing behind, or with keepPartial
// what was saved of it under its name with ".partial" added. keepTree recreates
// each file's original folders below its category folder. Every file, saved or
// not, gets a line in a CSV report beside them.
CliRecoveryReport RecoverFindings(IFileRecoveryParse* engine, const std::vector<CliFinding>& findings,
                                  const std::string& destination, CliProgress& progress, bool keepPartial,
                                  bool keepTree = true);
// Why a save failed, from its result code.
std::string RecoveryErrorText(int code);
