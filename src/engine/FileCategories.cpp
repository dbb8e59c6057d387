#include "engine/FileCategories.h"

#include <cstring>
#include <string>

#define ORVALE_PHOTO "*.bmp|*.gif|*.jpg|*.jpeg|*.png|*.psd|*.tif|*.tiff|*.pcx|*.scr|*.ico|*.nef|*.nrw|*.crw|*.cr2|*.sr2|*.arw|*.srf|*.divu|*.pgm|*.k25|*.kdc|*.dcr|*.raf|*.iff|*.pbm|*.mef|*.jp2|*.mos|*.x3f|*.orf|*.erf|*.indd|*.pef|*.psp|*.mrw|*.dng|*.raw|*.pct|*.tga|*.thm|*.icns|"
#define ORVALE_AUDIO "*.mp3|*.wav|*.ape|*.aiff|*.rps|*.mid|*.midi|*.m4a|*.m4p|*.au|*.ogg|*.wma|*.rm|*.ra|*.acd|*.amr|*.at3|*.caf|*.dss|*.m4r|*.nra|*.snd"
#define ORVALE_VIDEO "*.rmvb|*.rm|*.mpeg|*.mov|*.avi|*.wmv|*.asf|*.mp4|*.flv|*.fla|*.swf|*.m4v|*.3gp|*.dv|*.3g2|*.m4b|*.mkv|*.mts|*.divx|*.ogm|*.moi|*.vob|*.ajp|*.f4v|*.mqv|*.svi|*.vid|*.tod|*.hdmov|*.mod|*.mxf|*.lrv|"
#define ORVALE_DOCUMENT "*.doc|*.xls|*.ppt|*.odt|*.ods|*.pdf|*.docx|*.xlsx|*.pptx|*.ole|*.txt|*.xml|*.chm|*.htm|*.html|*.pst|*.dbx|*.wps|*.dps|*.et|*.one|*.mpp|*.mdb|*.accdb|*.csv|*.json|*.sh"
#define ORVALE_ARCHIVE "*.zip|*.rar|*.gzip|*.tar|*.7z|*.cab|*.arj|*.lzh|*.ace|*.gz|*.uue|*.bz2|*.jar|*.iso|*.exe|*.dmg|"
#define ORVALE_ARCHIVE2 "*.pdf|*.doc|*.dot|*.docx|*.dotx|*.docm|*.dotm|*.rtf|*.odt|*.ppt|*.pptx|*.pptm|*.pps|*.ppsx|*.ppsm|*.odp|*.xls|*.xlsx|*.xlsm|*.csv|*.odc|*.vsd|*.vsdm|*.vsdx|*.pub|*.mpp|*.ics|*.vcf|*.msg|*.zip|*.rar|*.gzip|*.tar|*.7z|*.cab|*.arj|*.lzh|*.ace|*.gz|*.uue|*.bz2|*.jar|*.iso"
#define ORVALE_WIDE(s) L"" s

const char* const g_szPhotoTypes = ORVALE_PHOTO;
const char* const g_szAudioTypes = ORVALE_AUDIO;
const char* const g_szVideoTypes = ORVALE_VIDEO;
const char* const g_szDocumentTypes = ORVALE_DOCUMENT;
const char* const g_szArchiveTypes = ORVALE_ARCHIVE;
const char* const g_szArchiveTypes2 = ORVALE_ARCHIVE2;
const wchar_t* const g_wszPhotoTypes = ORVALE_WIDE(ORVALE_PHOTO);
const wchar_t* const g_wszAudioTypes = ORVALE_WIDE(ORVALE_AUDIO);
const wchar_t* const g_wszVideoTypes = ORVALE_WIDE(ORVALE_VIDEO);
const wchar_t* const g_wszDocumentTypes = ORVALE_WIDE(ORVALE_DOCUMENT);
const wchar_t* const g_wszArchiveTypes = ORVALE_WIDE(ORVALE_ARCHIVE);
const wchar_t* const g_wszArchiveTypes2 = ORVALE_WIDE(ORVALE_ARCHIVE2);
const wchar_t* const g_wszOtherTypes = L"*.other";

std::wstring BuildSearchKey(unsigned flags) {
    std::wstring key;
    if (flags & CATEGORY_PHOTO) key += g_wszPhotoTypes;
    if (flags & CATEGORY_MUSIC) key += g_wszAudioTypes;
    if (flags & CATEGORY_DOCUMENT) key += g_wszDocumentTypes;
    if (flags & CATEGORY_VIDEO) key += g_wszVideoTypes;
    if (flags & CATEGORY_ARCHIVE) { key += g_wszArchiveTypes; key += g_wszArchiveTypes2; }
    if (flags & CATEGORY_OTHER) key += g_wszOtherTypes;
    return key;
}

namespace {
// "." + lower-cased extension of the name, empty when the name has no '.'.
std::string ExtensionNeedle(const char* fileName) {
    if (!fileName) return std::string();
    const char* dot = std::strrchr(fileName, '.');
    if (!dot) return std::string();
    std::string needle = dot;
    for (char& c : needle)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return needle;
}

const char* CategoryOfNeedle(const std::string& needle) {
    if (needle.size() < 3) return nullptr;
    const char* n = needle.c_str();
    if (std::strstr(g_szPhotoTypes, n)) return "photo";
    if (std::strstr(g_szAudioTypes, n)) return "audio";
    if (std::strstr(g_szVideoTypes, n)) return "video";
    if (std::strstr(g_szDocumentTypes, n)) return "document";
    if (std::strstr(g_szArchiveTypes, n) || std::strstr(g_szArchiveTypes2, n)) return "archive";
    return "others";
}
} // namespace

bool IsExtensionInList(const char* ext, const char* list) {
    if (!ext || !list) return false;
    std::string needle = std::string(".") + ext;
    for (char& c : needle)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return needle.size() >= 3 && std::strstr(list, needle.c_str()) != nullptr;
}

const char* GetFileCategoryName(const char* fileName) {
    const char* category = CategoryOfNeedle(ExtensionNeedle(fileName));
    return category ? category : "others";
}

void GetDirTypeByFileName(const char* fileName, char* out) {
    if (!out) return;
    const char* category = CategoryOfNeedle(ExtensionNeedle(fileName));
    std::strcpy(out, category ? category : "");
}

#define ICON(k) {k, ":/image/FileIcon/" k ".png"}
const FILE_TYPE_ICON szFileTypeStr[] = {
    ICON("7z"), ICON("accdb"), ICON("ace"), ICON("acid"), ICON("aiff"), ICON("asf"), ICON("at3"), ICON("au"),
    ICON("avi"), ICON("bmp"), ICON("cab"), ICON("chm"), ICON("divx"), ICON("doc"), ICON("dss"), ICON("dv"),
    ICON("epson"), ICON("exe"), ICON("gif"), ICON("gzip"), ICON("html"), ICON("ico"), ICON("indd"), ICON("jar"),
    ICON("jpg"), {"jpeg", ":/image/FileIcon/jpg.png"}, ICON("mamiya"), ICON("mid"), ICON("minolta"), ICON("mov"),
    ICON("mp3"), ICON("mp4"), ICON("mpeg"), ICON("music"), ICON("ods"), ICON("ogg"), ICON("one"), ICON("other"),
    ICON("pdf"), ICON("png"), ICON("ppt"), ICON("psd"), ICON("psp"), ICON("rar"), ICON("real"), ICON("rmvb"),
    ICON("rps"), ICON("thm"), ICON("tif"), {"tiff", ":/image/FileIcon/tif.png"}, ICON("tod"), ICON("txt"),
    ICON("vob"), ICON("wma"), ICON("wmv"), ICON("wps"), ICON("xls"), ICON("xml"), ICON("zip"),
    ICON("audio_default"), ICON("default"), ICON("image"), ICON("office_default"), ICON("photo_default"),
    ICON("video_default"), {nullptr, nullptr}};
#undef ICON
