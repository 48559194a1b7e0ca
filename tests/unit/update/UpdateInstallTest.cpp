// Installing packages into a program folder: backups, order of replacement,
// refusal of hostile packages, failures part-way.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "errors/eErrCodes.h"
#include "update/UpdatePackage.h"
#include "UpdateTestSupport.h"

using testing_http::errorForm;
using update_keys::signedList;
using update_keys::signedPart;
using testing_http::le32;
using namespace update_test;

namespace {

constexpr unsigned kVersion = 101277;

std::string lp(const std::string& s) { return le32(static_cast<unsigned>(s.size())) + s; }


class UpdateInstall : public ::testing::Test {
protected:
    void SetUp() override { server().reset(); }

    // Builds a package from name -> content with the agent's own builder and
    // has the server publish it.
    void publish(const std::map<std::string, std::string>& files) {
        fs::create_directories(pkg / "src");
        for (const auto& [name, content] : files) writeFile(pkg / "src" / name, content);
        ASSERT_EQ(s.agent.createUpdatePackage((pkg / "src").string(), (pkg / "out").string(), kVersion), 0);
        server().package((pkg / "out").string());
    }

    std::vector<std::string> requestedFiles() {
        std::vector<std::string> names;
        for (const auto& r : server().log()) {
            const auto at = r.body.find("filename=");
            if (at != std::string::npos)
                names.push_back(r.body.substr(at + 9, r.body.find('&', at) - at - 9));
        }
        return names;
    }

    AgentSetup s;
    TempDir pkg;
};

}  // namespace

TEST_F(UpdateInstall, FilesAreReplacedAndTheOldOnesBackedUp) {
    writeFile(s.program / "a.exe", "old a");
    writeFile(s.program / "b.dll", "old b");
    writeFile(s.program / "untouched.cfg", "settings");
    writeFile(s.backup / "a.exe", "ancient a");  // an earlier update's backup
    publish({{"a.exe", "new a"}, {"b.dll", "new b"}, {"c.txt", "brand new"}});

    ASSERT_EQ(s.agent.updateProgram(kVersion), 0);
    EXPECT_EQ(snapshot(s.program), (std::map<std::string, std::string>{{"a.exe", "new a"},
                                                                      {"b.dll", "new b"},
                                                                      {"c.txt", "brand new"},
                                                                      {"untouched.cfg", "settings"}}));
    // The backup folder holds the most recently replaced versions.
    EXPECT_EQ(snapshot(s.backup),
              (std::map<std::string, std::string>{{"a.exe", "old a"}, {"b.dll", "old b"}}));
    EXPECT_EQ(requestedFiles(),
              (std::vector<std::string>{"updateinfo.dat", "update1", "update2", "update3"}));
}

TEST_F(UpdateInstall, ExecutableStaysExecutable) {
    writeFile(s.program / "pellamo", "old program");
    fs::permissions(s.program / "pellamo", fs::perms::owner_all);
    publish({{"pellamo", "new program"}});
    ASSERT_EQ(s.agent.updateProgram(kVersion), 0);
    EXPECT_EQ(readFile(s.program / "pellamo"), "new program");
    EXPECT_NE(fs::status(s.program / "pellamo").permissions() & fs::perms::owner_exec, fs::perms::none);
}

TEST_F(UpdateInstall, HostileNamesRefuseEverythingBeforeAnyFileIsTouched) {
    writeFile(s.program / "a.exe", "old a");
    writeFile(s.backup / "a.exe", "backup a");
    const auto before = snapshot(s.dir.path());
    // Signed, so that only the name can be what refuses them; device names,
    // names Windows would change, and a second name for the same file too.
    for (const std::string& hostile : std::vector<std::string>{"../escape", "..", ".", "", "sub/x", "sub\\x", "/tmp/abs", "C:\\x", "D:x", "CON", "nul.txt",
          "Com1", "LPT9.log", "CONOUT$", "a.exe ", "a.exe.", "A.EXE", "a.exe", "x.update-new", "a<b",
          "q?", "tab\there", "COM\xC2\xB9", "lpt\xC2\xB2.txt", "COM\xB3", "LPT\xB9.dll"}) {
        server().reset();
        server().download("updateinfo.dat", signedList(kVersion, {"a.exe", hostile}));
        server().download("update1", signedPart(kVersion, 1, "a.exe", "new a"));
        server().download("update2", signedPart(kVersion, 2, hostile, "evil"));
        EXPECT_EQ(s.agent.updateProgram(kVersion), ERR_UPDATE_FAILED) << hostile;
        EXPECT_EQ(requestedFiles(), std::vector<std::string>{"updateinfo.dat"}) << hostile;
    }
    EXPECT_EQ(snapshot(s.dir.path()), before);
    EXPECT_FALSE(fs::exists(s.dir / "escape"));
}

TEST_F(UpdateInstall, DamagedListTouchesNothing) {
    writeFile(s.program / "a.exe", "old a");
    const auto before = snapshot(s.dir.path());
    const std::string damaged = le32(4) + lp("a.exe") + lp("b") + le32(99) + "short";
    // Its signature is checked before a byte of it is read.
    server().download("updateinfo.dat", damaged);
    EXPECT_EQ(s.agent.updateProgram(kVersion), ERR_UPDATE_FAILED);
    server().download("updateinfo.dat", update_keys::signedListBytes(kVersion, damaged));
    EXPECT_EQ(s.agent.updateProgram(kVersion), ERR_UNKNOWN_HEADER);
    EXPECT_EQ(snapshot(s.dir.path()), before);
}

TEST_F(UpdateInstall, DownloadFailureAtFileKTouchesNothing) {
    writeFile(s.program / "f1", "old 1");
    writeFile(s.program / "f2", "old 2");
    writeFile(s.program / "f3", "old 3");
    publish({{"f1", "new 1"}, {"f2", "new 2"}, {"f3", "new 3"}});
    server().download("update2", errorForm(5));
    const auto before = snapshot(s.dir.path());

    EXPECT_EQ(s.agent.updateProgram(kVersion), ERR_MORE_THAN_ONE_ENVELOPE);
    // Every part comes before the first file is replaced: a half-installed
    // version never runs.
    EXPECT_EQ(snapshot(s.dir.path()), before);
    EXPECT_EQ(requestedFiles(), (std::vector<std::string>{"updateinfo.dat", "update1", "update2"}));
}

TEST_F(UpdateInstall, TransferFailureAtFileKStopsThere) {
    writeFile(s.program / "f1", "old 1");
    writeFile(s.program / "f2", "old 2");
    publish({{"f1", "new 1"}, {"f2", "new 2"}});
    server().route("/api/etc/downloadUpdate", "", 0);  // from now on the server hangs up
    // updateinfo.dat was not fetched yet either: nothing changes at all.
    EXPECT_EQ(s.agent.updateProgram(kVersion), ERR_SERVER_TRANSFER);
    EXPECT_EQ(readFile(s.program / "f1"), "old 1");
}

TEST_F(UpdateInstall, PartShorterThanItsTrailerIsDamaged) {
    writeFile(s.program / "f1", "old 1");
    writeFile(s.program / "f2", "old 2");
    server().download("updateinfo.dat", signedList(kVersion, {"f1", "f2"}));
    server().download("update1", signedPart(kVersion, 1, "f1", "new 1"));
    server().download("update2", std::string(63, 'x'));
    EXPECT_EQ(s.agent.updateProgram(kVersion), ERR_UNKNOWN_HEADER);
    EXPECT_EQ(readFile(s.program / "f1"), "old 1");
    EXPECT_EQ(readFile(s.program / "f2"), "old 2");
}

TEST_F(UpdateInstall, PartOfExactlyTheTrailerGivesAnEmptyFile) {
    writeFile(s.program / "f1", "old 1");
    server().download("updateinfo.dat", signedList(kVersion, {"f1"}));
    server().download("update1", signedPart(kVersion, 1, "f1", ""));
    ASSERT_EQ(s.agent.updateProgram(kVersion), 0);
    EXPECT_EQ(readFile(s.program / "f1"), "");
}

TEST_F(UpdateInstall, ListOfNoFilesIsASuccessfulUpdate) {
    writeFile(s.program / "f1", "old 1");
    for (unsigned count : {0u, 1u}) {
        server().download("updateinfo.dat", update_keys::signedListBytes(kVersion, le32(count)));
        EXPECT_EQ(s.agent.updateProgram(kVersion), 0) << count;
    }
    EXPECT_EQ(readFile(s.program / "f1"), "old 1");
}

TEST_F(UpdateInstall, ReplacementThatCannotBackUpLeavesTheLiveFile) {
    writeFile(s.program / "f1", "old 1");
    // A non-empty folder where the backup should go cannot be replaced.
    fs::create_directories(s.backup / "f1" / "inside");
    server().download("updateinfo.dat", signedList(kVersion, {"f1"}));
    server().download("update1", signedPart(kVersion, 1, "f1", "new 1"));
    EXPECT_EQ(s.agent.updateProgram(kVersion), ERR_UPDATE_FAILED);
    EXPECT_EQ(snapshot(s.program), (std::map<std::string, std::string>{{"f1", "old 1"}}));
}

TEST_F(UpdateInstall, ReplacementThatCannotRenameLeavesNoTemporaryFile) {
    // A folder stands where the file would go.
    fs::create_directories(s.program / "f1" / "inside");
    server().download("updateinfo.dat", signedList(kVersion, {"f1"}));
    server().download("update1", signedPart(kVersion, 1, "f1", "new 1"));
    EXPECT_EQ(s.agent.updateProgram(kVersion), ERR_UPDATE_FAILED);
    EXPECT_TRUE(fs::is_directory(s.program / "f1" / "inside"));
    EXPECT_TRUE(snapshot(s.program).empty());
}

TEST_F(UpdateInstall, MissingBackupFolderIsCreated) {
    writeFile(s.program / "f1", "old 1");
    fs::remove_all(s.backup);
    server().download("updateinfo.dat", signedList(kVersion, {"f1"}));
    server().download("update1", signedPart(kVersion, 1, "f1", "new 1"));
    ASSERT_EQ(s.agent.updateProgram(kVersion), 0);
    EXPECT_EQ(readFile(s.backup / "f1"), "old 1");
}
