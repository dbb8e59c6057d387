#include "platform/Log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {
std::atomic<OrvaleLogSink> g_sink{nullptr};

void DefaultSink(const char* message) {
    static const bool enabled = std::getenv("ORVALE_DEBUG") != nullptr;
    if (enabled) std::fputs(message, stderr);
}
} // namespace

void SetOrvaleLogSink(OrvaleLogSink sink) { g_sink.store(sink); }

void OrvaleLog(const char* format, ...) {
    char text[1024];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    OrvaleLogSink sink = g_sink.load();
    (sink ? sink : DefaultSink)(text);
}
