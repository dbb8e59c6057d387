// orvale-cli: the command-line face of the recovery engines.
#include "cli/CliFindings.h"
#include "cli/CliOptions.h"
#include "cli/CliProgress.h"
#include "cli/CliRecovery.h"
#include "cli/CliTarget.h"
#include "disk/CPartitionManager.h"
#include "engine/CFileRecoveryFactory.h"
#include "engine/CLogFileManager.h"
#include "engine/CProfessionalRecovery.h"
#include "engine/DisplayFormat.h"
#include "engine/FileCategories.h"
#include "platform/DeviceMap.h"
#include "platform/TextCodec.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <vector>
#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr int kExitOk = CLI_EXIT_OK;
constexpr int kExitFailed = CLI_EXIT_FAILED;
constexpr int kExitUsage = CLI_EXIT_USAGE;
constexpr int kExitStopped = CLI_EXIT_STOPPED;

std::string PartitionName(const _PARTITION_ITEM_& item) {
    size_t units = 0;
    while (units < 36 && (item.szPartitionName[2 * units] || item.szPartitionName[2 * units + 1])) ++units;
    return WideToUtf8(Utf16leToWide(item.szPartitionName, units).c_str());
}

// Why no disk could be listed, asked of the first disk that would be read.
std::string NoDiskReason() {
    const std::string path = GetDiskDevicePath(0);
    if (path.empty()) return "this machine shows no disks";
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return path + " opens but holds no whole sector";
    }
    const int err = errno;
    if (err == ENOENT || err == ENXIO || err == ENODEV) return path + " does not exist (a missing or removed device)";
    if (err == EACCES || err == EPERM) {
        if (::geteuid() != 0) return path + ": permission denied: reading disks needs administrator rights (sudo)";
        return path + " was refused to the administrator too: a sandbox or security policy forbids opening disks (" +
               std::strerror(err) + ")";
    }
    return path + ": " + std::strerror(err);
}

int ListDisks() {
    std::map<int, uint64_t> disks;
    CPartitionManager::GetDiskList(disks);
    std::map<int, std::vector<_PARTITION_ITEM_>> partitions;
    CPartitionManager manager;
    manager.GetPartitionItems(partitions);
    if (disks.empty()) {
        std::printf("No disks found: %s.\n(ORVALE_DISK_DIR names a folder of images to list instead.)\n",
                    NoDiskReason().c_str());
        return kExitOk;
    }
    for (const auto& disk : disks) {
        std::printf("Disk %d  %s  %s\n", disk.first, GetFileSizeString(static_cast<long long>(disk.second * 512)).c_str(),
                    GetDiskDevicePath(disk.first).c_str());
        auto it = partitions.find(disk.first);
        if (it != partitions.end()) {
            for (size_t i = 0; i < it->second.size(); ++i) {
                const _PARTITION_ITEM_& p = it->second[i];
                // A damaged entry may claim sectors past the disk's end: shown as far as they exist.
                uint64_t last = disk.second && p.u64EndSector >= disk.second ? disk.second - 1 : p.u64EndSector;
                std::string claim = last != p.u64EndSector ? "  (the table claims up to sector " +
                                                                 std::to_string(p.u64EndSector) + ", past the end)"
                                                           : "";
                std::printf("  %zu  %-24s first %-12llu last %-12llu %s%s\n", i + 1, PartitionName(p).c_str(),
                            static_cast<unsigned long long>(p.u64StartSector), static_cast<unsigned long long>(last),
                            GetFileSizeString(static_cast<long long>((last + 1 - std::min(last + 1, p.u64StartSector)) * 512)).c_str(),
                            claim.c_str());
            }
        }
        std::printf("     %-24s first %-12d last %-12llu %s\n", "Whole Disk", 0,
                    static_cast<unsigned long long>(disk.second ? disk.second - 1 : 0), GetFileSizeString(static_cast<long long>(disk.second * 512)).c_str());
    }
    return kExitOk;
}

int Fail(const std::string& target, const std::string& reason, int code = kExitUsage) {
    std::fprintf(stderr, "orvale-cli: %s: %s\n", target.c_str(), reason.c_str());
    return code;
}

int Scan(const CliOptions& options) {
    CliTarget target;
    std::string error;
    if (!ResolveCliTarget(options, target, error)) return Fail(options.target, error);

    if (!options.recoverDir.empty() && !options.force && IsPathOnDevice(options.recoverDir, target.devicePath))
        return Fail(options.target, "the recovery folder " + options.recoverDir +
                                        " lies on the device being scanned, where saving could overwrite the files being "
                                        "recovered; choose a folder on another disk (or insist with --force)");
    if (!target.warning.empty()) std::fprintf(stderr, "orvale-cli: %s: %s\n", options.target.c_str(), target.warning.c_str());

    // The scan keeps its results in the support folder: one that cannot take
    // them must stop the scan before it starts, not empty its list at the end.
    CScanAreaLock areaLock;
    int lockRc = areaLock.Acquire(target.devicePath, target.deviceSectors * 512, static_cast<uint64_t>(target.firstSector),
                                  static_cast<uint64_t>(target.sectorCount));
    if (lockRc == EWOULDBLOCK) {
        std::string holder = areaLock.Holder() ? " (process " + std::to_string(areaLock.Holder()) + ")" : "";
        return Fail(options.target, "this area is being scanned by another orvale-cli" + holder +
                                        "; wait for it to end or stop it");
    }
    if (lockRc != 0)
        return Fail("support folder " + GetSupportDirPath(),
                    std::string(std::strerror(lockRc)) + " (scan results are kept there; ORVALE_SUPPORT_DIR names another)");
    CLogFileManager::GetInstance()->SetScanAreaId(areaLock.Id());

    CliProgress::InstallInterruptHandler();
    CliProgress progress(options.progress);
    RECOVERY_TYPE mode = options.quick ? RECOVERY_TYPE_FAST : RECOVERY_TYPE_PROFESSIONAL;
    std::unique_ptr<IFileRecoveryParse> engine(CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(
        target.diskNo, target.firstSector, target.sectorCount, L'C', mode));
    if (!engine) {
        if (options.quick)
            return Fail(options.target, "no FAT or NTFS file system in this area for a quick scan (a deep scan reads any area)",
                        kExitFailed);
        return Fail(options.target, "cannot be opened or read");
    }
    std::wstring key = BuildSearchKey(options.categories);
    if (!options.quick) {
        auto* deep = static_cast<CProfessionalRecovery*>(engine.get());
        if (!options.resume) deep->SetNotLoadLogFile();
        deep->SetFoundCountKey(key);
    }
    engine->InitCallBack(CliProgress::ScanCallBack, CliProgress::RecoveryCallBack, &progress, 100);
    int scanResult = engine->ScanDevice(nullptr);
    progress.Finish();
    const bool scanStopped = CliProgress::StopRequested();
    if (scanStopped) {
        if (options.quick) std::fprintf(stderr, "Scan stopped: the list below is incomplete.\n");
        else
            std::fprintf(stderr, "Scan stopped at sector %llu of %llu: the list below is incomplete (--resume goes on).\n",
                         static_cast<unsigned long long>(progress.LastSector()),
                         static_cast<unsigned long long>(progress.LastSectorCount()));
    } else if (scanResult != 0) {
        std::fprintf(stderr, "orvale-cli: %s: the scan ended early: %s\n", options.target.c_str(),
                     RecoveryErrorText(scanResult).c_str());
    }

    if (!options.quick) {
        uint64_t unreadable = static_cast<CProfessionalRecovery*>(engine.get())->GetUnreadableSectorCount();
        if (unreadable)
            std::fprintf(stderr, "orvale-cli: %s: %llu sectors could not be read and were skipped\n", options.target.c_str(),
                         static_cast<unsigned long long>(unreadable));
    }
    engine->InitSearchCallBack(CliProgress::SearchCallBack, &progress);
    std::vector<__SEARCH_FILE_INFO__> hits;
    engine->SearchFileNode(key.data(), hits);
    progress.Finish();

    const bool complete = !scanStopped && scanResult == 0 && !CliProgress::StopRequested();

    std::vector<CliFinding> findings = DescribeFindings(engine.get(), !options.quick, hits);
    if (options.json) PrintFindingsJson(stdout, options.target, target.firstSector, target.sectorCount, findings, complete);
    else PrintFindingsText(stdout, options.target, target.firstSector, target.sectorCount, findings, complete);
    std::fflush(stdout);

    int status = !complete ? kExitFailed : findings.empty() ? kExitFailed : kExitOk;
    if (CliProgress::StopRequested()) return kExitStopped;
    if (!options.recoverDir.empty()) {
        CliRecoveryReport report = RecoverFindings(engine.get(), findings, options.recoverDir, progress, options.keepPartial,
                                                     !options.flat);
        FILE* out = options.json ? stderr : stdout;
        std::fprintf(out, "\nRecovered %zu of %zu files into %s\n", report.saved.size(), findings.size(), options.recoverDir.c_str());
        for (const auto& failure : report.failures)
            std::fprintf(out, "  Failed: %s: %s\n", failure.first.c_str(), failure.second.c_str());
        for (const std::string& partial : report.partial)
            std::fprintf(out, "  Partial (incomplete, kept on request): %s\n", partial.c_str());
        if (!report.reportPath.empty()) std::fprintf(out, "Report: %s\n", report.reportPath.c_str());
        else std::fprintf(stderr, "orvale-cli: no recovery report: %s\n", report.reportError.c_str());
        if (report.stopped) {
            std::fprintf(out, "Recovery stopped.\n");
            return kExitStopped;
        }
        if (!report.failures.empty()) status = kExitFailed;
    }
    return status;
}
} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && !std::strcmp(argv[1], "--version")) {
        std::printf("orvale-cli %s\n", ORVALE_VERSION);
        return kExitOk;
    }
    CliOptions options;
    std::string error;
    if (!ParseCliOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "orvale-cli: %s\n", error.c_str());
        PrintCliUsage(stderr);
        return kExitUsage;
    }
    switch (options.command) {
    case CliOptions::COMMAND_HELP: PrintCliUsage(stdout); return kExitOk;
    case CliOptions::COMMAND_DISKS: return ListDisks();
    case CliOptions::COMMAND_SCAN: return Scan(options);
    case CliOptions::COMMAND_NONE: break;
    }
    PrintCliUsage(stderr);
    return kExitUsage;
}
