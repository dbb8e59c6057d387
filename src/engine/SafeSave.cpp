#include "engine/SafeSave.h"

#include "engine/IFileRecoveryParse.h"
#include "platform/PathHelpers.h"
#include "platform/TextCodec.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr size_t kMaxEnginePath = 512; // wide characters the engines accept

std::string FolderOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

// A short hidden name: the engines' path limit must not depend on the real name.
std::string TemporaryPath(const std::string& folder) {
    static std::atomic<unsigned> sequence{0};
    return folder + "/.orvale-" + std::to_string(static_cast<long>(::getpid())) + "-" +
           std::to_string(sequence.fetch_add(1)) + ".part";
}
} // namespace

int RenameWithoutReplacing(const std::string& from, const std::string& to, std::string& used) {
    for (int attempt = 0; attempt < 1000; ++attempt) {
        wchar_t free[4096];
        GetRealFileName(Unicode2Ansi(Utf8ToWide(to.c_str()).c_str()).c_str(), free, 4096); // it takes 8-bit paths
        used = WideToUtf8(free);
        if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, used.c_str(), RENAME_NOREPLACE) == 0) return 0;
        if (errno == EINVAL || errno == ENOSYS) {
            // No exclusive rename on this file system: a hard link fails on a taken name.
            if (::link(from.c_str(), used.c_str()) == 0) return ::unlink(from.c_str()) == 0 ? 0 : errno;
        }
        if (errno != EEXIST) return errno;
    }
    return EEXIST;
}

SafeSaveResult SaveFileSafely(IFileRecoveryParse* engine, const _FILE_NODE_& node, const std::string& finalPath,
                              int dirIndex, bool keepPartial, const std::function<int()>& errorSeen) {
    SafeSaveResult out;
    if (!engine) {
        out.code = 87;
        return out;
    }
    const std::string temporary = TemporaryPath(FolderOf(finalPath));
    std::wstring wide = Utf8ToWide(temporary.c_str());
    if (wide.size() >= kMaxEnginePath) {
        out.code = ENAMETOOLONG;
        return out;
    }
    std::vector<wchar_t> path(wide.begin(), wide.end());
    path.resize(kMaxEnginePath, L'\0');
    _FILE_NODE_ copy = node;
    out.code = engine->SaveFileData(&copy, path.data(), dirIndex);
    // The first error met is the cause; what the engine returned after going on is its consequence.
    if (out.code != RECOVERY_STOPPED && errorSeen)
        if (int first = errorSeen()) out.code = first;
    struct stat st;
    const bool exists = ::lstat(temporary.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    if (out.code == 0 && !exists) out.code = ENOENT;
    // An engine that went on past a failed read or write returns success with less
    // than the file: it is no more complete than one that stopped.
    if (out.code == 0 && static_cast<uint64_t>(st.st_size) < node.u64FileSize) out.code = 30;
    if (out.code == 0) {
        if (int rc = RenameWithoutReplacing(temporary, finalPath, out.savedPath)) {
            out.code = rc;
            out.savedPath.clear();
            ::unlink(temporary.c_str());
        }
        return out;
    }
    if (exists && keepPartial && st.st_size > 0 &&
        RenameWithoutReplacing(temporary, finalPath + ".partial", out.savedPath) == 0) {
        out.partial = true;
        return out;
    }
    out.savedPath.clear();
    if (exists) ::unlink(temporary.c_str());
    return out;
}
