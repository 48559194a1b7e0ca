// Which module names are bare file names (looked up in the system's own
// folders only) and which are paths (loaded as given), with both separators,
// drive letters and network paths.
#include <gtest/gtest.h>

#include "platform/dynlib.h"

using platform::classifyModuleName;
using platform::ModuleName;

TEST(PlatformDynlib, ModuleNameKinds) {
    struct Case {
        const char* name;
        ModuleName kind;
    };
    const Case cases[] = {
        {"rtPKCS11ECP.dll", ModuleName::Bare},
        {"jcPKCS11-2.dll", ModuleName::Bare},
        {"librtpkcs11ecp.so", ModuleName::Bare},
        {"module", ModuleName::Bare},
        {"..dll", ModuleName::Bare},
        {"C:\\Program Files\\Vendor\\m.dll", ModuleName::FullPath},
        {"c:/vendor/m.dll", ModuleName::FullPath},
        {"\\\\server\\share\\m.dll", ModuleName::FullPath},
        {"//server/share/m.dll", ModuleName::FullPath},
        {"\\\\?\\C:\\vendor\\m.dll", ModuleName::FullPath},
        {"/usr/lib/x86_64-linux-gnu/m.so", ModuleName::OtherPath},  // rooted, no drive
        {"\\vendor\\m.dll", ModuleName::OtherPath},
        {".\\m.dll", ModuleName::OtherPath},
        {"./m.so", ModuleName::OtherPath},
        {"sub\\m.dll", ModuleName::OtherPath},
        {"sub/m.dll", ModuleName::OtherPath},
        {"C:m.dll", ModuleName::OtherPath},       // relative to drive C's current folder
        {"m.dll:stream", ModuleName::OtherPath},  // a colon is never part of a bare name
        {"1:\\m.dll", ModuleName::OtherPath},     // no drive letter
        {"\\\\", ModuleName::OtherPath},
        {"", ModuleName::OtherPath},
        {".", ModuleName::OtherPath},
        {"..", ModuleName::OtherPath},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(classifyModuleName(c.name), c.kind) << c.name;
    }
}

TEST(PlatformDynlib, LoadModuleKeepsTheLoadersAnswers) {
    // A bare name the system has, a path that does not exist, and no name.
    HMODULE libc = platform::loadModule("libc.so.6");
    ASSERT_NE(libc, nullptr);
    EXPECT_NE(GetProcAddress(libc, "malloc"), nullptr);
    FreeLibrary(libc);
    EXPECT_EQ(platform::loadModule("./no-such-module.so"), nullptr);
    EXPECT_EQ(GetLastError(), 126u);  // ERROR_MOD_NOT_FOUND
    EXPECT_EQ(platform::loadModule(""), nullptr);
}
