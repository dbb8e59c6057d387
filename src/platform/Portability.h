#pragma once
// Clocks, sleeps, file status and free space, in the program's portable form.
#include <cstdint>
#include <cstddef>

struct SYSTEMTIME {
    uint16_t wYear;
    uint16_t wMonth;      // 1-12
    uint16_t wDay;        // day of the month
    uint16_t wDayOfWeek;  // 0 = Sunday
    uint16_t wHour;
    uint16_t wMinute;
    uint16_t wSecond;
    uint16_t wMilliseconds;
};

struct STRUCT_RSB_FILE_ATTR {
    uint32_t mode;
    uint32_t uid;
    uint32_t gid;
    uint32_t sizeHigh;
    uint32_t sizeLow;
    int64_t accessTime;
    int64_t modifyTime;
    int64_t changeTime;
    uint64_t device;
    uint64_t serial;
    uint64_t linkCount;
};

void rsb_msleep(int ms);
// Milliseconds of a monotonic clock; only differences are meaningful.
long rsb_getTickCount();
// Current local / UTC time. 34 when the calendar conversion fails, else 0.
int rsb_getLocalTime(SYSTEMTIME* st);
int rsb_getSystemTime(SYSTEMTIME* st);
// Status of an open file; -1 for a negative descriptor or a failed call.
int rsb_statH(int fd, STRUCT_RSB_FILE_ATTR* attr);
int rsb_getFileSizeH(int fd, int* sizeLow, int* sizeHigh);
// Free bytes available to the user on the volume holding path, walking up to
// the nearest existing folder (path is cut in place). 0 or -1.
int rsb_getFreeSpace(char* path, int reserved, unsigned* freeHigh, unsigned* freeLow);

// Writes all size bytes to fd, restarting after interruptions and short writes.
// 0, or errno (EIO when the device takes nothing).
int WriteAll(int fd, const void* data, size_t size);
// Reads up to size bytes at offset, restarting after interruptions and short
// reads: the count read (less at the end of the file), or -1 when an error came
// before any byte.
long ReadAt(int fd, uint64_t offset, void* buf, size_t size);
