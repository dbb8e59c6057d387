#include "ui/ResultPageFactory.h"

#include "ui/CResultPage.h"

QWidget* BuildResultPage(DRUI* owner, QWidget* parent) { return new CResultPage(owner, parent); }
