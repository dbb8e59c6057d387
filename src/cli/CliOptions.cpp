#include "cli/CliOptions.h"

#include "engine/FileCategories.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
bool ParseCount(const char* text, long long& value) {
    if (!text || !*text) return false;
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(text, &end, 10);
    if (errno || *end || v < 0) return false;
    value = v;
    return true;
}

bool ParseTypes(const std::string& list, unsigned& flags, std::string& error) {
    flags = 0;
    size_t pos = 0;
    while (pos <= list.size()) {
        size_t comma = list.find(',', pos);
        std::string word = list.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        if (word == "photo") flags |= CATEGORY_PHOTO;
        else if (word == "music") flags |= CATEGORY_MUSIC;
        else if (word == "video") flags |= CATEGORY_VIDEO;
        else if (word == "document") flags |= CATEGORY_DOCUMENT;
        else if (word == "archive") flags |= CATEGORY_ARCHIVE;
        else if (word == "other") flags |= CATEGORY_OTHER;
        else if (word == "all") flags |= CATEGORY_ALL;
        else {
            error = "unknown file type '" + word + "' (photo, music, video, document, archive, other)";
            return false;
        }
        if (comma == std::string::npos) break;
        pos = comma + 1;
    }
    return true;
}
} // namespace

void PrintCliUsage(FILE* out) {
    std::fputs("usage: orvale-cli disks\n"
               "       orvale-cli scan TARGET [--partition K | --start S --count C] [--types LIST]\n"
               "                        [--quick] [--resume] [--json] [--progress]\n"
               "                        [--recover DIR [--flat] [--keep-partial]] [--force]\n"
               "       orvale-cli [COMMAND] --help | --version\n"
               "\n"
               "TARGET is a disk number, a device path or an image file.\n"
               "  --partition K   scan partition K (1-based, in table order) of the target\n"
               "  --start S --count C\n"
               "                  scan C sectors from sector S\n"
               "  --types LIST    comma-separated: photo,music,video,document,archive,other (default all)\n"
               "  --quick         read the file system only (no deep pass, no carving)\n"
               "  --resume        continue an interrupted deep scan of the same area\n"
               "  --json          print the findings as one JSON document (see orvale-cli(1))\n"
               "  --progress      show progress even when standard error is not a terminal\n"
               "  --recover DIR   save every file found into DIR/<category>/<its original folders>/,\n"
               "                  with a report of every file in DIR/orvale-report.csv\n"
               "  --flat          save into DIR/<category>/ only, without the original folders\n"
               "  --keep-partial  keep what could be saved of an incomplete file as NAME.partial\n"
               "                  (by default nothing is left of a file that cannot be saved whole)\n"
               "  --force         recover even when DIR lies on the scanned device\n"
               "\n"
               "Exit status: 0 files found (and all saved whole); 1 nothing found, the scan failed\n"
               "part way or a file could not be saved; 2 bad usage, a target that cannot be scanned\n"
               "or an unusable support folder; 3 stopped with Ctrl-C (the list is incomplete).\n"
               "Errors and progress go to standard error, the findings to standard output.\n",
               out);
}

bool ParseCliOptions(int argc, char** argv, CliOptions& o, std::string& error) {
    if (argc < 2) {
        error = "missing command";
        return false;
    }
    std::string command = argv[1];
    // "--help" after any command describes the commands rather than running one.
    bool help = false;
    for (int i = 1; i < argc; ++i) help = help || !std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h");
    if (help || command == "help") {
        o.command = CliOptions::COMMAND_HELP;
        return true;
    }
    if (command == "disks") {
        if (argc > 2) {
            error = std::string("unexpected argument '") + argv[2] + "'";
            return false;
        }
        o.command = CliOptions::COMMAND_DISKS;
        return true;
    }
    if (command != "scan") {
        error = "unknown command '" + command + "'";
        return false;
    }
    o.command = CliOptions::COMMAND_SCAN;
    bool haveStart = false, haveCount = false;
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                error = std::string(name) + " needs a value";
                return nullptr;
            }
            return argv[++i];
        };
        long long n = 0;
        if (a == "--partition") {
            const char* v = value("--partition");
            if (!v) return false;
            if (!ParseCount(v, n) || n < 1 || n > 100000) { error = "--partition takes a number from 1"; return false; }
            o.partition = static_cast<int>(n);
        } else if (a == "--start") {
            const char* v = value("--start");
            if (!v) return false;
            if (!ParseCount(v, o.start)) { error = "--start takes a sector number"; return false; }
            haveStart = true;
        } else if (a == "--count") {
            const char* v = value("--count");
            if (!v) return false;
            if (!ParseCount(v, o.count) || o.count == 0) { error = "--count takes a positive sector count"; return false; }
            haveCount = true;
        } else if (a == "--types") {
            const char* v = value("--types");
            if (!v) return false;
            if (!ParseTypes(v, o.categories, error)) return false;
        } else if (a == "--quick") {
            o.quick = true;
        } else if (a == "--resume") {
            o.resume = true;
        } else if (a == "--json") {
            o.json = true;
        } else if (a == "--keep-partial") {
            o.keepPartial = true;
        } else if (a == "--flat") {
            o.flat = true;
        } else if (a == "--progress") {
            o.progress = true;
        } else if (a == "--force") {
            o.force = true;
        } else if (a == "--recover") {
            const char* v = value("--recover");
            if (!v) return false;
            o.recoverDir = v;
            if (o.recoverDir.empty()) { error = "--recover needs a folder"; return false; }
        } else if (!a.empty() && a[0] == '-') {
            error = "unknown option '" + a + "'";
            return false;
        } else if (o.target.empty()) {
            o.target = a;
        } else {
            error = "unexpected argument '" + a + "'";
            return false;
        }
    }
    if (o.target.empty()) { error = "scan needs a TARGET"; return false; }
    if (haveStart != haveCount) { error = "--start and --count go together"; return false; }
    o.hasRange = haveStart;
    if (o.hasRange && o.partition) { error = "--partition and --start/--count exclude each other"; return false; }
    if (o.keepPartial && o.recoverDir.empty()) { error = "--keep-partial goes with --recover"; return false; }
    if (o.quick && o.resume) { error = "--resume continues a deep scan; it cannot go with --quick"; return false; }
    if (o.categories == 0) o.categories = CATEGORY_ALL;
    return true;
}
