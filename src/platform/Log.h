#pragma once
// Debug messages of the engines. The engines never depend on Qt: the desktop
// application installs a sink that forwards to its message handler; by default
// messages go to standard error only when ORVALE_DEBUG is set.
typedef void (*OrvaleLogSink)(const char* message);

void SetOrvaleLogSink(OrvaleLogSink sink);
void OrvaleLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
