#pragma once
// Where disks and the application's own files live on this platform.
#include <cstdint>
#include <string>

// The device path of disk number N: a registered image first, then the files
// diskN of $ORVALE_DISK_DIR when it is set, else "/dev/disk%d" where it exists,
// else the N-th whole-disk block device of /sys/block in name order.
std::string GetDiskDevicePath(int diskNo);

// Makes disk number N stand for the file at path in this process (image files
// scanned by the command-line tool). An empty path removes the entry.
void RegisterDiskPath(int diskNo, const std::string& path);

// Gives an image file or a device named by path a disk number of its own, the
// same number for the same real path in every run (so a scan log recorded for it
// matches again). Returns -1 when the path does not resolve.
int RegisterImageDisk(const std::string& path);

// Size in bytes of a device or image file. 0 or errno.
int GetDeviceSize(const std::string& path, uint64_t& bytes);

// True when the folder path (or its nearest existing parent) lies on the device
// or image at devicePath, or on one of its partitions, or on a loop device
// backed by that image: recovering there could overwrite what is being recovered.
bool IsPathOnDevice(const std::string& path, const std::string& devicePath);

// The support directory, without a trailing '/': $ORVALE_SUPPORT_DIR, else
// /var/lib/orvale for root, else $XDG_DATA_HOME/orvale (~/.local/share/orvale).
std::string GetSupportDirPath();
// The scan-log folder inside it, with a trailing '/'.
std::string GetScanLogDirPath();

// Creates path and its missing parents with mode 0755. 0 or errno.
int MakeDirectories(const std::string& path);
// Creates one folder with mode 0755; one that exists already is fine. 0 or errno.
int MakeFolder(const std::wstring& path);
