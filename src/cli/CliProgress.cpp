#include "cli/CliProgress.h"

#include "engine/DisplayFormat.h"
#include "engine/IFileRecoveryParse.h"
#include "platform/Portability.h"

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {
std::atomic<bool> g_stop{false};

void OnInterrupt(int) {
    if (g_stop.exchange(true)) {
        std::signal(SIGINT, SIG_DFL);
        std::raise(SIGINT);
    }
}
} // namespace

CliProgress::CliProgress(bool forced)
    : m_bTerminal(::isatty(2) == 1), m_bShown(forced || m_bTerminal), m_nLastPercent(-1), m_lLastTick(0), m_bLineOpen(false), m_u64Current(0),
      m_u64Total(0), m_nFileIndex(0), m_nFileTotal(0), m_nFileError(0) {}

void CliProgress::InstallInterruptHandler() {
    struct sigaction sa = {};
    sa.sa_handler = OnInterrupt;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
}

bool CliProgress::StopRequested() { return g_stop.load(); }

void CliProgress::Show(const std::string& line, int percent) {
    if (!m_bShown) return;
    long now = rsb_getTickCount();
    if (m_bTerminal) {
        // Redraw in place, at most ten times a second.
        if (percent != 100 && now - m_lLastTick < 100 && percent == m_nLastPercent) return;
        std::fprintf(stderr, "\r\033[K%s", line.c_str());
        m_bLineOpen = true;
    } else {
        // Plain lines for logs: one per whole percent step.
        if (percent == m_nLastPercent) return;
        std::fprintf(stderr, "%s\n", line.c_str());
    }
    std::fflush(stderr);
    m_nLastPercent = percent;
    m_lLastTick = now;
}

void CliProgress::Finish() {
    if (m_bLineOpen) std::fputc('\n', stderr);
    m_bLineOpen = false;
    m_nLastPercent = -1;
}

int CliProgress::ScanCallBack(void* pParam, int nProgress, int nPercent, int nRemaindSecond, uint64_t cur,
                              uint64_t total, uint64_t found, wchar_t*) {
    auto* self = static_cast<CliProgress*>(pParam);
    int value = nProgress * nPercent / 100;
    if (value > 100) value = 100;
    if (total) {
        self->m_u64Current = cur;
        self->m_u64Total = total;
    }
    char line[256];
    if (total == 0) {
        self->Show(found ? "Scanning: 100%  " + std::to_string(found) + " files found" : "Scanning: 100%", 100);
        return g_stop.load() ? 1 : 0;
    }
    int n = std::snprintf(line, sizeof line, "Scanning: %3d%%  sector %llu/%llu  %llu files found", value,
                          static_cast<unsigned long long>(cur), static_cast<unsigned long long>(total),
                          static_cast<unsigned long long>(found));
    if (nRemaindSecond >= 0 && value < 100 && n > 0 && static_cast<size_t>(n) < sizeof line)
        std::snprintf(line + n, sizeof line - n, "  %s left", GetTimeString(nRemaindSecond).c_str());
    self->Show(line, value);
    return g_stop.load() ? 1 : 0;
}

int CliProgress::SearchCallBack(void* pParam, int nProgress, wchar_t*) {
    auto* self = static_cast<CliProgress*>(pParam);
    self->Show("Searching: " + std::to_string(nProgress) + "%", nProgress);
    return g_stop.load() ? 1 : 0;
}

void CliProgress::BeginFile(size_t index, size_t total, const std::string& name) {
    m_nFileIndex = index;
    m_nFileTotal = total;
    m_strFile = name;
    m_nLastPercent = -1;
    m_nFileError = 0;
}

int CliProgress::RecoveryCallBack(void* pParam, int nProgress, int, int nErrorCode, wchar_t*) {
    auto* self = static_cast<CliProgress*>(pParam);
    if (nErrorCode != 0 && nErrorCode != RECOVERY_STOPPED && self->m_nFileError == 0) self->m_nFileError = nErrorCode;
    if (self->m_nFileTotal && (self->m_bTerminal || nProgress >= 100)) {
        char line[512];
        std::snprintf(line, sizeof line, "Recovering %zu/%zu: %3d%%  %s", self->m_nFileIndex + 1, self->m_nFileTotal,
                      nProgress, self->m_strFile.c_str());
        self->Show(line, nProgress);
    }
    return g_stop.load() ? RECOVERY_STOPPED : 0;
}
