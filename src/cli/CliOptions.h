#pragma once
// Command line of orvale-cli.
#include <string>

struct CliOptions {
    enum Command { COMMAND_NONE, COMMAND_HELP, COMMAND_DISKS, COMMAND_SCAN };
    Command command = COMMAND_NONE;
    std::string target;
    int partition = 0;          // 1-based; 0 = none
    bool hasRange = false;
    long long start = 0;
    long long count = 0;
    unsigned categories = 0;    // FILE_CATEGORY_FLAG bits
    bool quick = false;
    bool resume = false;
    bool json = false;
    bool force = false;
    bool keepPartial = false;
    bool flat = false;          // category folders only, without the original folders
    bool progress = false;      // progress on standard error even when it is not a terminal
    std::string recoverDir;
};

// Fills options from argv. Returns false with a one-line error for a usage mistake.
bool ParseCliOptions(int argc, char** argv, CliOptions& options, std::string& error);
void PrintCliUsage(FILE* out);

// Exit status of orvale-cli.
enum CliExitCode {
    CLI_EXIT_OK = 0,        // files found (and, with --recover, every one saved whole)
    CLI_EXIT_FAILED = 1,    // nothing found, the scan failed part way, or a file could not be saved
    CLI_EXIT_USAGE = 2,     // bad usage, a target that cannot be scanned, an unusable support folder
    CLI_EXIT_STOPPED = 3,   // stopped by the user (Ctrl-C): what was listed or saved is incomplete
};
