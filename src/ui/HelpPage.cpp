#include "ui/HelpPage.h"

#include "platform/DeviceMap.h"

#include <QFile>
#include <QUrl>

QString HelpPageUrl(const char* section) {
    MakeDirectories(GetSupportDirPath());
    QString target = QString::fromStdString(GetSupportDirPath()) + "/help.html";
    QFile source(":/help/help.html");
    QFile out(target);
    if (!source.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly | QIODevice::Truncate)) return QString();
    out.write(source.readAll());
    out.close();
    QUrl url = QUrl::fromLocalFile(target);
    url.setFragment(QString::fromLatin1(section));
    return url.toString();
}
