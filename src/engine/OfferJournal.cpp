#include "engine/OfferJournal.h"

#include "platform/Portability.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

OfferJournal::~OfferJournal() { Close(); }

void OfferJournal::Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    m_Pending.clear();
}

bool OfferJournal::Open(const std::string& logDir, uint64_t keepBelow) {
    Close();
    m_Kept.clear();
    m_fd = ::open((logDir + "/" + kFileName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (m_fd < 0) return false;
    struct stat st;
    const uint64_t bytes = ::fstat(m_fd, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
    // A kill while writing leaves part of an entry: it never counted.
    std::vector<uint64_t> all(bytes / sizeof(uint64_t));
    if (!all.empty() && ::pread(m_fd, all.data(), all.size() * sizeof(uint64_t), 0) !=
                            static_cast<ssize_t>(all.size() * sizeof(uint64_t)))
        all.clear();
    size_t taken = 0;
    for (; taken < all.size(); ++taken) {
        const uint64_t s = all[taken];
        if (s >= keepBelow || (!m_Kept.empty() && s < m_Kept.back())) break;
        if (m_Kept.empty() || s != m_Kept.back()) m_Kept.push_back(s);
    }
    const off_t keep = static_cast<off_t>(taken * sizeof(uint64_t));
    if (::ftruncate(m_fd, keep) != 0 || ::lseek(m_fd, keep, SEEK_SET) != keep) {
        Close();
        return false;
    }
    return true;
}

int OfferJournal::Sync() {
    if (m_fd < 0) return EBADF;
    int rc = 0;
    if (!m_Pending.empty())
        rc = WriteAll(m_fd, m_Pending.data(), m_Pending.size() * sizeof(uint64_t));
    m_Pending.clear();
    if (rc == 0 && ::fdatasync(m_fd) != 0) rc = errno;
    return rc;
}
