// The settings file: its byte layout, the versions that are read, damaged
// files, and how the address reaches every HTTP client.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/Settings.h"
#include "app/UpdateModule.h"
#include "core/AppInfo.h"
#include "core/CBasicPath.h"
#include "errors/eErrCodes.h"
#include "server/CWebSocketServer.h"
#include "transport/TransportServer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void putU32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// magic, version, host length, host, port; `hostLength` overrides the length.
Bytes settingsBytes(std::uint32_t version, const std::string& host, std::uint32_t port,
                    Bytes magic = {0x1D, 0xF1, 0xDE, 0xFF}, std::int64_t hostLength = -1) {
    Bytes b = magic;
    putU32(b, version);
    putU32(b, hostLength < 0 ? static_cast<std::uint32_t>(host.size()) : static_cast<std::uint32_t>(hostLength));
    b.insert(b.end(), host.begin(), host.end());
    putU32(b, port);
    return b;
}

void writeFile(const Bytes& bytes) {
    std::ofstream out(getSettingsFile(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes readFile() {
    std::ifstream in(getSettingsFile(), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool fileExists() { return std::filesystem::exists(getSettingsFile()); }

class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::remove(getSettingsFile());
        setTransportServerAddress(getDefaultTransportServerAddress());
    }
    void TearDown() override { std::filesystem::remove(getSettingsFile()); }

    static void expectEverywhere(const std::string& host, unsigned port) {
        const httpSrv::httpServerAddress a = getTransportServerAddress();
        EXPECT_EQ(a.host, host);
        EXPECT_EQ(a.port, port);
        EXPECT_EQ(getTransportServer().getHost(), host);
        EXPECT_EQ(getTransportServer().getPort(), port);
        EXPECT_EQ(getUpdateModule().getHost(), host);
        EXPECT_EQ(getUpdateModule().getPort(), port);
    }
};

TEST_F(SettingsFileTest, LivesInTheDataFolderUnderTheWorkingDirectory) {
    const std::filesystem::path expected =
        std::filesystem::current_path() / "data" / "settings.dat";
    EXPECT_EQ(std::filesystem::path(getSettingsFile()), expected);
    EXPECT_EQ(getSettingsFile(), tesel::CBasicPath::instance().getRootPath() + "/settings.dat");
}

TEST_F(SettingsFileTest, DefaultsAreTheDeploymentsTransportServerOnPort9200) {
    const httpSrv::httpServerAddress d = getDefaultTransportServerAddress();
    EXPECT_FALSE(d.host.empty());
    EXPECT_EQ(d.host.find(':'), std::string::npos);
    EXPECT_EQ(d.port, 9200u);
}

TEST_F(SettingsFileTest, SaveWritesMagicVersion106HostAndPortInExactlyNPlus16Bytes) {
    setTransportServerAddress({"ca.example.org", 8443});
    EXPECT_EQ(saveSettings(), ERR_OK);
    const Bytes expected = {0x1D, 0xF1, 0xDE, 0xFF, 106, 0, 0, 0, 14, 0, 0, 0,
                            'c',  'a',  '.',  'e',  'x', 'a', 'm', 'p', 'l', 'e',
                            '.',  'o',  'r',  'g',  0xFB, 0x20, 0, 0};
    EXPECT_EQ(readFile(), expected);
    EXPECT_EQ(readFile().size(), std::string("ca.example.org").size() + 16);
    // Nothing else is left in the data folder (the file is written beside
    // itself and renamed).
    EXPECT_FALSE(std::filesystem::exists(getSettingsFile() + ".new"));
}

TEST_F(SettingsFileTest, SavedFileIsReadBackAndReachesEveryClient) {
    setTransportServerAddress({"10.1.2.3", 9300});
    saveSettings();
    setTransportServerAddress({"other", 1});
    EXPECT_EQ(loadSettings(), ERR_OK);
    expectEverywhere("10.1.2.3", 9300);
}

TEST_F(SettingsFileTest, Versions105And106AreRead105IsRewrittenAs106) {
    for (std::uint32_t version : {105u, 106u}) {
        SCOPED_TRACE(version);
        writeFile(settingsBytes(version, "h" + std::to_string(version), version + 1));
        EXPECT_EQ(loadSettings(), ERR_OK);
        expectEverywhere("h" + std::to_string(version), version + 1);
    }
    writeFile(settingsBytes(105, "old", 1234));
    ASSERT_EQ(loadSettings(), ERR_OK);
    saveSettings();
    EXPECT_EQ(readFile(), settingsBytes(106, "old", 1234));
}

TEST_F(SettingsFileTest, AnotherVersionIs80AndTheDefaultsStay) {
    const httpSrv::httpServerAddress d = getDefaultTransportServerAddress();
    for (std::uint32_t version : {0u, 104u, 107u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(version);
        setTransportServerAddress({"before", 1});
        writeFile(settingsBytes(version, "host", 80));
        EXPECT_EQ(loadSettings(), ERR_SETTINGS_DAMAGED);
        expectEverywhere(d.host, d.port);
    }
}

TEST_F(SettingsFileTest, TheMagicIsNotCompared) {
    writeFile(settingsBytes(106, "any.magic", 7000, {'A', 'B', 'C', 'D'}));
    EXPECT_EQ(loadSettings(), ERR_OK);
    expectEverywhere("any.magic", 7000);
}

TEST_F(SettingsFileTest, MissingFileGivesDefaultsAndZeroAndMakesNoFile) {
    setTransportServerAddress({"before", 1});
    EXPECT_EQ(loadSettings(), ERR_OK);
    const httpSrv::httpServerAddress d = getDefaultTransportServerAddress();
    expectEverywhere(d.host, d.port);
    EXPECT_FALSE(fileExists());
}

TEST_F(SettingsFileTest, EmptyHostAndZeroPortAreAValidRecord) {
    writeFile(settingsBytes(106, "", 0));
    EXPECT_EQ(loadSettings(), ERR_OK);
    expectEverywhere("", 0);
}

// Fields that disagree with the file's size are never read past its end:
// the record is damaged (80) and the defaults stay.
TEST_F(SettingsFileTest, DamagedFieldsAre80WithTheDefaultsKept) {
    const httpSrv::httpServerAddress d = getDefaultTransportServerAddress();
    const Bytes good = settingsBytes(106, "host.example", 9300);
    std::vector<std::pair<const char*, Bytes>> cases = {
        {"empty file", {}},
        {"magic only", Bytes(good.begin(), good.begin() + 4)},
        {"no host length", Bytes(good.begin(), good.begin() + 8)},
        {"host cut short", Bytes(good.begin(), good.begin() + 15)},
        {"no port", Bytes(good.begin(), good.end() - 4)},
        {"port cut short", Bytes(good.begin(), good.end() - 1)},
        {"host length beyond the end", settingsBytes(106, "host.example", 9300, {0x1D, 0xF1, 0xDE, 0xFF}, 100)},
        {"host length near 4 GiB", settingsBytes(106, "host.example", 9300, {0x1D, 0xF1, 0xDE, 0xFF}, 0xFFFFFFFF)},
        {"host length too small", settingsBytes(106, "host.example", 9300, {0x1D, 0xF1, 0xDE, 0xFF}, 4)},
        {"bytes after the port", [&] { Bytes b = good; b.push_back(0); return b; }()},
    };
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        setTransportServerAddress({"before", 1});
        writeFile(bytes);
        EXPECT_EQ(loadSettings(), ERR_SETTINGS_DAMAGED);
        expectEverywhere(d.host, d.port);
    }
}

TEST_F(SettingsFileTest, AFolderInPlaceOfTheFileCountsAsNoFile) {
    std::filesystem::create_directory(getSettingsFile());
    EXPECT_EQ(loadSettings(), ERR_OK);
    const httpSrv::httpServerAddress d = getDefaultTransportServerAddress();
    expectEverywhere(d.host, d.port);
    // The failed save is not reported and leaves no stray file behind.
    EXPECT_EQ(saveSettings(), ERR_OK);
    EXPECT_FALSE(std::filesystem::exists(getSettingsFile() + ".new"));
    std::filesystem::remove(getSettingsFile());
}

TEST_F(SettingsFileTest, LoadingPutsThePluginPortBackTo3000) {
    setPluginPort(4321);
    loadSettings();
    EXPECT_EQ(getPluginPort(), 3000u);
    setPluginPort(4321);
    writeFile(settingsBytes(107, "x", 1));
    loadSettings();
    EXPECT_EQ(getPluginPort(), 3000u);
}

TEST_F(SettingsFileTest, SettingTheAddressPushesItWithoutSaving) {
    setTransportServerAddress({"pushed.example", 1234});
    expectEverywhere("pushed.example", 1234);
    EXPECT_FALSE(fileExists());
}

TEST(UpdateModuleTest, LearnsTheProgramsVersionAndVariant) {
    tesel::setVersion(101276);
    tesel::setAppType(tesel::QN_PLUGIN);
    EXPECT_EQ(getUpdateModule().getVersion(), 101276u);
    EXPECT_EQ(getUpdateModule().getType(), tesel::QN_PLUGIN);
    EXPECT_EQ(&getUpdateModule(), &getUpdateModule());
}

}  // namespace
