#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "core/CBasicPath.h"
#include "core/FileUtils.h"

namespace fs = std::filesystem;
using tesel::CBlob;

namespace {

// A fresh folder per test, removed afterwards.
class TempDir : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device rd;
        dir_ = fs::temp_directory_path() / ("pellamo-core-" + std::to_string(rd()));
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    fs::path dir_;
};

using FileUtils = TempDir;
using BasicPath = TempDir;

CBlob blobOf(const std::string& s) {
    return CBlob(reinterpret_cast<const unsigned char*>(s.data()), static_cast<unsigned>(s.size()));
}

}  // namespace

TEST_F(FileUtils, SaveAndLoadRoundTrip) {
    std::string data;
    for (int i = 0; i < 1000; ++i) data.push_back(static_cast<char>(i * 7));
    const CBlob original = blobOf(data);
    const std::string file = path("blob.bin");
    EXPECT_EQ(tesel::saveBlob(&original, file), 1);

    CBlob loaded = blobOf("old contents");
    loaded.forwardOffset(3);
    EXPECT_EQ(tesel::loadBlob(file, &loaded), 0);
    EXPECT_EQ(loaded, original);
    EXPECT_EQ(loaded.getOffset(), 0u);

    // Saving replaces the whole file, and a BLOB view saves the same bytes.
    const CBlob shorter = blobOf("xy");
    const tesel::BLOB view = shorter.getBLOB();
    EXPECT_EQ(tesel::saveBlob(&view, file), 1);
    EXPECT_EQ(tesel::loadBlob(file, &loaded), 0);
    EXPECT_EQ(loaded, shorter);
    EXPECT_EQ(fs::file_size(file), 2u);

    // An empty blob gives an empty file, which loads as an empty blob.
    const CBlob empty;
    EXPECT_EQ(tesel::saveBlob(&empty, file), 1);
    EXPECT_EQ(tesel::loadBlob(file, &loaded), 0);
    EXPECT_TRUE(loaded.isEmpty());
}

TEST_F(FileUtils, FailuresLeaveTargetUnchanged) {
    CBlob target = blobOf("keep");
    target.forwardOffset(1);
    EXPECT_EQ(tesel::loadBlob(path("missing.bin"), &target), 2);
    EXPECT_EQ(tesel::loadBlob(dir_.string(), &target), 2);  // a folder is not a file
    EXPECT_EQ(target, blobOf("keep"));
    EXPECT_EQ(target.getOffset(), 1u);
    EXPECT_EQ(tesel::loadBlob(path("missing.bin"), nullptr), 2);

    const CBlob data = blobOf("abc");
    EXPECT_EQ(tesel::saveBlob(&data, path("no-such-folder/file.bin")), 0);
    EXPECT_EQ(tesel::saveBlob(static_cast<const CBlob*>(nullptr), path("x.bin")), 0);
    EXPECT_FALSE(fs::exists(path("x.bin")));
}

TEST_F(FileUtils, FileOfFourGibibytesIsRefused) {
    const std::string file = path("huge.bin");
    {
        std::ofstream create(file, std::ios::binary);
    }
    std::error_code ec;
    fs::resize_file(file, 0x100000000ULL, ec);  // sparse: no data is written
    if (ec) GTEST_SKIP() << "cannot create a sparse file here: " << ec.message();
    CBlob target = blobOf("keep");
    EXPECT_EQ(tesel::loadBlob(file, &target), 2);
    EXPECT_EQ(target, blobOf("keep"));
}

TEST_F(FileUtils, BackslashPathsWork) {
    const std::string sub = dir_.string() + "\\sub";
    EXPECT_EQ(tesel::createFolder(sub), 0);
    EXPECT_TRUE(fs::is_directory(dir_ / "sub"));
    const CBlob data = blobOf("z");
    EXPECT_EQ(tesel::saveBlob(&data, sub + "\\f.bin"), 1);
    EXPECT_TRUE(tesel::isFileExist(sub + "\\f.bin"));
    CBlob loaded;
    EXPECT_EQ(tesel::loadBlob(sub + "\\f.bin", &loaded), 0);
    EXPECT_EQ(loaded, data);
}

TEST_F(FileUtils, CreateFolderAndIsFileExist) {
    const std::string folder = path("one");
    EXPECT_EQ(tesel::createFolder(folder), 0);
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_EQ(tesel::createFolder(folder), 0);  // already there: still 0
    // Intermediate folders are not created, and the call still returns 0.
    EXPECT_EQ(tesel::createFolder(path("two/three")), 0);
    EXPECT_FALSE(fs::exists(path("two")));

    EXPECT_FALSE(tesel::isFileExist(folder));
    EXPECT_FALSE(tesel::isFileExist(path("nothing")));
    const CBlob data = blobOf("1");
    tesel::saveBlob(&data, path("one/file"));
    EXPECT_TRUE(tesel::isFileExist(path("one/file")));
}

TEST_F(BasicPath, LayoutUnderTheCurrentDirectory) {
    const fs::path previous = fs::current_path();
    fs::current_path(dir_);
    const std::string cwd = fs::current_path().string();
    tesel::CBasicPath& paths = tesel::CBasicPath::instance();
    fs::current_path(previous);
    // The layout is fixed at first use; later calls return the same object.
    EXPECT_EQ(&paths, &tesel::CBasicPath::instance());
    ASSERT_EQ(paths.getCurrentDir(), cwd) << "CBasicPath was used before this test";
    EXPECT_EQ(paths.getRootPath(), cwd + "/data");
    EXPECT_EQ(paths.getPacketInPath(), cwd + "/data/packetin/");
    EXPECT_EQ(paths.getAttachPath(), cwd + "/data/attachment/");
    EXPECT_TRUE(fs::is_directory(cwd + "/data/packetin"));
    EXPECT_TRUE(fs::is_directory(cwd + "/data/attachment"));
}
