#pragma once
// The main window's third page is its own widget class (the result browser);
// the window builds it here after every scan and search.
class DRUI;
class QWidget;

QWidget* BuildResultPage(DRUI* owner, QWidget* parent);
