#include "cli/CliRecovery.h"

#include "cli/CliProgress.h"
#include "engine/FileCategories.h"
#include "engine/IFileRecoveryParse.h"
#include "engine/SafeSave.h"
#include "platform/DeviceMap.h"
#include "platform/PathHelpers.h"
#include "platform/TextCodec.h"

#include <cstring>

namespace {
constexpr int kMaxTargetPath = 512; // wide characters the engines accept
}

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
                                  const std::string& destination, CliProgress& progress, bool keepPartial) {
    CliRecoveryReport report;
    std::wstring destinationWide = Utf8ToWide(destination.c_str());
    int dirIndex = 0;
    GetPathDirIndex(destinationWide.c_str(), dirIndex);
    for (size_t i = 0; i < findings.size(); ++i) {
        const CliFinding& f = findings[i];
        char folder[32];
        GetDirTypeByFileName(f.node.szFileName, folder);
        std::string folderUtf8 = destination + "/" + (folder[0] ? std::string(folder) : std::string("others"));
        if (int rc = MakeDirectories(folderUtf8)) {
            report.failures.emplace_back(f.name, "cannot create " + folderUtf8 + ": " + std::strerror(rc));
            continue;
        }
        std::string target = Unicode2Ansi(Utf8ToWide(folderUtf8.c_str()).c_str()) + "/" + SanitizeFileName(f.node.szFileName);
        wchar_t path[4096];
        GetRealFileName(target.c_str(), path, 4096);
        if (std::wcslen(path) >= static_cast<size_t>(kMaxTargetPath)) {
            report.failures.emplace_back(f.name, "the target path is too long (512 characters or more)");
            continue;
        }
        progress.BeginFile(i, findings.size(), f.name);
        SafeSaveResult saved = SaveFileSafely(engine, f.node, WideToUtf8(path), dirIndex, keepPartial,
                                              [&progress] { return progress.FileError(); });
        if (saved.partial) report.partial.push_back(saved.savedPath);
        if (saved.code == RECOVERY_STOPPED || CliProgress::StopRequested()) {
            report.stopped = true;
            if (saved.code != 0) report.failures.emplace_back(f.name, RecoveryErrorText(RECOVERY_STOPPED));
            else report.saved.push_back(saved.savedPath);
            break;
        }
        if (saved.code != 0) report.failures.emplace_back(f.name, RecoveryErrorText(saved.code));
        else report.saved.push_back(saved.savedPath);
    }
    progress.Finish();
    return report;
}
