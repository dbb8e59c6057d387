#include "engine/RecoveryLayout.h"

#include "engine/IFileRecoveryParse.h"
#include "platform/PathHelpers.h"
#include "platform/TextCodec.h"

#include <cerrno>
#include <vector>

const char* RecoveryEngineName(uint32_t fileSystemType) {
    switch (fileSystemType) {
    case FS_TYPE_FAST_NTFS: return "quick-ntfs";
    case FS_TYPE_FAST_FAT: return "quick-fat";
    case FS_TYPE_PRO_NTFS: return "deep-ntfs";
    case FS_TYPE_PRO_FAT: return "deep-fat";
    case FS_TYPE_FAST_EXFAT: return "quick-exfat";
    case FS_TYPE_PRO_EXFAT: return "deep-exfat";
    case FS_TYPE_FAST_EXT: return "quick-ext";
    case FS_TYPE_PRO_EXT: return "deep-ext";
    default: return "carved";
    }
}

uint64_t FoundFileFirstSector(IFileRecoveryParse* engine, bool deep, const _FILE_NODE_& node) {
    // A FAT file without a cluster owns no data: its entry's sector stands for it.
    const bool fat = node.nFileSystemType == FS_TYPE_FAST_FAT || node.nFileSystemType == FS_TYPE_PRO_FAT;
    uint64_t sector = 0;
    const bool quickAnswers = node.nFileSystemType == FS_TYPE_FAST_FAT || node.nFileSystemType == FS_TYPE_FAST_EXFAT;
    if (engine && (deep || quickAnswers) && !(fat && node.nClusterNO < 2) &&
        engine->GetFileDataStartSector(const_cast<_FILE_NODE_*>(&node), sector) == 0)
        return sector;
    return node.u64RecordSector;
}

std::string RecoveryRelativeFolder(const std::string& categoryFolder, const std::string& originalFolder,
                                   bool keepTree) {
    std::string out = categoryFolder;
    if (!keepTree) return out;
    size_t begin = 0;
    while (begin < originalFolder.size()) {
        size_t end = originalFolder.find('/', begin);
        if (end == std::string::npos) end = originalFolder.size();
        // Empty components (a leading, doubled or trailing '/') name no folder.
        if (end > begin) {
            std::string component = SanitizeFileName(originalFolder.substr(begin, end - begin).c_str());
            out += out.empty() ? component : "/" + component;
        }
        begin = end + 1;
    }
    return out;
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

RecoveryReportFile::RecoveryReportFile(const std::string& folder) {
    std::string wanted = Unicode2Ansi(Utf8ToWide((folder + "/orvale-report.csv").c_str()).c_str());
    // "x" creates exclusively: a name taken since GetRealFileName looked is tried again.
    for (int attempt = 0; attempt < 8 && !m_file; ++attempt) {
        std::vector<wchar_t> free(4096, L'\0');
        GetRealFileName(wanted.c_str(), free.data(), static_cast<int>(free.size()));
        m_path = WideToUtf8(free.data());
        m_file = std::fopen(m_path.c_str(), "wx");
        m_error = m_file ? 0 : errno;
        if (m_error != EEXIST) break;
    }
    if (!m_file) {
        m_path.clear();
        return;
    }
    std::fputs("original_path,saved_path,size,health,engine,first_sector,status\n", m_file);
    std::fflush(m_file);
}

RecoveryReportFile::~RecoveryReportFile() {
    if (m_file) std::fclose(m_file);
}

void RecoveryReportFile::Add(const Row& row) {
    if (!m_file) return;
    std::fprintf(m_file, "%s,%s,%llu,%s,%s,%llu,%s\n", CsvField(row.originalPath).c_str(), CsvField(row.savedPath).c_str(),
                 static_cast<unsigned long long>(row.size), row.healthy ? "healthy" : "damaged", row.engine,
                 static_cast<unsigned long long>(row.firstSector), CsvField(row.status).c_str());
    std::fflush(m_file);
}
