#include "ui/ResultPageFactory.h"

#if __has_include("ui/CResultPage.h")
#include "ui/CResultPage.h"
QWidget* BuildResultPage(DRUI* owner, QWidget* parent) { return new CResultPage(owner, parent); }
#else
#include "ui/CScanSummaryPage.h"
QWidget* BuildResultPage(DRUI* owner, QWidget* parent) { return new CScanSummaryPage(owner, parent); }
#endif
