// libFuzzer target for the settings file reader: any settings.dat is either
// refused with 80 (the defaults then stay) or read into an address that the
// writer stores as the very same bytes (a 105 file is rewritten as 106).
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/Settings.h"
#include "errors/eErrCodes.h"
#include "FuzzSeeds.h"

namespace fs = std::filesystem;

namespace {

bool same(const httpSrv::httpServerAddress& a, const httpSrv::httpServerAddress& b) {
    return a.host == b.host && a.port == b.port;
}

std::string settingsBytes(unsigned version, const std::string& host, unsigned port) {
    std::string b("\x1D\xF1\xDE\xFF", 4);
    auto u32 = [&b](unsigned v) {
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
    };
    u32(version);
    u32(static_cast<unsigned>(host.size()));
    b += host;
    u32(port);
    return b;
}

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The settings file lives in ./data: work in a folder of our own.
    const fs::path dir = fs::temp_directory_path() / ("pellamo-settings-fuzz-" + std::to_string(getpid()));
    fs::create_directories(dir / "data");
    fs::current_path(dir);
    for (const auto& [name, bytes] :
         {std::pair<std::string, std::string>{"106", settingsBytes(106, "http://ca.example.org", 9200)},
          {"105", settingsBytes(105, "transport", 80)},
          {"107", settingsBytes(107, "x", 1)}}) {
        fuzz_seeds::write("settings-" + name, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 16)) return 0;
    const std::string file = getSettingsFile();
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    const int r = loadSettings();
    if (r == ERR_SETTINGS_DAMAGED) {
        // The defaults stay in force.
        if (!same(getTransportServerAddress(), getDefaultTransportServerAddress())) __builtin_trap();
        return 0;
    }
    if (r != ERR_OK) __builtin_trap();
    const httpSrv::httpServerAddress read = getTransportServerAddress();
    if (saveSettings() != ERR_OK) __builtin_trap();
    // The file is exactly what was read, in the written version.
    const std::string written = readAll(file);
    if (size < 8 || written != settingsBytes(106, read.host, read.port)) __builtin_trap();
    if (loadSettings() != ERR_OK || !same(getTransportServerAddress(), read)) __builtin_trap();
    return 0;
}
