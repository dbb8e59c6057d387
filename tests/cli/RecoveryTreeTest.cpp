// Nested deleted folders come back under each category folder byte for byte, with a report; hostile names stay inside.
#include "cli/CliRun.h"
#include "fixtures/FatImageBuilder.h"
#include "fixtures/SkipUnless.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <tuple>

TEST(RecoveryTree, TreeIsRecreatedUnderCategoryFoldersWithAReport) {
    for (const char* tool : {"mkfs.vfat", "mdeltree", "/usr/bin/convert"}) ORVALE_REQUIRE_TOOL(tool);
    TempDir dir("recovery-tree"), support("recovery-tree-support");
    ASSERT_EQ(0, RunCommand("/usr/bin/convert -size 160x120 plasma:fractal -seed 7 " + dir.file("a.jpg")));
    FatImageBuilder img(dir.file("fat.img"), 16, 16384, 4);
    for (const char* d : {"/Photos", "/Photos/Vacation 2023", "/Photos/Vacation 2023/Beach day", "/Work", "/Work/..Q..Qescape"})
        ASSERT_TRUE(img.MakeDir(d));
    // Path inside the volume, where it must land below the recovery folder, and its content.
    const std::tuple<std::string, std::string, std::vector<uint8_t>> layout[] = {
        {"/Photos/Vacation 2023/IMG_0001 sea.jpg", "photo/Photos/Vacation 2023/IMG_0001 sea.jpg", ReadFileBytes(dir.file("a.jpg"))},
        {"/Photos/Vacation 2023/Beach day/sand notes.txt", "document/Photos/Vacation 2023/Beach day/sand notes.txt", RandomBytes(5000, 3)},
        {"/Work/Yearly notes.txt", "document/Work/Yearly notes.txt", std::vector<uint8_t>(3000, 'q')},
        // The engines join folder names with '/', so "../../escape" reads as three names, each made safe.
        {"/Work/..Q..Qescape/Inside notes.txt", "document/Work/unnamed/unnamed/escape/Inside notes.txt", std::vector<uint8_t>(700, 'i')},
    };
    std::map<std::string, std::string> expected; // saved path -> digest
    for (const auto& [from, to, data] : layout) {
        ASSERT_TRUE(img.PutFile(from, data));
        expected[to] = Sha256Hex(data);
    }
    ASSERT_TRUE(img.DeleteTree("/Photos") && img.DeleteTree("/Work"));
    // Turn the long name "..Q..Qescape" into "../../escape", as a hostile disk may hold it (mtools refuses it).
    std::vector<uint8_t> bytes = ReadFileBytes(img.path());
    int slashed = 0;
    for (size_t e = 0; e + 32 <= bytes.size(); e += 32)
        if (bytes[e + 11] == 0x0F && std::string{char(bytes[e + 1]), char(bytes[e + 3]), char(bytes[e + 5]), char(bytes[e + 7]),
                                                 char(bytes[e + 9]), char(bytes[e + 14]), char(bytes[e + 16])} == "..Q..Qe")
            bytes[e + 5] = bytes[e + 14] = '/', ++slashed;
    ASSERT_EQ(1, slashed);
    WriteFileBytes(img.path(), bytes);
    for (const char* mode : {"--quick", ""}) {
        SCOPED_TRACE(*mode ? mode : "deep");
        const std::string out = dir.file(*mode ? "out-quick" : "out-deep");
        CliRun run = RunCli("scan " + img.path() + " " + mode + " --recover '" + out + "'", support.path());
        ASSERT_EQ(0, run.status) << run.out << run.err;
        std::map<std::string, std::string> saved = SavedDigests(out);
        ASSERT_EQ(1u, saved.erase("orvale-report.csv"));
        EXPECT_EQ(expected, saved);
        const std::vector<uint8_t> text = ReadFileBytes(out + "/orvale-report.csv");
        std::istringstream in(std::string(text.begin(), text.end()));
        std::vector<std::string> report;
        for (std::string line; std::getline(in, line);) report.push_back(line);
        ASSERT_EQ(expected.size() + 1, report.size());
        EXPECT_EQ("original_path,saved_path,size,health,engine,first_sector,status", report[0]);
        for (const auto& file : expected) {
            const std::string name = file.first.substr(file.first.rfind('/') + 1);
            EXPECT_EQ(1, std::count_if(report.begin(), report.end(), [&](const std::string& line) {
                          return line.find("," + file.first + ",") != std::string::npos &&
                                 line.find("/" + name + ",") != std::string::npos &&
                                 line.find(",healthy,") != std::string::npos && line.substr(line.size() - 6) == ",saved";
                      })) << file.first;
        }
    }
    // The hostile folder name climbed nowhere: beside the outputs lie only the inputs.
    EXPECT_EQ(0, RunCommand("[ \"$(ls " + dir.path() + " | tr '\\n' ' ')\" = 'a.jpg fat.img out-deep out-quick ' ]"));
}
