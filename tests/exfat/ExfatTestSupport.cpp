#include "ExfatTestSupport.h"

#include "engine/CFileRecoveryFactory.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"
#include "platform/TextCodec.h"

#include <gtest/gtest.h>

const ExfatScenario& ExfatScenario::Shared() {
    static TempDir* dir = new TempDir("exfat-scenario");
    static ExfatScenario scenario = [] {
        ExfatScenario s;
        if (!ExfatImage::Unavailable().empty()) return s;
        ExfatImage img(dir->file("card.img"), 32, 4);
        const std::vector<std::string> dirs = {"Photos/Été 2024", "Docs", "Keep", "Trip/Day 1", "Trip/Day 2"};
        for (const std::string& d : dirs) img.MakeDir(d);
        const std::vector<std::pair<std::string, std::vector<uint8_t>>> files = {
            {"Photos/Été 2024/plage.jpg", ExfatTestJpeg(20000, 1)},
            {"Docs/Привет мир.txt", RandomBytes(3000, 2)},
            {"Docs/写真 日本.txt", RandomBytes(5000, 3)},
            {"party 🎉.txt", RandomBytes(100, 4)},
            {"Docs/résumé français.txt", RandomBytes(0, 5)},
            {"Keep/live.txt", RandomBytes(700, 6)},
            {"Trip/Day 1/sea.jpg", ExfatTestJpeg(9000, 7)},
            {"Trip/Day 1/notes.txt", RandomBytes(4500, 8)},
            {"Trip/Day 2/a name longer than fifteen units.txt", RandomBytes(12345, 9)},
        };
        for (const auto& f : files) img.PutFile(f.first, f.second);
        // Written in two halves around a live file: its clusters chain through the FAT.
        img.PutFile("Docs/frag.bin", RandomBytes(10000, 10));
        img.PutFile("Keep/between.bin", RandomBytes(9000, 11));
        img.AppendFile("Docs/frag.bin", RandomBytes(12000, 12));
        for (const char* gone : {"Photos/Été 2024/plage.jpg", "Docs/Привет мир.txt", "Docs/写真 日本.txt",
                                 "party 🎉.txt", "Docs/résumé français.txt", "Docs/frag.bin", "Trip"})
            img.Remove(gone);
        if (!img.Finish()) return s;
        for (const auto& f : img.files())
            if (f.first.rfind("Keep/", 0) != 0) s.deleted[f.first] = f.second;
        s.folders = {"Photos", "Photos/Été 2024", "Docs", "Trip", "Trip/Day 1", "Trip/Day 2"};
        s.deletedFolders = {"Trip", "Trip/Day 1", "Trip/Day 2"};
        s.image = img.path();
        return s;
    }();
    return scenario;
}

void CollectExfatTree(IFileRecoveryParse& engine, _FILE_NODE_* parent, unsigned depth, const std::string& prefix,
                      std::map<std::string, _FILE_NODE_>& out) {
    std::vector<_FILE_NODE_> children;
    ASSERT_EQ(engine.GetChildrenFileNode(parent, depth, children), 0);
    for (_FILE_NODE_& child : children) {
        std::string path = prefix + WideToUtf8(Ansi2Unicode(child.szFileName).c_str());
        EXPECT_EQ(out.count(path), 0u) << "listed twice: " << path;
        out[path] = child;
        if (child.bIsDir) CollectExfatTree(engine, &child, depth + 1, path + "/", out);
    }
}

std::map<std::string, _FILE_NODE_> ExfatTree(IFileRecoveryParse& engine) {
    std::map<std::string, _FILE_NODE_> out;
    CollectExfatTree(engine, nullptr, 0, "", out);
    return out;
}

std::vector<uint8_t> ExfatSaved(IFileRecoveryParse& engine, _FILE_NODE_ node, const std::string& target) {
    std::wstring wide = Utf8ToWide(target.c_str());
    if (engine.SaveFileData(&node, const_cast<wchar_t*>(wide.c_str()), 0) != 0) return {};
    return ReadFileBytes(target);
}

std::unique_ptr<IFileRecoveryParse> OpenExfatQuick(const std::string& image) {
    std::wstring wide = Utf8ToWide(image.c_str());
    return std::unique_ptr<IFileRecoveryParse>(CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(
        const_cast<wchar_t*>(wide.c_str()), L'C', RECOVERY_TYPE_FAST));
}
