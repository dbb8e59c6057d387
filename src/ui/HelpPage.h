#pragma once
// The application's own help page (about, support, help sections), written out
// of the resources into the support folder so the system browser can open it.
#include <QString>

// file:// address of the page with #section; empty when it cannot be written.
QString HelpPageUrl(const char* section);
