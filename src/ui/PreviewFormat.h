#pragma once
// The forms a preview takes: a file's first bytes as text or as a hex dump, and
// the size a picture is shown at in the preview pane.
#include <QSize>
#include <QString>

// Text is bytes without NUL whose control characters, other than tab, line and
// page breaks and escape, are at most one in a hundred.
bool LooksLikeText(const unsigned char* data, int length);
// The bytes as UTF-8 when they are (a character cut by the end of the buffer
// is dropped), else as the program's 8-bit text; CR LF and lone CR become LF.
QString PreviewText(const unsigned char* data, int length);
// Sixteen bytes a line: offset, hex bytes, and the printable ASCII ('.' else).
QString HexDump(const unsigned char* data, int length);
// A picture fitted into the pane keeping its aspect ratio; never enlarged.
QSize PreviewPictureSize(const QSize& picture, const QSize& pane);
