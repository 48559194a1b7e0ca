#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/dirlist.h"

namespace fs = std::filesystem;

namespace {

class PlatformDirList : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device rd;
        dir_ = fs::temp_directory_path() / ("pellamo-dirlist-" + std::to_string(rd()));
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    void touch(const std::string& name) const { std::ofstream(dir_ / name, std::ios::binary) << "x"; }

    fs::path dir_;
};

TEST_F(PlatformDirList, ListsFilesOnlyWithNarrowNamesAndKeepsWhatWasThere) {
    touch("b.bin");
    touch("a.txt");
    // A CP1251 name ("файл"), as the program's narrow paths are spelled.
    touch("\xF4\xE0\xE9\xEB.dat");
    fs::create_directories(dir_ / "sub");
    std::vector<std::string> names{"kept"};
    ASSERT_TRUE(platform::listFileNames(dir_.string(), names));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "b.bin", "kept", "\xF4\xE0\xE9\xEB.dat"}));
}

TEST_F(PlatformDirList, EmptyFolderGivesNothingAndAMissingOneFails) {
    std::vector<std::string> names;
    EXPECT_TRUE(platform::listFileNames((dir_ / "").string(), names));
    EXPECT_TRUE(names.empty());
    EXPECT_FALSE(platform::listFileNames((dir_ / "missing").string(), names));
    touch("file");
    // A file is no folder to list.
    EXPECT_FALSE(platform::listFileNames((dir_ / "file").string(), names));
}

}  // namespace
