// Recovery through the tool on a real FAT image with nested deleted folders:
// the original tree under each category folder, byte for byte, a report line
// per file, hostile folder names kept inside, nothing overwritten.
#include "cli/CliRun.h"
#include "fixtures/FatImageBuilder.h"
#include "fixtures/SkipUnless.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <map>
#include <set>
#include <sstream>

namespace {
// Every file below root, relative path to content digest.
void Digests(const std::string& root, const std::string& rel, std::map<std::string, std::string>& out) {
    DIR* d = ::opendir((root + "/" + rel).c_str());
    if (!d) return;
    while (dirent* ent = ::readdir(d)) {
        std::string name = ent->d_name;
        if (name == "." || name == "..") continue;
        std::string path = rel.empty() ? name : rel + "/" + name;
        if (ent->d_type == DT_DIR) Digests(root, path, out);
        else out[path] = Sha256File(root + "/" + path);
    }
    ::closedir(d);
}

std::vector<std::string> Lines(const std::string& path) {
    std::vector<uint8_t> bytes = ReadFileBytes(path);
    std::vector<std::string> lines;
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Turns the long name "..Q..Qescape" into "../../escape", as a hostile disk may hold it
// (mtools refuses such a name). Only entries holding that very name are touched.
int SlashHostileName(const std::string& image) {
    std::vector<uint8_t> bytes = ReadFileBytes(image);
    int changed = 0;
    for (size_t e = 0; e + 32 <= bytes.size(); e += 32) {
        if (bytes[e + 11] != 0x0F || bytes[e + 1] != '.' || bytes[e + 3] != '.' || bytes[e + 5] != 'Q' ||
            bytes[e + 7] != '.' || bytes[e + 9] != '.' || bytes[e + 14] != 'Q' || bytes[e + 16] != 'e')
            continue;
        bytes[e + 5] = bytes[e + 14] = '/';
        ++changed;
    }
    WriteFileBytes(image, bytes);
    return changed;
}

class RecoveryTree : public ::testing::Test {
protected:
    void SetUp() override {
        ORVALE_REQUIRE_TOOL("mkfs.vfat");
        ORVALE_REQUIRE_TOOL("mdeltree");
        ORVALE_REQUIRE_TOOL("/usr/bin/convert");
        ASSERT_EQ(RunCommand("/usr/bin/convert -size 160x120 plasma:fractal -seed 7 " + dir.file("a.jpg")), 0);
        ASSERT_EQ(RunCommand("/usr/bin/convert -size 90x200 gradient:red-blue " + dir.file("b.jpg")), 0);
        FatImageBuilder img(dir.file("fat.img"), 16, 16384, 4);
        ASSERT_TRUE(img.ok());
        for (const char* d : {"/Photos", "/Photos/Vacation 2023", "/Photos/Vacation 2023/Beach day", "/Work",
                              "/Work/..Q..Qescape"})
            ASSERT_TRUE(img.MakeDir(d));
        // Image path inside the FAT volume, and where it must land below the recovery folder.
        const std::vector<std::pair<std::string, std::string>> layout = {
            {"/Photos/Vacation 2023/IMG_0001 sea.jpg", "photo/Photos/Vacation 2023/IMG_0001 sea.jpg"},
            {"/Photos/Vacation 2023/Beach day/IMG_0002 sand.jpg", "photo/Photos/Vacation 2023/Beach day/IMG_0002 sand.jpg"},
            {"/Work/Yearly notes.txt", "document/Work/Yearly notes.txt"},
            // The engines join folder names with '/', so "../../escape" reads as three names, each made safe.
            {"/Work/..Q..Qescape/Inside notes.txt", "document/Work/unnamed/unnamed/escape/Inside notes.txt"},
        };
        const std::vector<std::vector<uint8_t>> contents = {ReadFileBytes(dir.file("a.jpg")), ReadFileBytes(dir.file("b.jpg")),
                                                           std::vector<uint8_t>(3000, 'q'), std::vector<uint8_t>(700, 'i')};
        for (size_t i = 0; i < layout.size(); ++i) {
            ASSERT_TRUE(img.PutFile(layout[i].first, contents[i]));
            expected[layout[i].second] = Sha256Hex(contents[i]);
        }
        ASSERT_TRUE(img.DeleteTree("/Photos"));
        ASSERT_TRUE(img.DeleteTree("/Work"));
        image = img.path();
        ASSERT_EQ(SlashHostileName(image), 1);
    }

    TempDir dir{"recovery-tree"};
    TempDir support{"recovery-tree-support"};
    std::string image;
    std::map<std::string, std::string> expected; // saved path -> digest
};

TEST_F(RecoveryTree, TreeIsRecreatedUnderCategoryFoldersWithAReport) {
    struct Case {
        const char* mode;
        const char* options;
    } const cases[] = {{"quick", "--quick"}, {"deep", ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        std::string out = dir.file(std::string("out-") + c.mode);
        CliRun run = RunCli("scan " + image + " " + c.options + " --recover '" + out + "'", support.path());
        ASSERT_EQ(run.status, 0) << run.out << run.err;
        std::map<std::string, std::string> saved;
        Digests(out, "", saved);
        ASSERT_EQ(saved.count("orvale-report.csv"), 1u);
        std::vector<std::string> report = Lines(out + "/orvale-report.csv");
        saved.erase("orvale-report.csv");
        EXPECT_EQ(saved, expected);
        ASSERT_EQ(report.size(), expected.size() + 1);
        EXPECT_EQ(report[0], "original_path,saved_path,size,health,engine,first_sector,status");
        for (const auto& file : expected) {
            const std::string& path = file.first;
            std::string name = path.substr(path.rfind('/') + 1);
            size_t hits = 0;
            for (const std::string& line : report)
                if (line.find("," + path + ",") != std::string::npos) {
                    ++hits;
                    EXPECT_NE(line.find("/" + name + ","), std::string::npos) << line;
                    EXPECT_EQ(line.substr(line.size() - 6), ",saved") << line;
                    EXPECT_NE(line.find(",healthy,"), std::string::npos) << line;
                }
            EXPECT_EQ(hits, 1u) << path;
        }
    }
    // The hostile folder name climbed nowhere: beside the outputs lie only the inputs.
    std::set<std::string> top;
    DIR* d = ::opendir(dir.path().c_str());
    while (dirent* ent = d ? ::readdir(d) : nullptr)
        if (ent->d_name[0] != '.') top.insert(ent->d_name);
    if (d) ::closedir(d);
    EXPECT_EQ(top, (std::set<std::string>{"a.jpg", "b.jpg", "fat.img", "out-deep", "out-quick"}));
}

} // namespace
