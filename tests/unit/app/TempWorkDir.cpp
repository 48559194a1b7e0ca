// The data folder is fixed by the working directory at its first use, which
// the update agent makes during static initialisation. Every run of this test
// binary therefore moves into its own new temporary directory before any
// other static initialiser runs (priority 101 comes before all unprioritised
// initialisers of the program), and removes it at exit.
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace {

// A plain array: it must outlive the static destructors, which run before
// the destructor below.
char g_workDir[64];

__attribute__((constructor(101))) void enterTempWorkDir() {
    char pattern[] = "/tmp/pellamo-test-app-XXXXXX";
    if (mkdtemp(pattern) == nullptr || chdir(pattern) != 0) {
        std::perror("test_app: cannot make its working directory");
        std::_Exit(2);
    }
    std::memcpy(g_workDir, pattern, sizeof pattern);
}

__attribute__((destructor(101))) void removeTempWorkDir() {
    if (g_workDir[0] == '\0') return;
    std::error_code ignored;
    std::filesystem::remove_all(g_workDir, ignored);
}

}  // namespace
