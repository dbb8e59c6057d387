#pragma once
// Search hits grouped by category and lower-case extension, as the result page's
// type tree shows them; the groups hold positions in the hit list.
#include "engine/FileNode.h"

#include <QString>
#include <map>
#include <vector>

enum RESULT_CATEGORY {
    RESULT_PHOTO = 0,
    RESULT_MUSIC,
    RESULT_DOCUMENT,
    RESULT_VIDEO,
    RESULT_ARCHIVE,
    RESULT_OTHER,
    RESULT_CATEGORY_COUNT,
};

class CFileTypeGroups {
public:
    typedef std::map<QString, std::vector<int>> TypeMap;

    // Regroups the hits; records with an empty name are left out.
    void Build(const std::vector<__SEARCH_FILE_INFO__>& results);
    void Clear();

    const TypeMap& Map(int category) const { return m_maps[category]; }
    int Count(int category) const { return m_counts[category]; }
    // The hits of one extension row; empty when there is none.
    const std::vector<int>& Records(int category, const QString& extension) const;

    // Category of a lower-case extension (without the dot): the first list that holds
    // "." + extension, tested Photo, Music, Document, Video, Archive; Other for the rest
    // and for extensions of one letter.
    static int CategoryOfExtension(const QString& extension);
    // Row texts: "Photo(%1)" ... and "%1 Files (%2)"; the names are the first page's.
    static QString CategoryName(int category);
    static QString CategoryText(int category, int count);
    static QString ExtensionText(const QString& extension, int count);
    // The key files without an extension are filed under.
    static const QString& NoExtensionKey();

private:
    TypeMap m_maps[RESULT_CATEGORY_COUNT];
    int m_counts[RESULT_CATEGORY_COUNT] = {};
};
