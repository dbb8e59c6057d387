#pragma once
// The main window's third page is its own widget class; the window builds it
// here after every scan and search. When the result browser (CResultPage.h in
// this folder) is present it is used: `CResultPage(DRUI* owner, QWidget* parent)`,
// reading owner->GetEngine() and owner->GetSearchResults(). Otherwise a summary
// page shows the number of hits.
class DRUI;
class QWidget;

QWidget* BuildResultPage(DRUI* owner, QWidget* parent);
