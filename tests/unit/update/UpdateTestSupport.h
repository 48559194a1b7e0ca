// Shared pieces of the update tests: temporary folders, file helpers and an
// agent pointed at the loopback server.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <string>

#include "core/CBlob.h"
#include "helpers/HttpFixture.h"
#include "helpers/UpdateKeys.h"
#include "update/CUpdateQn.h"

namespace update_test {

namespace fs = std::filesystem;

inline std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void writeFile(const fs::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string text(const tesel::CBlob& b) {
    return std::string(reinterpret_cast<const char*>(b.getData()), b.getSize());
}

// Every regular file under a folder with its content.
inline std::map<std::string, std::string> snapshot(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
        if (e.is_regular_file()) files[fs::relative(e.path(), folder).string()] = readFile(e.path());
    }
    return files;
}

class TempDir {
public:
    TempDir() {
        std::random_device rd;
        m_path = fs::temp_directory_path() / ("pellamo-update-" + std::to_string(rd()) + "-" +
                                              std::to_string(counter()++));
        fs::create_directories(m_path);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const fs::path& path() const { return m_path; }
    fs::path operator/(const std::string& name) const { return m_path / name; }

private:
    static std::atomic<unsigned>& counter() {
        static std::atomic<unsigned> c{0};
        return c;
    }
    fs::path m_path;
};

// One loopback server for the whole test binary.
inline testing_http::HttpFixture& server() {
    static testing_http::HttpFixture fixture;
    return fixture;
}

// An agent of the program (variant 4, version 101276) that talks to the
// loopback server and installs into <temp>/program with backups in
// <temp>/backup/. Its builder signs with the test key and it verifies with it
// (allowed here whatever the build).
struct AgentSetup {
    TempDir dir;
    CUpdateQn agent;
    fs::path program = dir / "program";
    fs::path backup = dir / "backup";

    AgentSetup() {
        fs::create_directories(program);
        fs::create_directories(backup);
        agent.setHost(testing_http::HttpFixture::host());
        agent.setPort(server().port());
        agent.setType(tesel::QN_PLUGIN);
        agent.setVersion(101276);
        agent.setProgramFolder(program.string());
        agent.setBackupFolder(backup.string() + "/");
        // Signed and verified with the test key pair, whatever the build's key.
        agent.setVerificationKey(update_keys::verificationKey());
        agent.setSigningKey(update_keys::signingKey());
        agent.setAcceptUnsigned(false);
        agent.setTestKeyAllowed(true);
        agent.setNotifyOnly(false);  // the self-update, whatever the build
    }
};

}  // namespace update_test
