// The update agent against the local CA peer serving a package folder: the
// latest version, the download of a package and its installation.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "PeerFixture.h"
#include "helpers/UpdateKeys.h"
#include "update/CUpdateQn.h"

using namespace exchange_test;
namespace fs = std::filesystem;

namespace {

class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/pellamo-upd-XXXXXX";
        if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp");
        m_path = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    const fs::path& path() const { return m_path; }

private:
    fs::path m_path;
};

void writeFile(const fs::path& p, const std::string& content) {
    std::ofstream(p, std::ios::binary) << content;
}

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

TEST(PeerUpdates, AgentFindsDownloadsAndInstallsThePublishedVersion) {
    TempDir root;
    const fs::path source = root.path() / "source", program = root.path() / "program";
    fs::create_directories(source);
    fs::create_directories(program);
    fs::create_directories(root.path() / "backup");
    writeFile(source / "pellamo.bin", "new program");
    writeFile(source / "readme.txt", "new readme");
    writeFile(program / "pellamo.bin", "old program");

    fs::create_directories(root.path() / "packages" / "4");
    CUpdateQn agent;
    agent.setType(tesel::QN_PLUGIN);
    agent.setSigningKey(update_keys::signingKey());
    agent.setVerificationKey(update_keys::verificationKey());
    // Published for the plug-in (type 4) as version 101300; an older one too.
    ASSERT_EQ(agent.createUpdatePackage(source.string(), (root.path() / "packages" / "4" / "101300").string(), 101300), 0);
    ASSERT_EQ(agent.createUpdatePackage(source.string(), (root.path() / "packages" / "4" / "101200").string(), 101200), 0);
    PeerProcess peer({"--packages", (root.path() / "packages").string()});

    agent.setHost("http://127.0.0.1");
    agent.setPort(peer.port());
    agent.setType(tesel::QN_PLUGIN);
    agent.setVersion(101276);
    agent.setProgramFolder(program.string());
    agent.setBackupFolder((root.path() / "backup").string() + "/");
    unsigned latest = 0;
    EXPECT_EQ(agent.checkUpdates(latest), ERR_PROGRAM_OUTDATED);
    EXPECT_EQ(latest, 101300u);
    ASSERT_EQ(agent.updateProgram(latest), 0);
    EXPECT_EQ(readFile(program / "pellamo.bin"), "new program");
    EXPECT_EQ(readFile(program / "readme.txt"), "new readme");
    EXPECT_EQ(readFile(root.path() / "backup" / "pellamo.bin"), "old program");

    CBlob content;
    EXPECT_EQ(agent.downloadUpdate("missing.dat", 101300, content), ERR_PACKET_DAMAGED);
    EXPECT_EQ(agent.downloadUpdate("updateinfo.dat", 999, content), ERR_PACKET_DAMAGED);
    // No package for the client variant.
    agent.setType(tesel::QN_CLIENT);
    EXPECT_EQ(agent.getLatestVersion(latest), ERR_SERVER_INTERNAL);
}
