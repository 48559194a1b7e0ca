#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/headless.h"
#include "platform/paths.h"
#include "platform/win32.h"

namespace fs = std::filesystem;

namespace {

class PlatformFiles : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device rd;
        dir_ = fs::temp_directory_path() / ("pellamo-platform-" + std::to_string(rd()));
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    static void write(const std::string& p, const std::string& text) {
        std::ofstream(p, std::ios::binary) << text;
    }
    static std::string read(const std::string& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    fs::path dir_;
};

}  // namespace

TEST_F(PlatformFiles, DirectoriesAndAttributes) {
    const std::string d = path("d");
    EXPECT_TRUE(CreateDirectoryA(d.c_str(), nullptr));
    EXPECT_FALSE(CreateDirectoryA(d.c_str(), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(CreateDirectoryA(path("x/y").c_str(), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

    EXPECT_NE(GetFileAttributesA(d.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    write(path("d/f"), "1");
    const DWORD fileAttributes = GetFileAttributesA((dir_.string() + "\\d\\f").c_str());
    EXPECT_NE(fileAttributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(fileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_EQ(GetFileAttributesA(path("none").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    EXPECT_FALSE(RemoveDirectoryA(d.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
    EXPECT_FALSE(DeleteFileA(d.c_str()));  // a folder is not deleted as a file
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(DeleteFileA(path("d/f").c_str()));
    EXPECT_FALSE(DeleteFileA(path("d/f").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(RemoveDirectoryA(d.c_str()));
    EXPECT_FALSE(fs::exists(d));
}

TEST_F(PlatformFiles, MoveNeverReplacesCopyMayReplace) {
    write(path("a"), "alpha");
    write(path("b"), "beta");
    EXPECT_FALSE(MoveFileA(path("a").c_str(), path("b").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(read(path("b")), "beta");
    EXPECT_TRUE(MoveFileA(path("a").c_str(), path("c").c_str()));
    EXPECT_FALSE(fs::exists(path("a")));
    EXPECT_EQ(read(path("c")), "alpha");
    EXPECT_FALSE(MoveFileA(path("a").c_str(), path("d").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    EXPECT_FALSE(CopyFileA(path("c").c_str(), path("b").c_str(), TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
    EXPECT_EQ(read(path("b")), "beta");
    EXPECT_TRUE(CopyFileA(path("c").c_str(), path("b").c_str(), FALSE));
    EXPECT_EQ(read(path("b")), "alpha");
    EXPECT_TRUE(CopyFileA(path("c").c_str(), path("e").c_str(), TRUE));
    EXPECT_EQ(read(path("e")), "alpha");
    EXPECT_FALSE(CopyFileA(path("none").c_str(), path("f").c_str(), FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(PlatformFiles, CurrentDirectoryAndModuleName) {
    const DWORD need = GetCurrentDirectoryA(0, nullptr);
    ASSERT_GT(need, 1u);
    std::string buf(need, '\0');
    EXPECT_EQ(GetCurrentDirectoryA(need, buf.data()), need - 1);
    EXPECT_EQ(buf.c_str(), fs::current_path().string());
    char tiny[2];
    EXPECT_EQ(GetCurrentDirectoryA(sizeof tiny, tiny), need);

    char exe[4096];
    const DWORD n = GetModuleFileNameA(nullptr, exe, sizeof exe);
    ASSERT_GT(n, 0u);
    EXPECT_EQ(fs::path(std::string(exe, n)).filename().string().rfind("test_core", 0), 0u);
    char small[5];
    EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof small), 5u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(small[4], '\0');
}

TEST(PlatformPaths, SeparatorAndNativePath) {
    EXPECT_EQ(platform::kPathSeparator, '/');
    EXPECT_EQ(platform::nativePath("a\\b\\c.txt"), "a/b/c.txt");
}

TEST(PlatformLastError, IsPerThread) {
    SetLastError(42);
    DWORD other = 1;
    std::thread([&] { other = GetLastError(); }).join();
    EXPECT_EQ(other, 0u);
    EXPECT_EQ(GetLastError(), 42u);
}

TEST(PlatformMessageBox, WritesCaptionAndTextInUtf8) {
    // Standard input is taken away so that a question can never wait.
    ASSERT_NE(std::freopen("/dev/null", "r", stdin), nullptr);
    testing::internal::CaptureStderr();
    // "Ошибка" / "Нет файла" in CP1251.
    EXPECT_EQ(MessageBoxA(nullptr, "\xCD\xE5\xF2 \xF4\xE0\xE9\xEB\xE0", "\xCE\xF8\xE8\xE1\xEA\xE0",
                          MB_OK | MB_ICONERROR),
              IDOK);
    EXPECT_EQ(MessageBoxW(nullptr, u"text", u"cap", MB_OK), IDOK);
    const std::string out = testing::internal::GetCapturedStderr();
    EXPECT_EQ(out,
              "[\xD0\x9E\xD1\x88\xD0\xB8\xD0\xB1\xD0\xBA\xD0\xB0] "
              "\xD0\x9D\xD0\xB5\xD1\x82 \xD1\x84\xD0\xB0\xD0\xB9\xD0\xBB\xD0\xB0\n"
              "[cap] text\n");
}

TEST(PlatformMessageBox, UnattendedQuestionGetsTheDefault) {
    ASSERT_NE(std::freopen("/dev/null", "r", stdin), nullptr);
    testing::internal::CaptureStderr();
    const int previous = platform::defaultQuestionAnswer();
    platform::setDefaultQuestionAnswer(IDNO);
    EXPECT_EQ(MessageBoxA(nullptr, "q", "c", MB_YESNO | MB_ICONQUESTION), IDNO);
    platform::setDefaultQuestionAnswer(IDYES);
    EXPECT_EQ(MessageBoxA(nullptr, "q", "c", MB_YESNO | MB_ICONQUESTION), IDYES);
    platform::setDefaultQuestionAnswer(12345);  // anything else means No
    EXPECT_EQ(platform::defaultQuestionAnswer(), IDNO);
    platform::setDefaultQuestionAnswer(previous);
    testing::internal::GetCapturedStderr();
}

TEST(PlatformMessageBox, BoxesFromSeveralThreadsDoNotInterleave) {
    testing::internal::CaptureStderr();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 50; ++i) MessageBoxW(nullptr, u"0123456789abcdef", u"caption", MB_OK);
        });
    }
    for (auto& th : threads) th.join();
    const std::string out = testing::internal::GetCapturedStderr();
    std::string expected;
    for (int i = 0; i < 200; ++i) expected += "[caption] 0123456789abcdef\n";
    EXPECT_EQ(out, expected);
}
