// orvale-cli: the command-line face of the recovery engines.
#include <cstdio>
#include <cstring>

namespace {
void PrintUsage(FILE* out) {
    std::fputs("usage: orvale-cli disks\n"
               "       orvale-cli scan TARGET [--partition K | --start S --count C] [--types LIST]\n"
               "                        [--quick] [--resume] [--json] [--recover DIR]\n"
               "TARGET is a disk number, a device path or an image file.\n",
               out);
}
} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        PrintUsage(argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    std::fprintf(stderr, "orvale-cli: unknown command '%s'\n", argv[1]);
    PrintUsage(stderr);
    return 2;
}
