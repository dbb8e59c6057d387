#include "cli/CliFindings.h"

#include "engine/DisplayFormat.h"
#include "engine/FileCategories.h"
#include "engine/IFileRecoveryParse.h"
#include "engine/RecoveryLayout.h"
#include "platform/TextCodec.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

namespace {
std::string ToUtf8(const char* ansi) { return WideToUtf8(Ansi2Unicode(ansi).c_str()); }

std::string LowerExtension(const char* name) {
    const char* dot = std::strrchr(name, '.');
    std::string ext = dot ? dot + 1 : "";
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return ext;
}

} // namespace

std::vector<CliFinding> DescribeFindings(IFileRecoveryParse* engine, bool deep,
                                         const std::vector<__SEARCH_FILE_INFO__>& hits) {
    std::vector<CliFinding> out;
    out.reserve(hits.size());
    for (const __SEARCH_FILE_INFO__& hit : hits) {
        CliFinding f;
        f.node = hit;
        f.node.szFileName[sizeof f.node.szFileName - 1] = 0;
        f.name = ToUtf8(f.node.szFileName);
        f.category = GetFileCategoryName(f.node.szFileName);
        f.extension = LowerExtension(f.node.szFileName);
        f.engine = RecoveryEngineName(f.node.nFileSystemType);
        if (f.node.nFileSystemType != FS_TYPE_FILE_TYPE) {
            wchar_t path[1024] = {0};
            if (engine->GetFileNodeParentDirPath(&f.node, path, 1024) == 0) f.folder = WideToUtf8(path);
        }
        f.firstSector = FoundFileFirstSector(engine, deep, f.node);
        out.push_back(f);
    }
    return out;
}

std::string JsonString(const std::string& utf8) {
    std::wstring w = Utf8ToWide(utf8.c_str());
    std::string clean = WideToUtf8(w.c_str());
    std::string out = "\"";
    for (unsigned char c : clean) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char esc[8];
                std::snprintf(esc, sizeof esc, "\\u%04x", c);
                out += esc;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

void PrintFindingsText(FILE* out, const std::string& target, long long firstSector, long long sectorCount,
                       const std::vector<CliFinding>& findings, bool complete) {
    std::fprintf(out, "%s: sectors %lld to %lld, %zu files found%s\n", target.c_str(), firstSector,
                 firstSector + sectorCount - 1, findings.size(),
                 complete ? "" : " (incomplete: the scan did not finish)");
    static const char* const order[] = {"photo", "audio", "video", "document", "archive", "others"};
    for (const char* category : order) {
        std::map<std::string, std::vector<const CliFinding*>> byExtension;
        for (const CliFinding& f : findings)
            if (f.category == category) byExtension[f.extension].push_back(&f);
        if (byExtension.empty()) continue;
        size_t count = 0;
        for (auto& group : byExtension) count += group.second.size();
        std::fprintf(out, "\n%s (%zu)\n", category, count);
        for (auto& group : byExtension) {
            std::fprintf(out, "  %s Files (%zu)\n", group.first.empty() ? "(none)" : group.first.c_str(), group.second.size());
            for (const CliFinding* f : group.second)
                std::fprintf(out, "    %-40s %12s  sector %-12llu %-10s %s%s\n", f->name.c_str(),
                             GetFileSizeString(static_cast<long long>(f->node.u64FileSize)).c_str(), static_cast<unsigned long long>(f->firstSector),
                             f->node.bIsHealth ? "healthy" : "damaged", f->folder.empty() ? "" : "/", f->folder.c_str());
        }
    }
}

void PrintFindingsJson(FILE* out, const std::string& target, long long firstSector, long long sectorCount,
                       const std::vector<CliFinding>& findings, bool complete) {
    std::fprintf(out,
                 "{\"target\": %s, \"area\": {\"first_sector\": %lld, \"sector_count\": %lld}, \"complete\": %s, "
                 "\"files\": [",
                 JsonString(target).c_str(), firstSector, sectorCount, complete ? "true" : "false");
    for (size_t i = 0; i < findings.size(); ++i) {
        const CliFinding& f = findings[i];
        std::fprintf(out,
                     "%s\n  {\"name\": %s, \"category\": %s, \"extension\": %s, \"size\": %llu, \"engine\": \"%s\", "
                     "\"first_sector\": %llu, \"healthy\": %s, \"folder\": %s}",
                     i ? "," : "", JsonString(f.name).c_str(), JsonString(f.category).c_str(),
                     JsonString(f.extension).c_str(), static_cast<unsigned long long>(f.node.u64FileSize), f.engine,
                     static_cast<unsigned long long>(f.firstSector), f.node.bIsHealth ? "true" : "false",
                     JsonString(f.folder).c_str());
    }
    std::fprintf(out, "\n]}\n");
}
