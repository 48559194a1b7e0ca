// The restart after an update, with real processes: a stand-in program
// (update_probe) runs the agent, and the agent starts a new instance of it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "UpdateTestSupport.h"

using testing_http::kMagic;
using namespace update_test;

namespace {

const std::string kProbe = UPDATE_PROBE;

// Runs the probe in folder cwd with the given arguments and extra
// environment, standard input from /dev/null and standard error into a
// file. Returns the exit code (-1 when it did not exit normally).
int runProbe(const std::string& executable, const fs::path& cwd, std::vector<std::string> args,
             std::vector<std::string> env, const fs::path& errFile) {
    args.insert(args.begin(), executable);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (entry.rfind("PELLAMO_DEFAULT_ANSWER=", 0) != 0 && entry.rfind("UPDATE_PROBE_MARKER=", 0) != 0)
            env.push_back(entry);
    }
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    const std::string dir = cwd.string();
    const std::string err = errFile.string();

    const pid_t pid = fork();
    if (pid == 0) {
        const int in = open("/dev/null", O_RDONLY);
        const int out = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || chdir(dir.c_str()) != 0) _exit(120);
        dup2(in, 0);
        dup2(out, 2);
        execve(argv[0], argv.data(), envp.data());
        _exit(121);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The restarted instance runs on its own: wait until it has reported.
std::string waitForMarker(const fs::path& marker) {
    for (int i = 0; i < 200; ++i) {
        const std::string content = readFile(marker);
        if (!content.empty() && content.back() == '\n') return content;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return readFile(marker);
}

}  // namespace

TEST(Restart, NewInstanceOfTheRunningExecutableStartsAndTheOldOneEnds) {
    TempDir dir;
    const fs::path marker = dir / "marker";
    const int code = runProbe(kProbe, dir.path(), {"restart"},
                              {"UPDATE_PROBE_MARKER=" + marker.string()}, dir / "stderr");
    EXPECT_EQ(code, 0) << readFile(dir / "stderr");
    // Started without arguments, the new instance only reports itself.
    EXPECT_EQ(waitForMarker(marker), "restarted old\n");
}

TEST(Restart, EndToEndUpdateReplacesTheProgramAndRunsTheNewVersion) {
    server().reset();
    TempDir dir;
    const fs::path program = dir / "program";
    const fs::path next = dir / "next";
    fs::create_directories(program);
    fs::create_directories(next);

    // The installed program: the probe and a data file.
    const std::string probeBytes = readFile(kProbe);
    ASSERT_FALSE(probeBytes.empty());
    fs::copy_file(kProbe, program / "update_probe");
    writeFile(program / "data.txt", "old data");

    // The published version: a changed probe, changed data, one new file.
    writeFile(next / "update_probe", probeBytes + "#NEW-VERSION#");
    writeFile(next / "data.txt", "new data");
    writeFile(next / "readme.txt", "added in 1.01.277");
    CUpdateQn builder;
    builder.setType(tesel::QN_PLUGIN);
    builder.setSigningKey(update_keys::signingKey());
    ASSERT_EQ(builder.createUpdatePackage(next.string(), (dir / "package").string(), 101277), 0);
    server().package((dir / "package").string());
    server().route("/api/etc/getLatestVersion/4", kMagic + "101277");

    const fs::path marker = dir / "marker";
    const int code = runProbe((program / "update_probe").string(), program,
                              {"update", testing_http::HttpFixture::host(),
                               std::to_string(server().port()), "101276"},
                              {"PELLAMO_DEFAULT_ANSWER=yes", "UPDATE_PROBE_MARKER=" + marker.string()},
                              dir / "stderr");
    const std::string shown = readFile(dir / "stderr");
    EXPECT_EQ(code, 0) << shown;
    EXPECT_NE(shown.find("[Pellamo Plugin] Доступно обновление. Обновить программу?"), std::string::npos)
        << shown;
    EXPECT_NE(shown.find("[Pellamo Plugin] Обновление загружено. Требуется перезапуск программы"),
              std::string::npos)
        << shown;
    EXPECT_NE(shown.find("handled=1"), std::string::npos) << shown;

    EXPECT_EQ(readFile(program / "update_probe"), probeBytes + "#NEW-VERSION#");
    EXPECT_EQ(readFile(program / "data.txt"), "new data");
    EXPECT_EQ(readFile(program / "readme.txt"), "added in 1.01.277");
    // The program's own backup folder: <current directory>/data/backup/.
    EXPECT_EQ(readFile(program / "data" / "backup" / "update_probe"), probeBytes);
    EXPECT_EQ(readFile(program / "data" / "backup" / "data.txt"), "old data");

    // The new instance is the replaced executable.
    EXPECT_EQ(waitForMarker(marker), "restarted new\n");
}

TEST(Restart, UpdateDeclinedKeepsTheProgramRunning) {
    server().reset();
    server().route("/api/etc/getLatestVersion/4", kMagic + "101277");
    TempDir dir;
    const int code = runProbe(kProbe, dir.path(),
                              {"update", testing_http::HttpFixture::host(),
                               std::to_string(server().port()), "101276"},
                              {"PELLAMO_DEFAULT_ANSWER=no", "UPDATE_PROBE_MARKER=" + (dir / "m").string()},
                              dir / "stderr");
    EXPECT_EQ(code, 5) << readFile(dir / "stderr");
    EXPECT_NE(readFile(dir / "stderr").find("handled=0"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "m"));
}
