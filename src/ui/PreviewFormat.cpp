#include "ui/PreviewFormat.h"

#include "platform/TextCodec.h"

#include <QStringDecoder>
#include <string>

bool LooksLikeText(const unsigned char* data, int length) {
    if (!data || length <= 0) return false;
    int controls = 0;
    for (int i = 0; i < length; ++i) {
        const unsigned char c = data[i];
        if (c == 0) return false;
        if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != 0x1B) || c == 0x7F) ++controls;
    }
    return controls * 100 <= length;
}

namespace {
// Bytes of a UTF-8 sequence that the buffer's end cuts short, or 0.
int CutSequenceBytes(const unsigned char* data, int length) {
    for (int back = 1; back <= 3 && back <= length; ++back) {
        const unsigned char c = data[length - back];
        if ((c & 0xC0) == 0x80) continue;
        const int need = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        return need > back ? back : 0;
    }
    return 0;
}
} // namespace

QString PreviewText(const unsigned char* data, int length) {
    if (!data || length <= 0) return QString();
    const int whole = length - CutSequenceBytes(data, length);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(QByteArrayView(reinterpret_cast<const char*>(data), whole));
    if (utf8.hasError()) {
        std::wstring wide(static_cast<size_t>(length) + 1, L'\0');
        const long n = inner_str2uni(&wide[0], reinterpret_cast<const char*>(data), static_cast<long>(wide.size()),
                                     static_cast<long>(length));
        wide.resize(n > 0 ? static_cast<size_t>(n) : 0);
        text = QString::fromStdWString(wide);
    }
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QChar('\r'), QChar('\n'));
    return text;
}

QString HexDump(const unsigned char* data, int length) {
    if (!data || length <= 0) return QString();
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(static_cast<size_t>(length / 16 + 1) * 78);
    for (int line = 0; line < length; line += 16) {
        char offset[16];
        std::snprintf(offset, sizeof offset, "%08x  ", static_cast<unsigned>(line));
        out += offset;
        for (int i = 0; i < 16; ++i) {
            if (line + i < length) {
                out += kDigits[data[line + i] >> 4];
                out += kDigits[data[line + i] & 15];
                out += ' ';
            } else {
                out += "   ";
            }
            if (i == 7) out += ' ';
        }
        out += " |";
        for (int i = 0; i < 16 && line + i < length; ++i) {
            const unsigned char c = data[line + i];
            out += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '.';
        }
        out += "|\n";
    }
    return QString::fromLatin1(out.data(), static_cast<qsizetype>(out.size()));
}

QSize PreviewPictureSize(const QSize& picture, const QSize& pane) {
    if (picture.isEmpty() || pane.isEmpty()) return picture;
    if (picture.width() <= pane.width() && picture.height() <= pane.height()) return picture;
    return picture.scaled(pane, Qt::KeepAspectRatio);
}
