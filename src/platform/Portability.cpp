#include "platform/Portability.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/time.h>
#include <unistd.h>

namespace {
int FillTime(SYSTEMTIME* st, bool local) {
    if (!st) return 87;
    timeval tv;
    ::gettimeofday(&tv, nullptr);
    time_t t = tv.tv_sec;
    tm parts;
    if ((local ? ::localtime_r(&t, &parts) : ::gmtime_r(&t, &parts)) == nullptr) return 34;
    st->wYear = static_cast<uint16_t>(parts.tm_year + 1900);
    st->wMonth = static_cast<uint16_t>(parts.tm_mon + 1);
    st->wDay = static_cast<uint16_t>(parts.tm_mday);
    st->wDayOfWeek = static_cast<uint16_t>(parts.tm_wday);
    st->wHour = static_cast<uint16_t>(parts.tm_hour);
    st->wMinute = static_cast<uint16_t>(parts.tm_min);
    st->wSecond = static_cast<uint16_t>(parts.tm_sec);
    st->wMilliseconds = static_cast<uint16_t>(tv.tv_usec / 1000);
    return 0;
}
} // namespace

void rsb_msleep(int ms) {
    if (ms <= 0) return;
    timespec req{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
    while (::nanosleep(&req, &req) != 0 && errno == EINTR) {}
}

long rsb_getTickCount() {
    timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int rsb_getLocalTime(SYSTEMTIME* st) { return FillTime(st, true); }
int rsb_getSystemTime(SYSTEMTIME* st) { return FillTime(st, false); }

int rsb_statH(int fd, STRUCT_RSB_FILE_ATTR* attr) {
    if (fd < 0) return -1;
    struct stat s;
    if (::fstat(fd, &s) != 0) return -1;
    if (!attr) return 0;
    uint64_t size = static_cast<uint64_t>(s.st_size);
    attr->mode = s.st_mode;
    attr->uid = s.st_uid;
    attr->gid = s.st_gid;
    attr->sizeHigh = static_cast<uint32_t>(size >> 32);
    attr->sizeLow = static_cast<uint32_t>(size);
    attr->accessTime = s.st_atime;
    attr->modifyTime = s.st_mtime;
    attr->changeTime = s.st_ctime;
    attr->device = s.st_dev;
    attr->serial = s.st_ino;
    attr->linkCount = s.st_nlink;
    return 0;
}

int rsb_getFileSizeH(int fd, int* sizeLow, int* sizeHigh) {
    STRUCT_RSB_FILE_ATTR attr;
    if (rsb_statH(fd, &attr) != 0) return -1;
    if (sizeLow) *sizeLow = static_cast<int>(attr.sizeLow);
    if (sizeHigh) *sizeHigh = static_cast<int>(attr.sizeHigh);
    return 0;
}

int rsb_getFreeSpace(char* path, int, unsigned* freeHigh, unsigned* freeLow) {
    if (freeHigh) *freeHigh = 0;
    if (freeLow) *freeLow = 0;
    if (!path || path[0] != '/') return 0;
    for (;;) {
        struct statvfs vfs;
        if (::statvfs(path, &vfs) == 0) {
            uint64_t bytes = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
            if (freeHigh) *freeHigh = static_cast<unsigned>(bytes >> 32);
            if (freeLow) *freeLow = static_cast<unsigned>(bytes);
            return 0;
        }
        char* slash = std::strrchr(path, '/');
        if (!slash) return -1;
        if (slash == path) {
            if (path[1] == 0) return -1;
            path[1] = 0;
        } else {
            *slash = 0;
        }
    }
}

long ReadAt(int fd, uint64_t offset, void* buf, size_t size) {
    unsigned char* p = static_cast<unsigned char*>(buf);
    size_t got = 0;
    while (got < size) {
        ssize_t n = ::pread(fd, p + got, size - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return got ? static_cast<long>(got) : -1;
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    return static_cast<long>(got);
}

int WriteAll(int fd, const void* data, size_t size) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    while (size > 0) {
        ssize_t w = ::write(fd, p, size);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return w < 0 ? errno : EIO;
        p += w;
        size -= static_cast<size_t>(w);
    }
    return 0;
}
