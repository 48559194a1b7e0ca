// The package format, its builder and the agent's request objects.
#include <gtest/gtest.h>

#include "core/CBasicPath.h"
#include "core/AppInfo.h"
#include "errors/eErrCodes.h"
#include "update/CDownloadUpdateRequest.h"
#include "update/CGetVersionProgramRequest.h"
#include "update/UpdatePackage.h"
#include "UpdateTestSupport.h"

using tesel::CBlob;
using testing_http::le32;
using namespace update_test;

namespace {

std::string lp(const std::string& s) { return le32(static_cast<unsigned>(s.size())) + s; }

CBlob blobOf(const std::string& s) {
    return CBlob(reinterpret_cast<const unsigned char*>(s.data()), static_cast<unsigned>(s.size()));
}

}  // namespace

TEST(UpdateRequests, VersionRequestNamesTheVariant) {
    CGetVersionProgramRequest request(tesel::QN_PLUGIN);
    EXPECT_EQ(request.getUrl(), "/api/etc/getLatestVersion/4");
    EXPECT_EQ(request.getType(), HTTP_GET);
    EXPECT_EQ(CGetVersionProgramRequest(tesel::QN_PARTNER).getUrl(), "/api/etc/getLatestVersion/2");
}

TEST(UpdateRequests, DownloadRequestIsAFormText) {
    CDownloadUpdateRequest request(tesel::QN_PLUGIN, "update12", 101277);
    EXPECT_EQ(request.getUrl(), "/api/etc/downloadUpdate");
    EXPECT_EQ(request.getType(), HTTP_POST);
    EXPECT_FALSE(request.isBinaryContent());
    CBlob body;
    std::vector<std::string> headers;
    ASSERT_EQ(request.build(body, headers), 0);
    EXPECT_EQ(text(body), "requesterType=4&filename=update12&version=101277");
    EXPECT_TRUE(headers.empty());
}

TEST(UpdatePackage, PartNames) {
    EXPECT_EQ(qn::update::partFileName(1), "update1");
    EXPECT_EQ(qn::update::partFileName(10), "update10");
}

TEST(UpdatePackage, OnlyBareFileNamesPass) {
    for (const std::string ok : {"pellamo", "upd_qn.so", "a b.txt", "..hidden", "x..y"})
        EXPECT_TRUE(qn::update::isBareFileName(ok)) << ok;
    for (const std::string bad : {"", ".", "..", "../pellamo", "sub/file", "sub\\file", "/etc/passwd",
                                  "\\\\server\\share", "C:evil", "C:\\Windows\\x.dll", "file:stream"})
        EXPECT_FALSE(qn::update::isBareFileName(bad)) << bad;
    EXPECT_FALSE(qn::update::isBareFileName(std::string("a\0b", 3)));
}

// Windows takes superscript one to three for the port digits, whether the
// name's bytes are read as UTF-8 or in the Western code page.
TEST(UpdatePackage, DeviceNamesWithSuperscriptDigitsAreRefused) {
    for (const std::string base : {"COM", "LPT", "com", "Lpt"}) {
        for (const std::string digit : {"\xC2\xB9", "\xC2\xB2", "\xC2\xB3", "\xB9", "\xB2", "\xB3"}) {
            EXPECT_FALSE(qn::update::isBareFileName(base + digit)) << base << digit;
            EXPECT_FALSE(qn::update::isBareFileName(base + digit + ".txt")) << base << digit;
            EXPECT_FALSE(qn::update::isBareFileName(base + digit + " .log")) << base << digit;
        }
    }
    // Other characters after the port name, or more of them, are plain names.
    for (const std::string ok : {"COM\xC2\xB4", "COM\xC2\xB9x", "COM\xC3\xB9", "COM10", "LPT\xB9\xB9", "COMx\xB9",
                                 "ACOM\xC2\xB9"})
        EXPECT_TRUE(qn::update::isBareFileName(ok)) << ok;
}

TEST(UpdatePackage, ListBoundsOnSizeCountAndNameLength) {
    std::vector<std::string> names{"keep"};
    // 1,024 files pass, 1,025 are a damaged list.
    std::vector<std::string> many;
    for (unsigned i = 0; i < qn::update::kMaxPackageFiles; ++i) many.push_back("f" + std::to_string(i));
    CBlob full = qn::update::writePackageInfo(many);
    ASSERT_EQ(qn::update::readPackageInfo(full, names), 0);
    EXPECT_EQ(names.size(), 1024u);
    many.push_back("one-more");
    names = {"keep"};
    EXPECT_EQ(qn::update::readPackageInfo(qn::update::writePackageInfo(many), names), ERR_UNKNOWN_HEADER);
    // A count far beyond the names is refused before any name is read.
    EXPECT_EQ(qn::update::readPackageInfo(blobOf(le32(1026) + lp("a")), names), ERR_UNKNOWN_HEADER);

    // 255 bytes of name pass, 256 do not.
    ASSERT_EQ(qn::update::readPackageInfo(qn::update::writePackageInfo({std::string(255, 'n')}), names), 0);
    names = {"keep"};
    EXPECT_EQ(qn::update::readPackageInfo(qn::update::writePackageInfo({std::string(256, 'n')}), names),
              ERR_UPDATE_FAILED);

    // 64 KiB of list pass, one byte more is damaged whatever it holds.
    const std::string big = std::string(qn::update::kMaxInfoSize - 8, 'b');
    ASSERT_EQ(qn::update::readPackageInfo(blobOf(le32(2) + lp(big)), names), ERR_UPDATE_FAILED);  // name too long
    EXPECT_EQ(qn::update::readPackageInfo(blobOf(le32(1) + std::string(qn::update::kMaxInfoSize - 4, '\0')), names), 0);
    names = {"keep"};
    EXPECT_EQ(qn::update::readPackageInfo(blobOf(le32(1) + std::string(qn::update::kMaxInfoSize - 3, '\0')), names),
              ERR_UNKNOWN_HEADER);
    EXPECT_EQ(names, std::vector<std::string>{"keep"});
}

TEST(UpdatePackage, InfoListIsCountThenNames) {
    const CBlob info = qn::update::writePackageInfo({"pellamo", "upd_qn.so"});
    EXPECT_EQ(text(info), le32(3) + lp("pellamo") + lp("upd_qn.so"));
    std::vector<std::string> names;
    ASSERT_EQ(qn::update::readPackageInfo(info, names), 0);
    EXPECT_EQ(names, (std::vector<std::string>{"pellamo", "upd_qn.so"}));
}

TEST(UpdatePackage, CountsZeroAndOneListNothing) {
    for (unsigned count : {0u, 1u}) {
        std::vector<std::string> names{"stale"};
        ASSERT_EQ(qn::update::readPackageInfo(blobOf(le32(count)), names), 0);
        EXPECT_TRUE(names.empty());
    }
}

TEST(UpdatePackage, DamagedListIsAnUnknownHeader) {
    std::vector<std::string> names{"keep"};
    EXPECT_EQ(qn::update::readPackageInfo(blobOf("ab"), names), ERR_UNKNOWN_HEADER);
    EXPECT_EQ(qn::update::readPackageInfo(blobOf(le32(3) + lp("one")), names), ERR_UNKNOWN_HEADER);
    EXPECT_EQ(qn::update::readPackageInfo(blobOf(le32(2) + le32(1000) + "abc"), names),
              ERR_UNKNOWN_HEADER);
    EXPECT_EQ(qn::update::readPackageInfo(blobOf(le32(0xFFFFFFFFu) + lp("a")), names),
              ERR_UNKNOWN_HEADER);
    EXPECT_EQ(names, std::vector<std::string>{"keep"});
}

TEST(UpdatePackage, AnyHostileNameRefusesTheWholeList) {
    std::vector<std::string> names;
    EXPECT_EQ(qn::update::readPackageInfo(blobOf(le32(3) + lp("good") + lp("../evil")), names),
              ERR_UPDATE_FAILED);
    EXPECT_TRUE(names.empty());
}

TEST(CreateUpdatePackage, PartsAndInfoByteForByte) {
    TempDir dir;
    fs::create_directories(dir / "src" / "subfolder");
    writeFile(dir / "src" / "b.dll", "second file");
    writeFile(dir / "src" / "a.exe", std::string("MZ\0\x01", 4));
    writeFile(dir / "src" / "empty.txt", "");
    writeFile(dir / "src" / "subfolder" / "skipped", "not packaged");

    CUpdateQn agent;
    ASSERT_EQ(agent.createUpdatePackage((dir / "src").string(), (dir / "out").string()), 0);
    const std::string zeros(64, '\0');
    const auto files = snapshot(dir / "out");
    ASSERT_EQ(files.size(), 4u);
    EXPECT_EQ(files.at("updateinfo.dat"), le32(4) + lp("a.exe") + lp("b.dll") + lp("empty.txt"));
    EXPECT_EQ(files.at("update1"), std::string("MZ\0\x01", 4) + zeros);
    EXPECT_EQ(files.at("update2"), "second file" + zeros);
    EXPECT_EQ(files.at("update3"), zeros);
}

TEST(CreateUpdatePackage, EmptyFolderAndUnlistableFolder) {
    TempDir dir;
    fs::create_directories(dir / "src");
    CUpdateQn agent;
    ASSERT_EQ(agent.createUpdatePackage((dir / "src").string(), (dir / "out").string()), 0);
    EXPECT_EQ(readFile(dir / "out" / "updateinfo.dat"), le32(1));
    EXPECT_EQ(agent.createUpdatePackage((dir / "missing").string(), (dir / "out2").string()),
              ERR_INTERNAL);
}

TEST(CreateUpdatePackage, TargetInsideSourceIsNotPackaged) {
    TempDir dir;
    writeFile(dir / "only.bin", "x");
    CUpdateQn agent;
    ASSERT_EQ(agent.createUpdatePackage(dir.path().string(), (dir / "pkg").string()), 0);
    EXPECT_EQ(readFile(dir / "pkg" / "updateinfo.dat"), le32(2) + lp("only.bin"));
}

TEST(AgentObject, FoldersAndDefaults) {
    CUpdateQn agent;
    const std::string root = tesel::CBasicPath::instance().getRootPath();
    EXPECT_EQ(agent.getBackupFolder(), root + "/backup/");
    EXPECT_TRUE(fs::is_directory(agent.getBackupFolder()));
    EXPECT_EQ(agent.getProgramFolder(), tesel::CBasicPath::instance().getCurrentDir());
    EXPECT_EQ(agent.getVersion(), 0u);
    EXPECT_EQ(agent.getType(), tesel::QN_UNSPECIFIED);
    EXPECT_FALSE(agent.isFollowingRedirects());
    EXPECT_EQ(agent.getTimeout(), 5u);
    agent.setBackupFolder("/elsewhere/");
    EXPECT_EQ(agent.getBackupFolder(), "/elsewhere/");
}

TEST(AgentObject, HearsVersionAndVariantOnceListening) {
    tesel::setVersion(101276);
    {
        CUpdateQn agent;
        agent.listenToAppInfo();
        // Values set before listening are passed on at once.
        EXPECT_EQ(agent.getVersion(), 101276u);
        tesel::setVersion(101300);
        tesel::setAppType(tesel::QN_PLUGIN);
        EXPECT_EQ(agent.getVersion(), 101300u);
        EXPECT_EQ(agent.getType(), tesel::QN_PLUGIN);
    }
    // The agent is gone; setting the values must not reach it any more.
    tesel::setVersion(101301);
    EXPECT_EQ(tesel::getVersion(), 101301u);
}
