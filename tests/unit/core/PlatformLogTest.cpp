// The program's log (standard error copied into a rotating file) and the
// instance lock of a data folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/instance_lock.h"
#include "platform/process.h"
#include "platform/rotating_log.h"
#include "platform/stderr_log.h"
#include "platform/stderr_log_sink.h"

namespace fs = std::filesystem;

namespace {

class PlatformLog : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device rd;
        dir_ = fs::temp_directory_path() / ("pellamo-log-" + std::to_string(rd()));
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir_, fs::perms::owner_all, ec);
        fs::remove_all(dir_, ec);
    }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    static std::string read(const std::string& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // The lines of a log file without their time stamps.
    static std::vector<std::string> lines(const std::string& p) {
        std::vector<std::string> out;
        std::istringstream in(read(p));
        const std::regex stamp(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d )");
        for (std::string line; std::getline(in, line);) {
            EXPECT_TRUE(std::regex_search(line, stamp)) << line;
            out.push_back(line.size() >= 20 ? line.substr(20) : line);
        }
        return out;
    }

    fs::path dir_;
};

TEST_F(PlatformLog, LinesCarryTheTimeAndEndInANewline) {
    platform::RotatingLogFile log(path("a.log"));
    EXPECT_TRUE(log.appendLine("first"));
    EXPECT_TRUE(log.appendLine("second\n"));
    EXPECT_TRUE(log.appendLine(""));
    EXPECT_EQ(lines(path("a.log")), (std::vector<std::string>{"first", "second", ""}));
}

TEST_F(PlatformLog, RotatesBySizeKeepingThreeFiles) {
    // Each line is 20 bytes of time + 9 + newline = 30 bytes; 100 bytes hold three.
    platform::RotatingLogFile log(path("r.log"), 100, 3);
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(log.appendLine("line " + std::to_string(1000 + i)));
    EXPECT_EQ(lines(path("r.log")), (std::vector<std::string>{"line 1009"}));
    EXPECT_EQ(lines(path("r.log.1")), (std::vector<std::string>{"line 1006", "line 1007", "line 1008"}));
    EXPECT_EQ(lines(path("r.log.2")), (std::vector<std::string>{"line 1003", "line 1004", "line 1005"}));
    EXPECT_FALSE(fs::exists(path("r.log.3")));
    for (const char* name : {"r.log", "r.log.1", "r.log.2"}) EXPECT_LE(fs::file_size(path(name)), 100u);
}

TEST_F(PlatformLog, ALongLineStillGoesIntoAFreshFile) {
    platform::RotatingLogFile log(path("l.log"), 50, 2);
    ASSERT_TRUE(log.appendLine("short"));
    ASSERT_TRUE(log.appendLine(std::string(200, 'x')));
    EXPECT_EQ(lines(path("l.log.1")), (std::vector<std::string>{"short"}));
    EXPECT_EQ(lines(path("l.log")), (std::vector<std::string>{std::string(200, 'x')}));
}

TEST_F(PlatformLog, AReopenedLogCountsWhatIsAlreadyThere) {
    {
        platform::RotatingLogFile log(path("o.log"), 100, 3);
        ASSERT_TRUE(log.appendLine("line 1000"));
        ASSERT_TRUE(log.appendLine("line 1001"));
    }
    platform::RotatingLogFile again(path("o.log"), 100, 3);
    ASSERT_TRUE(again.appendLine("line 1002"));
    ASSERT_TRUE(again.appendLine("line 1003"));  // would pass 100 bytes: rotates
    EXPECT_EQ(lines(path("o.log.1")), (std::vector<std::string>{"line 1000", "line 1001", "line 1002"}));
    EXPECT_EQ(lines(path("o.log")), (std::vector<std::string>{"line 1003"}));
}

TEST_F(PlatformLog, AFileThatCannotBeOpenedLosesOnlyItsLines) {
    platform::RotatingLogFile log(path("missing/x.log"));
    EXPECT_FALSE(log.appendLine("lost"));
    fs::create_directories(dir_ / "missing");
    EXPECT_TRUE(log.appendLine("kept"));
    EXPECT_EQ(lines(path("missing/x.log")), (std::vector<std::string>{"kept"}));
}

TEST_F(PlatformLog, CapturedBytesAreCutIntoLines) {
    namespace sink = platform::stderr_log;
    sink::openSink(path("s.log"));
    sink::feed("one\r\ntw", 7);
    sink::feed("o\nthr", 5);
    const std::string longLine(70 * 1024, 'y');
    sink::feed(longLine.data(), longLine.size());
    sink::feed("\nunfinished", 11);
    sink::closeSink();
    const std::vector<std::string> got = lines(path("s.log"));
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(got[0], "one");
    EXPECT_EQ(got[1], "two");
    EXPECT_EQ(got[2], "thr" + std::string(64 * 1024 - 3, 'y'));
    EXPECT_EQ(got[3], std::string(70 * 1024 - (64 * 1024 - 3), 'y'));
    EXPECT_EQ(got[4], "unfinished");
}

// Standard error of this process is pointed at a pipe of the test's own, the
// log started and stopped around what is written: the pipe must get the
// bytes unchanged, the file the lines.
class StderrCapture : public PlatformLog {
protected:
    void SetUp() override {
        PlatformLog::SetUp();
        ASSERT_EQ(pipe(pipe_), 0);
        saved_ = dup(STDERR_FILENO);
        ASSERT_GE(dup2(pipe_[1], STDERR_FILENO), 0);
        close(pipe_[1]);
    }
    void TearDown() override {
        platform::stopStderrLog();
        dup2(saved_, STDERR_FILENO);
        close(saved_);
        close(pipe_[0]);
        PlatformLog::TearDown();
    }
    // What reached the test's pipe (call after standard error went back).
    std::string drained() {
        dup2(saved_, STDERR_FILENO);  // the pipe's last write end goes
        std::string out;
        char buffer[4096];
        ssize_t n = 0;
        while ((n = ::read(pipe_[0], buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<std::size_t>(n));
        return out;
    }

    int pipe_[2] = {-1, -1};
    int saved_ = -1;
};

TEST_F(StderrCapture, WhatGoesToStandardErrorAlsoGoesToTheLog) {
    ASSERT_TRUE(platform::startStderrLog(path("pellamo.log")));
    std::fprintf(stderr, "origin refused: https://evil.example\n");
    std::fputs("partial ", stderr);
    platform::writeLogLine("start line, log only");
    std::fputs("line\n", stderr);
    std::fputs("no end", stderr);
    platform::stopStderrLog();
    EXPECT_EQ(drained(), "origin refused: https://evil.example\npartial line\nno end");
    const std::vector<std::string> got = lines(path("pellamo.log"));
    EXPECT_EQ(got.size(), 4u);
    EXPECT_NE(std::find(got.begin(), got.end(), "start line, log only"), got.end());
    EXPECT_NE(std::find(got.begin(), got.end(), "origin refused: https://evil.example"), got.end());
    EXPECT_EQ(got.back(), "no end");
}

TEST_F(StderrCapture, LinesReachTheOriginalStreamWhileTheProgramRuns) {
    ASSERT_TRUE(platform::startStderrLog(path("pellamo.log")));
    std::fputs("listening soon\n", stderr);
    // Not at exit: the reader passes each piece on as it comes.
    fcntl(pipe_[0], F_SETFL, O_NONBLOCK);
    std::string seen;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (seen.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        char buffer[256];
        const ssize_t n = ::read(pipe_[0], buffer, sizeof buffer);
        if (n > 0) seen.append(buffer, static_cast<std::size_t>(n));
        else std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(seen, "listening soon\n");
    fcntl(pipe_[0], F_SETFL, 0);
    platform::stopStderrLog();
    platform::stopStderrLog();  // a second stop does nothing
    EXPECT_EQ(drained(), "");
}

TEST_F(StderrCapture, AStartedProgramWritesToTheOriginalStreamNotTheLog) {
    const std::string script = path("child.sh");
    std::ofstream(script) << "#!/bin/sh\necho from-the-child >&2\n";
    fs::permissions(script, fs::perms::owner_all);
    ASSERT_TRUE(platform::startStderrLog(path("pellamo.log")));
    ASSERT_TRUE(platform::startProcess(script));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::fputs("from-the-parent\n", stderr);
    platform::stopStderrLog();
    const std::string out = drained();
    EXPECT_NE(out.find("from-the-child\n"), std::string::npos) << out;
    EXPECT_NE(out.find("from-the-parent\n"), std::string::npos) << out;
    EXPECT_EQ(read(path("pellamo.log")).find("from-the-child"), std::string::npos);
}

TEST_F(PlatformLog, OneInstanceLockPerDataFolder) {
    platform::InstanceLock first;
    platform::InstanceLock second;
    platform::InstanceLock other;
    fs::create_directories(dir_ / "other");
    EXPECT_EQ(first.tryAcquire(dir_.string()), platform::InstanceLock::Result::Acquired);
    EXPECT_EQ(first.tryAcquire(dir_.string()), platform::InstanceLock::Result::Acquired);
    EXPECT_EQ(second.tryAcquire(dir_.string()), platform::InstanceLock::Result::HeldElsewhere);
    EXPECT_FALSE(second.held());
    EXPECT_EQ(other.tryAcquire(path("other")), platform::InstanceLock::Result::Acquired);
    first.release();
    EXPECT_EQ(second.tryAcquire(dir_.string()), platform::InstanceLock::Result::Acquired);
}

TEST_F(PlatformLog, AStartedProgramDoesNotKeepTheLock) {
    // The restart after an update: the old instance lets go and starts the
    // new one, which must be able to take the lock while the old one ends.
    const std::string script = path("sleeper.sh");
    const std::string started = path("started");
    std::ofstream(script) << "#!/bin/sh\n: > '" << started << "'\nsleep 2\n";
    fs::permissions(script, fs::perms::owner_all);
    platform::InstanceLock old;
    ASSERT_EQ(old.tryAcquire(dir_.string()), platform::InstanceLock::Result::Acquired);
    ASSERT_TRUE(platform::startProcess(script));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!fs::exists(started) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(fs::exists(started));
    old.release();
    platform::InstanceLock successor;
    EXPECT_EQ(successor.tryAcquire(dir_.string()), platform::InstanceLock::Result::Acquired);
}

TEST_F(PlatformLog, AFolderWithoutRoomForTheLockGivesNoLockButDoesNotClaimOne) {
    platform::InstanceLock lock;
    EXPECT_EQ(lock.tryAcquire(path("missing")), platform::InstanceLock::Result::Unavailable);
    EXPECT_FALSE(lock.held());
    if (geteuid() == 0) return;  // root writes into any folder
    fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_EQ(lock.tryAcquire(dir_.string()), platform::InstanceLock::Result::Unavailable);
}

TEST_F(PlatformLog, ALinkInPlaceOfTheLockFileIsNotFollowed) {
    const std::string target = path("elsewhere");
    std::ofstream(target) << "keep";
    fs::create_symlink(target, path("pellamo.lock"));
    platform::InstanceLock lock;
    EXPECT_EQ(lock.tryAcquire(dir_.string()), platform::InstanceLock::Result::Unavailable);
    EXPECT_EQ(read(target), "keep");
}

}  // namespace
