#pragma once
// Runs orvale-cli as a user would and reads back what it printed and saved.
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"

#include <cstdlib>
#include <regex>
#include <string>
#include <sys/wait.h>
#include <vector>

struct CliRun { int status = -1; std::string out, err; };

// args are appended to the tool's path as shell words; supportDir becomes ORVALE_SUPPORT_DIR.
inline CliRun RunCli(const std::string& args, const std::string& supportDir, const std::string& env = "") {
    TempDir capture("orvale-cli-run");
    const int status = std::system(("ORVALE_SUPPORT_DIR='" + supportDir + "' " + env + " " ORVALE_CLI_PATH " " + args + " >" +
                                    capture.file("out") + " 2>" + capture.file("err")).c_str());
    const std::vector<uint8_t> out = ReadFileBytes(capture.file("out")), err = ReadFileBytes(capture.file("err"));
    return CliRun{WIFEXITED(status) ? WEXITSTATUS(status) : -1, std::string(out.begin(), out.end()), std::string(err.begin(), err.end())};
}

struct JsonFile { std::string name, category, extension, engine, folder; unsigned long long size = 0, firstSector = 0; bool healthy = false; };

// The file objects of a --json listing (the tool prints one per line).
inline std::vector<JsonFile> ParseFiles(const std::string& json) {
    std::vector<JsonFile> files;
    static const std::regex line(R"re(\{"name": "([^"]*)", "category": "([^"]*)", "extension": "([^"]*)", "size": (\d+), "engine": "([^"]*)", "first_sector": (\d+), "healthy": (true|false), "folder": "([^"]*)"\})re");
    for (std::sregex_iterator it(json.begin(), json.end(), line), end; it != end; ++it)
        files.push_back(JsonFile{(*it)[1], (*it)[2], (*it)[3], (*it)[5], (*it)[8], std::stoull((*it)[4]), std::stoull((*it)[6]), (*it)[7] == "true"});
    return files;
}

inline std::vector<const JsonFile*> Named(const std::vector<JsonFile>& files, const std::string& name) {
    std::vector<const JsonFile*> out;
    for (const JsonFile& f : files)
        if (f.name == name) out.push_back(&f);
    return out;
}
