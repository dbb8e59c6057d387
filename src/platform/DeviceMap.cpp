#include "platform/DeviceMap.h"

#include "platform/TextCodec.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <cstdio>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {
std::mutex g_registryMutex;
std::map<int, std::string>& Registry() {
    static std::map<int, std::string> registry;
    return registry;
}

bool Exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// Whole disks of /sys/block: partitions live below their disk there, so every
// entry is a whole device; loop, ram and zram devices are not disks a user picks
// unless they carry data (a loop device has a backing file).
std::vector<std::string> WholeDisks() {
    std::vector<std::string> names;
    DIR* dir = ::opendir("/sys/block");
    if (!dir) return names;
    while (dirent* e = ::readdir(dir)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        if (name.rfind("ram", 0) == 0 || name.rfind("zram", 0) == 0) continue;
        if (name.rfind("loop", 0) == 0 && !Exists("/sys/block/" + name + "/loop/backing_file")) continue;
        names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}
} // namespace

void RegisterDiskPath(int diskNo, const std::string& path) {
    std::lock_guard<std::mutex> lock(g_registryMutex);
    if (path.empty()) Registry().erase(diskNo);
    else Registry()[diskNo] = path;
}

std::string GetDiskDevicePath(int diskNo) {
    {
        std::lock_guard<std::mutex> lock(g_registryMutex);
        auto it = Registry().find(diskNo);
        if (it != Registry().end()) return it->second;
    }
    if (const char* dir = std::getenv("ORVALE_DISK_DIR"); dir && *dir)
        return std::string(dir) + "/disk" + std::to_string(diskNo);
    std::string mac = "/dev/disk" + std::to_string(diskNo);
    if (Exists(mac)) return mac;
    std::vector<std::string> disks = WholeDisks();
    if (diskNo >= 0 && static_cast<size_t>(diskNo) < disks.size()) return "/dev/" + disks[diskNo];
    return mac;
}

int RegisterImageDisk(const std::string& path) {
    char real[PATH_MAX];
    if (!::realpath(path.c_str(), real)) return -1;
    // FNV-1a of the real path, kept clear of the numbers of real disks (0-127)
    // and of the number 128 that scans opened by path use.
    uint32_t h = 2166136261u;
    for (const char* p = real; *p; ++p) h = (h ^ static_cast<unsigned char>(*p)) * 16777619u;
    int diskNo = 1000 + static_cast<int>(h % 900000u);
    RegisterDiskPath(diskNo, real);
    return diskNo;
}

int GetDeviceSize(const std::string& path, uint64_t& bytes) {
    bytes = 0;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return errno;
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (S_ISREG(st.st_mode)) {
        bytes = static_cast<uint64_t>(st.st_size);
        return 0;
    }
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    int rc = 0;
    if (S_ISBLK(st.st_mode)) {
        if (::ioctl(fd, BLKGETSIZE64, &bytes) != 0) rc = errno;
    } else {
        off_t end = ::lseek(fd, 0, SEEK_END);
        if (end < 0) rc = errno;
        else bytes = static_cast<uint64_t>(end);
    }
    ::close(fd);
    return rc;
}

namespace {
std::string ReadSmallFile(const std::string& path) {
    std::string text;
    if (FILE* f = std::fopen(path.c_str(), "r")) {
        char buf[4096];
        size_t n = std::fread(buf, 1, sizeof buf, f);
        text.assign(buf, n);
        std::fclose(f);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

std::string DevText(dev_t dev) { return std::to_string(major(dev)) + ":" + std::to_string(minor(dev)); }

// The whole disk a block device number belongs to (itself when it is a whole disk).
std::string WholeDiskOf(dev_t dev) {
    char real[PATH_MAX];
    std::string link = "/sys/dev/block/" + DevText(dev);
    if (!::realpath(link.c_str(), real)) return DevText(dev);
    if (::access((std::string(real) + "/partition").c_str(), F_OK) == 0) {
        std::string parent = ReadSmallFile(std::string(real) + "/../dev");
        if (!parent.empty()) return parent;
    }
    return DevText(dev);
}
} // namespace

bool IsPathOnDevice(const std::string& path, const std::string& devicePath) {
    struct stat device;
    if (::stat(devicePath.c_str(), &device) != 0) return false;
    std::string folder = path.empty() ? "." : path;
    struct stat target;
    while (::stat(folder.c_str(), &target) != 0) {
        size_t slash = folder.find_last_of('/');
        if (slash == std::string::npos) folder = ".";
        else if (slash == 0) folder = "/";
        else folder = folder.substr(0, slash);
        if (folder == "." || folder == "/") {
            if (::stat(folder.c_str(), &target) != 0) return false;
            break;
        }
    }
    std::vector<std::string> disks;
    if (S_ISBLK(device.st_mode)) {
        disks.push_back(WholeDiskOf(device.st_rdev));
    } else if (S_ISREG(device.st_mode)) {
        // An image is "the device" of the loop devices it backs.
        char real[PATH_MAX];
        if (!::realpath(devicePath.c_str(), real)) return false;
        if (DIR* dir = ::opendir("/sys/block")) {
            while (dirent* e = ::readdir(dir)) {
                std::string name = e->d_name;
                if (name.rfind("loop", 0) != 0) continue;
                if (ReadSmallFile("/sys/block/" + name + "/loop/backing_file") == real)
                    disks.push_back(ReadSmallFile("/sys/block/" + name + "/dev"));
            }
            ::closedir(dir);
        }
    }
    std::string targetDisk = WholeDiskOf(target.st_dev);
    for (const std::string& disk : disks)
        if (!disk.empty() && disk == targetDisk) return true;
    return false;
}

std::string GetSupportDirPath() {
    if (const char* dir = std::getenv("ORVALE_SUPPORT_DIR"); dir && *dir) return dir;
    if (::geteuid() == 0) return "/var/lib/orvale";
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) return std::string(xdg) + "/orvale";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/.local/share/orvale";
}

std::string GetScanLogDirPath() { return GetSupportDirPath() + "/ScanLog/"; }

int MakeDirectories(const std::string& path) {
    if (path.empty()) return 0;
    std::string partial;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        partial = path.substr(0, pos);
        if (partial.empty()) continue;
        if (::mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return errno;
    }
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return errno;
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

int MakeFolder(const std::wstring& path) {
    const std::string p = WideToUtf8(path.c_str());
    if (::mkdir(p.c_str(), 0755) == 0 || errno == EEXIST) return 0;
    return errno;
}
