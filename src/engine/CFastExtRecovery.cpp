#include "engine/CFastExtRecovery.h"

#include "platform/DeviceMap.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

CFastExtRecovery::~CFastExtRecovery() {
    if (m_hDevice >= 0) ::close(m_hDevice);
}

int CFastExtRecovery::Init(int diskNo, long long startSector, long long sectorCount, wchar_t) {
    if (m_hDevice >= 0) ::close(m_hDevice);
    m_hDevice = ::open(GetDiskDevicePath(diskNo).c_str(), O_RDONLY | O_CLOEXEC);
    if (m_hDevice < 0) return errno;
    m_llStartSector = startSector;
    m_llSectorCount = sectorCount;
    return 0;
}

int CFastExtRecovery::Init(wchar_t*, wchar_t) { return 0; }
