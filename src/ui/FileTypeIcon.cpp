#include "ui/FileTypeIcon.h"

#include "engine/FileCategories.h"
#include "platform/TextCodec.h"

#include <cstring>
#include <string>
#include <strings.h>

QString GetExtendNameIcon(const QString& extension) {
    QString needle = extension.startsWith('.') ? extension : QStringLiteral(".") + extension;
    // The lists hold lower-case items; the needle is compared as the lists' 8-bit text.
    std::string n = Unicode2Ansi(needle.toLower().toStdWString().c_str());
    QString icon;
    if (needle.size() >= 3) {
        if (std::strstr(g_szPhotoTypes, n.c_str()))
            icon = QStringLiteral(":/image/FileIcon/image.png");
        else if (std::strstr(g_szAudioTypes, n.c_str()))
            icon = QStringLiteral(":/image/FileIcon/audio_default.png");
        else if (std::strstr(g_szDocumentTypes, n.c_str()))
            icon = QStringLiteral(":/image/FileIcon/office_default.png");
        else if (std::strstr(g_szVideoTypes, n.c_str()))
            icon = QStringLiteral(":/image/FileIcon/video_default.png");
        else if (std::strstr(g_szArchiveTypes, n.c_str()))
            icon = QStringLiteral(":/image/FileIcon/zip.png");
        else if (std::strstr(g_szArchiveTypes2, n.c_str()))
            icon = QStringLiteral(":/image/FileIcon/office_default.png");
        else
            icon = QStringLiteral(":/image/FileIcon/other.png");
    }
    std::string ext = Unicode2Ansi(extension.toStdWString().c_str());
    for (const FILE_TYPE_ICON* entry = szFileTypeStr; entry->szExtension; ++entry) {
        if (::strcasecmp(entry->szExtension, ext.c_str()) == 0) {
            icon = QString::fromLatin1(entry->szIconPath);
            break;
        }
    }
    return icon;
}
