#include "ui/PreviewFormat.h"

#include "platform/TextCodec.h"

#include <string>

QString WinHexBufData(const _FILE_NODE_* /*record*/, const unsigned char* data, int length) {
    std::string text;
    if (length > 0 && data) {
        text.reserve(static_cast<size_t>(length) + static_cast<size_t>(length) / 128 + 2);
        for (int i = 1; i <= length; ++i) {
            unsigned char c = data[i - 1];
            text.push_back(c == 0 ? '.' : static_cast<char>(c));
            if (i % 256 == 0) text += "\r\n";
        }
        if (length % 256 != 0) text += "\r\n";
    } else {
        text = "\r\n";
    }
    std::wstring wide(text.size() + 1, L'\0');
    long n = inner_str2uni(&wide[0], text.data(), static_cast<long>(wide.size()), static_cast<long>(text.size()));
    wide.resize(static_cast<size_t>(n));
    return QString::fromStdWString(wide);
}

QSize PreviewPictureSize(const QSize& picture) {
    if (picture.width() < 701) return picture;
    return picture.scaled(700, 200, Qt::KeepAspectRatio);
}
