// The package builder program (update-packager, built beside the tests'
// folder): its key files and the variant it signs for.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>

#include "errors/eErrCodes.h"
#include "update/UpdatePackage.h"
#include "UpdateTestSupport.h"

using namespace update_test;

namespace {

fs::path packager() { return fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "update-packager"; }

int run(const std::string& arguments) {
    const int status = std::system((packager().string() + " " + arguments + " 2>/dev/null").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(PackagerTool, PrivateKeyIsOwnerOnlyAndNeverReplaced) {
    if (!fs::exists(packager())) GTEST_SKIP() << "no " << packager();
    TempDir dir;
    const fs::path key = dir / "vendor.key", pub = dir / "vendor.pub";
    // Even with a mask that lets everything through.
    const mode_t mask = umask(0);
    const int made = run("keygen " + key.string() + " " + pub.string());
    umask(mask);
    ASSERT_EQ(made, 0);
    struct stat st {};
    ASSERT_EQ(stat(key.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_size, 32);
    const std::string first = readFile(key);

    // An existing private key stays as it was, and so does a link's target.
    EXPECT_NE(run("keygen " + key.string() + " " + (dir / "other.pub").string()), 0);
    EXPECT_EQ(readFile(key), first);
    EXPECT_FALSE(fs::exists(dir / "other.pub"));
    writeFile(dir / "target", "keep");
    fs::create_symlink(dir / "target", dir / "link.key");
    EXPECT_NE(run("keygen " + (dir / "link.key").string() + " " + (dir / "link.pub").string()), 0);
    EXPECT_EQ(readFile(dir / "target"), "keep");
    // A public key that cannot be written takes its private key with it.
    writeFile(dir / "taken.pub", "x");
    EXPECT_NE(run("keygen " + (dir / "new.key").string() + " " + (dir / "taken.pub").string()), 0);
    EXPECT_FALSE(fs::exists(dir / "new.key"));
}

TEST(PackagerTool, SignsForTheProgramUnlessToldAnotherVariant) {
    if (!fs::exists(packager())) GTEST_SKIP() << "no " << packager();
    TempDir dir;
    fs::create_directories(dir / "src");
    writeFile(dir / "src" / "a.exe", "content");
    const std::string key = std::string(PELLAMO_TEST_KEYS_DIR) + "/TEST-ONLY-update-signing.key";
    ASSERT_EQ(run("build " + key + " 101277 " + (dir / "src").string() + " " + (dir / "program").string()), 0);
    ASSERT_EQ(run("build " + key + " 101277 " + (dir / "src").string() + " " + (dir / "client").string() + " 1"), 0);
    EXPECT_NE(run("build " + key + " 101277 " + (dir / "src").string() + " " + (dir / "none").string() + " 0"), 0);
    EXPECT_NE(run("build " + key + " 101277 " + (dir / "src").string() + " " + (dir / "none").string() + " 5"), 0);

    for (const auto& [folder, type] : {std::pair{"program", tesel::QN_PLUGIN}, std::pair{"client", tesel::QN_CLIENT}}) {
        const std::string bytes = readFile(dir / folder / "updateinfo.dat");
        const tesel::CBlob info(reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<unsigned>(bytes.size()));
        for (const tesel::eQuorinType reader : {tesel::QN_PLUGIN, tesel::QN_CLIENT}) {
            std::vector<std::string> names;
            const int r = qn::update::readSignedPackageInfo(info, reader, 101277, update_keys::verificationKey(), false,
                                                            names);
            EXPECT_EQ(r, reader == type ? ERR_OK : ERR_UPDATE_FAILED) << folder << " read as " << reader;
        }
    }
}
