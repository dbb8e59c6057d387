#include "ui/CFileTypeGroups.h"

#include "engine/FileCategories.h"
#include "platform/PathHelpers.h"
#include "platform/TextCodec.h"
#include "platform/TextHelpers.h"

#include <cstring>
#include <string>

namespace {
const char* const kCategoryNames[RESULT_CATEGORY_COUNT] = {"Photo", "Music", "Document", "Video", "Archive", "Other"};
} // namespace

const QString& CFileTypeGroups::NoExtensionKey() {
    static const QString key = QStringLiteral("unknown");
    return key;
}

int CFileTypeGroups::CategoryOfExtension(const QString& extension) {
    std::string needle = "." + Unicode2Ansi(extension.toStdWString().c_str());
    if (needle.size() < 3) return RESULT_OTHER;
    const char* n = needle.c_str();
    if (std::strstr(g_szPhotoTypes, n)) return RESULT_PHOTO;
    if (std::strstr(g_szAudioTypes, n)) return RESULT_MUSIC;
    if (std::strstr(g_szDocumentTypes, n)) return RESULT_DOCUMENT;
    if (std::strstr(g_szVideoTypes, n)) return RESULT_VIDEO;
    if (std::strstr(g_szArchiveTypes, n) || std::strstr(g_szArchiveTypes2, n)) return RESULT_ARCHIVE;
    return RESULT_OTHER;
}

QString CFileTypeGroups::CategoryName(int category) {
    return QLatin1String(kCategoryNames[category < 0 || category >= RESULT_CATEGORY_COUNT ? RESULT_OTHER : category]);
}

QString CFileTypeGroups::CategoryText(int category, int count) {
    return QStringLiteral("%1(%2)").arg(CategoryName(category)).arg(count);
}

QString CFileTypeGroups::ExtensionText(const QString& extension, int count) {
    return QStringLiteral("%1 Files (%2)").arg(extension).arg(count);
}

void CFileTypeGroups::Clear() {
    for (int i = 0; i < RESULT_CATEGORY_COUNT; ++i) {
        m_maps[i].clear();
        m_counts[i] = 0;
    }
}

void CFileTypeGroups::Build(const std::vector<__SEARCH_FILE_INFO__>& results) {
    Clear();
    for (int index = 0; index < static_cast<int>(results.size()); ++index) {
        const __SEARCH_FILE_INFO__& hit = results[static_cast<size_t>(index)];
        // The name field may lack its terminator in a damaged store.
        char name[sizeof hit.szFileName + 1];
        std::memcpy(name, hit.szFileName, sizeof hit.szFileName);
        name[sizeof hit.szFileName] = 0;
        char ext[sizeof name];
        if (GetExtendName(name, ext) != 0) {
            if (name[0] == 0) continue;
            m_maps[RESULT_OTHER][NoExtensionKey()].push_back(index);
            ++m_counts[RESULT_OTHER];
            continue;
        }
        std::wstring wideExt = Ansi2Unicode(ext);
        GetCharLowerW(&wideExt[0]);
        QString key = QString::fromStdWString(wideExt);
        int category = CategoryOfExtension(key);
        m_maps[category][key].push_back(index);
        ++m_counts[category];
    }
}

const std::vector<int>& CFileTypeGroups::Records(int category, const QString& extension) const {
    static const std::vector<int> none;
    if (category < 0 || category >= RESULT_CATEGORY_COUNT) return none;
    auto it = m_maps[category].find(extension);
    return it == m_maps[category].end() ? none : it->second;
}
