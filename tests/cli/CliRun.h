#pragma once
// Runs orvale-cli as a user would and reads back what it printed and saved.
#include <string>
#include <vector>

struct CliRun { int status = -1; std::string out, err; };

// args are appended to the tool's path as shell words; supportDir becomes ORVALE_SUPPORT_DIR.
CliRun RunCli(const std::string& args, const std::string& supportDir, const std::string& env = "");

struct JsonFile {
    std::string name, category, extension, engine, folder;
    unsigned long long size = 0, firstSector = 0;
    bool healthy = false;
};

// The file objects of a --json listing (the tool prints one per line).
std::vector<JsonFile> ParseFiles(const std::string& json);
std::vector<const JsonFile*> Named(const std::vector<JsonFile>& files, const std::string& name);
