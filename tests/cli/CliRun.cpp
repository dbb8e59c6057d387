#include "cli/CliRun.h"

#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"

#include <cstdlib>
#include <regex>
#include <sys/wait.h>

CliRun RunCli(const std::string& args, const std::string& supportDir, const std::string& env) {
    TempDir capture("orvale-cli-run");
    std::string cmd = "ORVALE_SUPPORT_DIR='" + supportDir + "' " + env + " " ORVALE_CLI_PATH " " + args + " >" +
                      capture.file("out") + " 2>" + capture.file("err");
    CliRun run;
    int status = std::system(cmd.c_str());
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    auto text = [](const std::string& p) {
        std::vector<uint8_t> b = ReadFileBytes(p);
        return std::string(b.begin(), b.end());
    };
    run.out = text(capture.file("out"));
    run.err = text(capture.file("err"));
    return run;
}

std::vector<JsonFile> ParseFiles(const std::string& json) {
    std::vector<JsonFile> files;
    std::regex line(R"re(\{"name": "([^"]*)", "category": "([^"]*)", "extension": "([^"]*)", "size": (\d+), "engine": "([^"]*)", "first_sector": (\d+), "healthy": (true|false), "folder": "([^"]*)"\})re");
    for (std::sregex_iterator it(json.begin(), json.end(), line), end; it != end; ++it) {
        JsonFile f;
        f.name = (*it)[1];
        f.category = (*it)[2];
        f.extension = (*it)[3];
        f.size = std::stoull((*it)[4]);
        f.engine = (*it)[5];
        f.firstSector = std::stoull((*it)[6]);
        f.healthy = (*it)[7] == "true";
        f.folder = (*it)[8];
        files.push_back(f);
    }
    return files;
}

std::vector<const JsonFile*> Named(const std::vector<JsonFile>& files, const std::string& name) {
    std::vector<const JsonFile*> out;
    for (const JsonFile& f : files)
        if (f.name == name) out.push_back(&f);
    return out;
}
