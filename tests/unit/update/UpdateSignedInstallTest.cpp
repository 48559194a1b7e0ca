// Signed packages: what the agent refuses before touching a file, what it
// accepts unsigned when told to, and installations interrupted at every step.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "errors/eErrCodes.h"
#include "update/UpdatePackage.h"
#include "update/UpdateSignature.h"
#include "UpdateTestSupport.h"

using testing_http::le32;
using update_keys::signedList;
using update_keys::signedPart;
using namespace update_test;

namespace {

constexpr unsigned kVersion = 101277;
const std::string kZeros(64, '\0');

std::string unsignedList(const std::vector<std::string>& names) {
    std::string out = le32(static_cast<unsigned>(names.size() + 1));
    for (const auto& n : names) out += le32(static_cast<unsigned>(n.size())) + n;
    return out;
}

class SignedInstall : public ::testing::Test {
protected:
    void SetUp() override {
        server().reset();
        writeFile(s.program / "a.exe", "old a");
        writeFile(s.program / "b.dll", "old b");
    }

    void serveGood() {
        server().download("updateinfo.dat", signedList(kVersion, {"a.exe", "b.dll"}));
        server().download("update1", signedPart(kVersion, 1, "a.exe", "new a"));
        server().download("update2", signedPart(kVersion, 2, "b.dll", "new b"));
    }

    // Refused with 78 and not a byte changed anywhere.
    void expectRefused(const char* what) {
        const auto before = snapshot(s.dir.path());
        EXPECT_EQ(s.agent.updateProgram(kVersion), ERR_UPDATE_FAILED) << what;
        EXPECT_EQ(snapshot(s.dir.path()), before) << what;
    }

    AgentSetup s;
};

}  // namespace

TEST(UpdateSignature, SignsAndVerifiesOnlyWithTheMatchingKeyAndDigest) {
    unsigned char digest[qn::update::kDigestSize];
    qn::update::partDigest(tesel::QN_PLUGIN, 1, 1, "a", reinterpret_cast<const unsigned char*>("x"), 1, digest);
    unsigned char signature[qn::update::kSignatureSize];
    ASSERT_TRUE(qn::update::signDigest(update_keys::signingKey(), digest, signature));
    EXPECT_TRUE(qn::update::verifyDigest(update_keys::verificationKey(), digest, signature));

    qn::update::Bytes derived;
    ASSERT_TRUE(qn::update::publicKeyOf(update_keys::signingKey(), derived));
    EXPECT_EQ(derived, update_keys::verificationKey());

    unsigned char other[qn::update::kDigestSize];
    qn::update::partDigest(tesel::QN_PLUGIN, 1, 2, "a", reinterpret_cast<const unsigned char*>("x"), 1, other);
    EXPECT_FALSE(qn::update::verifyDigest(update_keys::verificationKey(), other, signature));
    // A key that is not a point of the curve verifies nothing.
    qn::update::Bytes offCurve = update_keys::verificationKey();
    offCurve[5] ^= 1;
    EXPECT_FALSE(qn::update::verifyDigest(offCurve, digest, signature));
    EXPECT_FALSE(qn::update::verifyDigest({}, digest, signature));
    EXPECT_FALSE(qn::update::signDigest(qn::update::Bytes(32, 0), digest, signature));
}

TEST_F(SignedInstall, GoodPackageInstalls) {
    serveGood();
    ASSERT_EQ(s.agent.updateProgram(kVersion), 0);
    EXPECT_EQ(readFile(s.program / "a.exe"), "new a");
    EXPECT_EQ(readFile(s.program / "b.dll"), "new b");
}

TEST_F(SignedInstall, TamperedPiecesRefuseTheWholeUpdate) {
    serveGood();
    std::string part = signedPart(kVersion, 2, "b.dll", "new b");
    part[1] ^= 0x20;
    server().download("update2", part);
    expectRefused("tampered content");

    serveGood();
    part = signedPart(kVersion, 2, "b.dll", "new b");
    part[part.size() - 1] ^= 1;
    server().download("update2", part);
    expectRefused("tampered signature");

    // The name list: another name under the list's signature.
    serveGood();
    std::string list = signedList(kVersion, {"a.exe", "b.dll"});
    list[list.find("b.dll")] = 'c';
    server().download("updateinfo.dat", list);
    expectRefused("tampered list");

    // A list with its signature cut off, and one with bytes after it.
    serveGood();
    server().download("updateinfo.dat", unsignedList({"a.exe", "b.dll"}));
    expectRefused("list without signature");
    server().download("updateinfo.dat", signedList(kVersion, {"a.exe", "b.dll"}) + "x");
    expectRefused("list with trailing bytes");
}

TEST_F(SignedInstall, PiecesSignedForAnotherVersionPlaceOrFileAreRefused) {
    serveGood();
    server().download("update2", signedPart(kVersion - 1, 2, "b.dll", "new b"));
    expectRefused("part of another version");

    serveGood();
    server().download("updateinfo.dat", signedList(kVersion + 1, {"a.exe", "b.dll"}));
    expectRefused("list of another version");

    // Part 1's bytes served as part 2, and a part signed for another name.
    serveGood();
    server().download("update2", signedPart(kVersion, 1, "b.dll", "new b"));
    expectRefused("part of another number");
    serveGood();
    server().download("update2", signedPart(kVersion, 2, "a.exe", "new b"));
    expectRefused("part of another file");
}

TEST_F(SignedInstall, PackageOfAnotherVariantIsRefused) {
    // The client's package of the same version, signed with the same key.
    server().download("updateinfo.dat", signedList(kVersion, {"a.exe", "b.dll"}, update_keys::signingKey(), tesel::QN_CLIENT));
    server().download("update1", signedPart(kVersion, 1, "a.exe", "new a", update_keys::signingKey(), tesel::QN_CLIENT));
    server().download("update2", signedPart(kVersion, 2, "b.dll", "new b", update_keys::signingKey(), tesel::QN_CLIENT));
    expectRefused("list and parts of another variant");
    serveGood();
    server().download("update2", signedPart(kVersion, 2, "b.dll", "new b", update_keys::signingKey(), tesel::QN_CA));
    expectRefused("one part of another variant");
    // The same files signed for the program install.
    serveGood();
    ASSERT_EQ(s.agent.updateProgram(kVersion), 0);
    EXPECT_EQ(readFile(s.program / "b.dll"), "new b");
}

TEST_F(SignedInstall, ListSignatureIsCheckedBeforeTheListIsRead) {
    serveGood();
    // Damaged and hostile lists without a valid signature are refused for
    // the signature (78), whatever the reader would have said of them.
    const std::string damaged = le32(3) + le32(1000) + "a";
    server().download("updateinfo.dat", damaged + std::string(64, 'S'));
    expectRefused("unsigned damaged list");
    // Signed, the same damaged bytes are a damaged list (6).
    server().download("updateinfo.dat", update_keys::signedListBytes(kVersion, damaged));
    EXPECT_EQ(s.agent.updateProgram(kVersion), ERR_UNKNOWN_HEADER);
    // Signed bytes that hold more than the list are not a list the builder made.
    server().download("updateinfo.dat", update_keys::signedListBytes(kVersion, unsignedList({"a.exe"}) + "x"));
    EXPECT_EQ(s.agent.updateProgram(kVersion), ERR_UNKNOWN_HEADER);
    // A list longer than 64 KiB ends the transfer as it arrives.
    server().download("updateinfo.dat", update_keys::signedListBytes(kVersion, unsignedList({std::string(70000, 'x')})));
    EXPECT_EQ(s.agent.updateProgram(kVersion), ERR_SERVER_TRANSFER);
    EXPECT_EQ(snapshot(s.program), (std::map<std::string, std::string>{{"a.exe", "old a"}, {"b.dll", "old b"}}));
}

// The repository's test key pair is public: a program that is not a
// development build never installs what it verifies, and says so once.
TEST_F(SignedInstall, TestKeyIsRefusedOutsideDevelopmentBuilds) {
    EXPECT_EQ(qn::update::repositoryTestKey(), update_keys::verificationKey());
    serveGood();
    s.agent.setTestKeyAllowed(false);
    testing::internal::CaptureStderr();
    expectRefused("test key, first attempt");
    expectRefused("test key, second attempt");
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("test key"), std::string::npos) << said;
    EXPECT_EQ(said.find("test key"), said.rfind("test key")) << "said more than once: " << said;
    // Nothing was even asked of the server.
    EXPECT_TRUE(server().log().empty());

    // A vendor key is taken in such a build.
    qn::update::Bytes vendorPrivate, vendorPublic;
    ASSERT_TRUE(qn::update::generateSigningKey(vendorPrivate, vendorPublic));
    server().download("updateinfo.dat", signedList(kVersion, {"a.exe"}, vendorPrivate));
    server().download("update1", signedPart(kVersion, 1, "a.exe", "vendor a", vendorPrivate));
    s.agent.setVerificationKey(vendorPublic);
    ASSERT_EQ(s.agent.updateProgram(kVersion), 0);
    EXPECT_EQ(readFile(s.program / "a.exe"), "vendor a");
}

TEST_F(SignedInstall, PackageSignedByAnotherKeyIsRefused) {
    qn::update::Bytes otherPrivate, otherPublic;
    ASSERT_TRUE(qn::update::generateSigningKey(otherPrivate, otherPublic));
    server().download("updateinfo.dat", signedList(kVersion, {"a.exe", "b.dll"}, otherPrivate));
    server().download("update1", signedPart(kVersion, 1, "a.exe", "new a", otherPrivate));
    server().download("update2", signedPart(kVersion, 2, "b.dll", "new b", otherPrivate));
    expectRefused("other key");
    // The agent of a deployment with that key takes it.
    s.agent.setVerificationKey(otherPublic);
    EXPECT_EQ(s.agent.updateProgram(kVersion), 0);
}

TEST_F(SignedInstall, UnsignedPackagesOnlyWithTheDeploymentSwitch) {
    server().download("updateinfo.dat", unsignedList({"a.exe"}) + std::string(9, '\0'));
    server().download("update1", "new a" + kZeros);
    expectRefused("unsigned by default");
    EXPECT_FALSE(qn::update::buildAcceptsUnsignedPackages());

    s.agent.setAcceptUnsigned(true);
    // A signature that is there must still be right.
    std::string bad = signedPart(kVersion, 1, "a.exe", "new a");
    bad[0] = 'N';
    server().download("update1", bad);
    expectRefused("wrong signature with unsigned accepted");

    server().download("update1", "new a" + kZeros);
    ASSERT_EQ(s.agent.updateProgram(kVersion), 0);
    EXPECT_EQ(readFile(s.program / "a.exe"), "new a");
}

TEST_F(SignedInstall, BuilderSignsWhatTheAgentVerifies) {
    TempDir pkg;
    fs::create_directories(pkg / "src");
    writeFile(pkg / "src" / "a.exe", "built a");
    ASSERT_EQ(s.agent.createUpdatePackage((pkg / "src").string(), (pkg / "out").string(), kVersion), 0);
    // Readers that ignore the signatures still find the list and the content.
    std::vector<std::string> names;
    tesel::CBlob info;
    const std::string infoBytes = readFile(pkg / "out" / "updateinfo.dat");
    info.add(reinterpret_cast<const unsigned char*>(infoBytes.data()), static_cast<unsigned>(infoBytes.size()));
    ASSERT_EQ(qn::update::readPackageInfo(info, names), 0);
    EXPECT_EQ(names, std::vector<std::string>{"a.exe"});
    EXPECT_EQ(infoBytes.size(), 4u + 4u + 5u + 64u);
    EXPECT_EQ(readFile(pkg / "out" / "update1").substr(0, 7), "built a");

    server().package((pkg / "out").string());
    ASSERT_EQ(s.agent.updateProgram(kVersion), 0);
    EXPECT_EQ(readFile(s.program / "a.exe"), "built a");
    // The same package offered as another version is refused.
    EXPECT_EQ(s.agent.updateProgram(kVersion + 1), ERR_UPDATE_FAILED);
    // A signed package is always for a variant.
    CUpdateQn noVariant;
    noVariant.setSigningKey(update_keys::signingKey());
    EXPECT_EQ(noVariant.createUpdatePackage((pkg / "src").string(), (pkg / "out2").string(), kVersion), ERR_INTERNAL);
}

TEST_F(SignedInstall, FailedRenameHalfWayPutsEveryFileBack) {
    serveGood();
    // b.dll cannot be moved to its backup: a non-empty folder is there.
    fs::create_directories(s.backup / "b.dll" / "inside");
    EXPECT_EQ(s.agent.updateProgram(kVersion), ERR_UPDATE_FAILED);
    EXPECT_EQ(snapshot(s.program),
              (std::map<std::string, std::string>{{"a.exe", "old a"}, {"b.dll", "old b"}}));
    EXPECT_FALSE(fs::exists(s.backup / ".journal.update-new"));
}

// Every step of the file phase, abandoned as if the process had died there,
// then the next start: the program folder ends up wholly old (interrupted
// before the journal) or wholly new, never without a file.
TEST_F(SignedInstall, InterruptionAtEveryStepIsFinishedAtTheNextStart) {
    std::vector<std::string> steps;
    {
        AgentSetup dry;
        writeFile(dry.program / "a.exe", "old a");
        writeFile(dry.program / "b.dll", "old b");
        serveGood();
        server().download("updateinfo.dat", signedList(kVersion, {"a.exe", "b.dll", "c.txt"}));
        server().download("update3", signedPart(kVersion, 3, "c.txt", "new c"));
        dry.agent.setInstallCheckpoint([&](const std::string& step, unsigned i) {
            steps.push_back(step + " " + std::to_string(i));
            return true;
        });
        ASSERT_EQ(dry.agent.updateProgram(kVersion), 0);
    }
    ASSERT_EQ(steps.size(), 3u + 1u + 2u * 2u + 3u);  // staged×3, journal, backup+move×2, renamed×3

    const std::map<std::string, std::string> oldFiles{{"a.exe", "old a"}, {"b.dll", "old b"}};
    const std::map<std::string, std::string> newFiles{{"a.exe", "new a"}, {"b.dll", "new b"}, {"c.txt", "new c"}};
    for (std::size_t stop = 0; stop < steps.size(); ++stop) {
        AgentSetup run;
        writeFile(run.program / "a.exe", "old a");
        writeFile(run.program / "b.dll", "old b");
        std::size_t calls = 0;
        run.agent.setInstallCheckpoint([&](const std::string&, unsigned) { return calls++ != stop; });
        EXPECT_EQ(run.agent.updateProgram(kVersion), ERR_UPDATE_FAILED) << steps[stop];

        // The next start: a new agent on the same folders.
        CUpdateQn next;
        next.setProgramFolder(run.program.string());
        next.setBackupFolder(run.backup.string() + "/");
        EXPECT_EQ(next.recoverInterruptedUpdate(), 0) << steps[stop];
        auto files = snapshot(run.program);
        // Staged copies of an update that never reached its journal may stay.
        for (auto it = files.begin(); it != files.end();) {
            it = it->first.size() > 11 && it->first.ends_with(".update-new") ? files.erase(it) : std::next(it);
        }
        const bool journalWritten = stop >= 3;
        EXPECT_EQ(files, journalWritten ? newFiles : oldFiles) << steps[stop];
        if (journalWritten) {
            EXPECT_EQ(snapshot(run.backup), oldFiles) << steps[stop];
        }
        // Nothing left to finish: a second start changes nothing.
        EXPECT_EQ(next.recoverInterruptedUpdate(), 0);
        EXPECT_FALSE(fs::exists(run.backup / ".journal.update-new")) << steps[stop];
    }
}
