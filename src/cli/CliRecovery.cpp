#include "cli/CliRecovery.h"

#include "cli/CliProgress.h"
#include "engine/FileCategories.h"
#include "engine/IFileRecoveryParse.h"
#include "engine/RecoveryLayout.h"
#include "engine/SafeSave.h"
#include "platform/DeviceMap.h"
#include "platform/PathHelpers.h"
#include "platform/TextCodec.h"

#include <cstring>

namespace {
constexpr int kMaxTargetPath = 512; // wide characters the engines accept

// The folder below destination a file goes into (UTF-8, relative), created.
// A tree that cannot be made (a file in its way, a path past the engines'
// limit) gives way to the category folder alone: the file is saved all the same.
std::string MakeTargetFolder(const std::string& destination, const CliFinding& f, bool keepTree, int& error) {
    char category[32];
    GetDirTypeByFileName(f.node.szFileName, category);
    const std::string flat = category[0] ? category : "others";
    std::string folderAnsi = Unicode2Ansi(Utf8ToWide(f.folder.c_str()).c_str());
    std::string relative = WideToUtf8(Ansi2Unicode(RecoveryRelativeFolder(flat, folderAnsi, keepTree).c_str()).c_str());
    const size_t used = Utf8ToWide((destination + "/" + relative + "/").c_str()).size() +
                        Utf8ToWide(f.name.c_str()).size() + 8; // room for a "(n)"
    if (relative != flat && (used >= static_cast<size_t>(kMaxTargetPath) || MakeDirectories(destination + "/" + relative) != 0))
        relative = flat;
    error = MakeDirectories(destination + "/" + relative);
    return relative;
}
} // namespace

std::string RecoveryErrorText(int code) {
    switch (code) {
    case 0: return "ok";
    case 8: return "out of memory";
    case 29: return "a cluster larger than 100 MiB";
    case 30: return "the device could not be read there, or the file's data ends early";
    case 87: return "the file's record is not valid";
    case RECOVERY_STOPPED: return "stopped";
    default: break;
    }
    if (code > 0) return std::strerror(code);
    return "error " + std::to_string(code);
}


CliRecoveryReport RecoverFindings(IFileRecoveryParse* engine, const std::vector<CliFinding>& findings,
                                  const std::string& destination, CliProgress& progress, bool keepPartial,
                                  bool keepTree) {
    CliRecoveryReport report;
    std::wstring destinationWide = Utf8ToWide(destination.c_str());
    int dirIndex = 0;
    GetPathDirIndex(destinationWide.c_str(), dirIndex);
    int rc = MakeDirectories(destination);
    RecoveryReportFile file(destination);
    report.reportPath = file.path();
    if (!file.ok()) report.reportError = std::strerror(rc ? rc : file.error());
    for (size_t i = 0; i < findings.size(); ++i) {
        const CliFinding& f = findings[i];
        RecoveryReportFile::Row row;
        row.originalPath = f.folder.empty() ? f.name : "/" + f.folder + (f.folder.back() == '/' ? "" : "/") + f.name;
        row.size = f.node.u64FileSize;
        row.healthy = f.node.bIsHealth != 0;
        row.engine = f.engine;
        row.firstSector = f.firstSector;
        auto failed = [&](const std::string& reason) {
            report.failures.emplace_back(f.name, reason);
            row.status = "failed: " + reason;
            file.Add(row);
        };
        int folderError = 0;
        std::string relative = MakeTargetFolder(destination, f, keepTree, folderError);
        std::string folderUtf8 = destination + "/" + relative;
        if (folderError) {
            failed("cannot create " + folderUtf8 + ": " + std::strerror(folderError));
            continue;
        }
        std::string target = Unicode2Ansi(Utf8ToWide(folderUtf8.c_str()).c_str()) + "/" + SanitizeFileName(f.node.szFileName);
        wchar_t path[4096];
        GetRealFileName(target.c_str(), path, 4096);
        if (std::wcslen(path) >= static_cast<size_t>(kMaxTargetPath)) {
            failed("the target path is too long (512 characters or more)");
            continue;
        }
        progress.BeginFile(i, findings.size(), f.name);
        SafeSaveResult saved = SaveFileSafely(engine, f.node, WideToUtf8(path), dirIndex, keepPartial,
                                              [&progress] { return progress.FileError(); });
        if (!saved.savedPath.empty() && saved.savedPath.compare(0, destination.size() + 1, destination + "/") == 0)
            row.savedPath = saved.savedPath.substr(destination.size() + 1);
        if (saved.partial) report.partial.push_back(saved.savedPath);
        bool stop = saved.code == RECOVERY_STOPPED || CliProgress::StopRequested();
        if (stop) report.stopped = true;
        if (saved.code != 0) {
            std::string reason = RecoveryErrorText(stop ? RECOVERY_STOPPED : saved.code);
            report.failures.emplace_back(f.name, reason);
            row.status = (saved.partial ? "partial: " : "failed: ") + reason;
        } else {
            report.saved.push_back(saved.savedPath);
            row.status = "saved";
        }
        file.Add(row);
        if (stop) break;
    }
    progress.Finish();
    return report;
}
