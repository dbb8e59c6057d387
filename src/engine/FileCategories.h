#pragma once
// The file-type categories: fixed lists of "*.ext|" items, 8-bit for membership
// tests and wide for composing search keys, and the icon table.
#include <string>

extern const char* const g_szPhotoTypes;
extern const char* const g_szAudioTypes;
extern const char* const g_szVideoTypes;
extern const char* const g_szDocumentTypes;
extern const char* const g_szArchiveTypes;
extern const char* const g_szArchiveTypes2;
extern const wchar_t* const g_wszPhotoTypes;
extern const wchar_t* const g_wszAudioTypes;
extern const wchar_t* const g_wszVideoTypes;
extern const wchar_t* const g_wszDocumentTypes;
extern const wchar_t* const g_wszArchiveTypes;
extern const wchar_t* const g_wszArchiveTypes2;
extern const wchar_t* const g_wszOtherTypes; // "*.other"

// Bits of the categories a user ticks, in the order the search key is composed.
enum FILE_CATEGORY_FLAG {
    CATEGORY_PHOTO = 1,
    CATEGORY_MUSIC = 2,
    CATEGORY_DOCUMENT = 4,
    CATEGORY_VIDEO = 8,
    CATEGORY_ARCHIVE = 16,
    CATEGORY_OTHER = 32,
    CATEGORY_ALL = 63,
};

// The wide search key of the ticked categories: Photo, Music, Document, Video,
// Archive (both lists), Other, joined without separators.
std::wstring BuildSearchKey(unsigned categoryFlags);

// Category of a file name by the membership rule: "photo", "audio", "video",
// "document", "archive" or "others" (also for keys shorter than 3 characters).
const char* GetFileCategoryName(const char* fileName);

// Sub-folder a recovered file is saved into: as GetFileCategoryName, but an
// extension key shorter than 3 characters gives the empty name (the save folder itself).
void GetDirTypeByFileName(const char* fileName, char* out);

// True when "." + lower-cased ext (ext without the dot) occurs in list.
bool IsExtensionInList(const char* ext, const char* list);

struct FILE_TYPE_ICON {
    const char* szExtension;
    const char* szIconPath;
};
// NULL-terminated table of (extension, icon resource path) pairs.
extern const FILE_TYPE_ICON szFileTypeStr[];
