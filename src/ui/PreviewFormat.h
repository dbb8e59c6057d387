#pragma once
// The two forms a preview takes: the text of a file's first bytes, and the
// size a picture is shown at in the 720 x 200 preview area.
#include <QSize>
#include <QString>

struct _FILE_NODE_;

// Zero bytes become '.', a line ends after every 256 bytes and after the last one;
// the bytes are decoded as the program's 8-bit text (GB18030), so bytes that form
// no character show as U+FFFD instead of vanishing. The record is not used.
QString WinHexBufData(const _FILE_NODE_* record, const unsigned char* data, int length);

// Pictures 701 pixels wide or more are fitted into 700 x 200 keeping their aspect
// ratio; smaller ones keep their size.
QSize PreviewPictureSize(const QSize& picture);
