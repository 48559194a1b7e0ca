// libFuzzer target for the command dispatcher with every command's payload:
// an input is a sequence of commands as a page sends them, so that the
// commands run in the states that earlier commands leave (a partner card
// created, a store chosen, root certificates given). The servers the
// commands ask are at closed loopback ports, the keys and data folders are
// this process's own.
//
// Each command of the input: one byte picking the command code (from the
// table below, or any code), a 16-bit little-endian payload length, and the
// payload. Any command must answer or close the connection; nothing may
// crash or read past its payload.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/Settings.h"
#include "core/CBlob.h"
#include "FuzzSeeds.h"
#include "server/dispatch/processPacket.h"

namespace {

// Every code a page can send, in the order of the command table.
constexpr unsigned kCodes[] = {14, 16, 18, 20, 22, 24, 26, 28, 40, 42, 44, 46, 48, 50, 52, 54, 56,
                               104, 106, 108, 110, 112, 114, 120, 122, 124, 126, 140, 142, 144, 150, 152};
constexpr unsigned kCodeCount = sizeof kCodes / sizeof kCodes[0];

tesel::CBlob envelope(unsigned code, const std::uint8_t* payload, std::size_t size) {
    tesel::CBlob request;
    const unsigned char head[] = {1, 0, 0, 0, 'f', 0, 0, 0, 0,
                                  static_cast<unsigned char>(code), static_cast<unsigned char>(code >> 8), 0, 0};
    request.add(head, sizeof head);
    if (size > 0) request.add(payload, static_cast<unsigned>(size));
    return request;
}

std::string command(unsigned char selector, const std::string& payload) {
    std::string out(1, static_cast<char>(selector));
    out.push_back(static_cast<char>(payload.size() & 0xff));
    out.push_back(static_cast<char>(payload.size() >> 8));
    return out + payload;
}

std::string str(const std::string& s) {
    std::string out(4, '\0');
    for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((s.size() >> (8 * i)) & 0xff);
    return out + s;
}

std::string u32(unsigned v) {
    std::string out(4, '\0');
    for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((v >> (8 * i)) & 0xff);
    return out;
}

unsigned selectorOf(unsigned code) {
    for (unsigned i = 0; i < kCodeCount; ++i)
        if (kCodes[i] == code) return i;
    return 0;
}

void seed(const std::string& name, const std::string& bytes) {
    fuzz_seeds::write(name, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const auto dir = std::filesystem::temp_directory_path() / ("pellamo-dispatch-fuzz-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir / "data");
    std::filesystem::create_directories(dir / "csp");
    std::filesystem::current_path(dir);
    setenv("PELLAMO_CSP_DIR", (dir / "csp").c_str(), 1);
    // Every outside server at a closed loopback port: refused at once.
    setenv("PELLAMO_REGISTRY_ADDRESS", "http://127.0.0.1:9", 1);
    setenv("PELLAMO_CLASSIFIER_ADDRESS", "http://127.0.0.1:9", 1);
    setTransportServerAddress({"http://127.0.0.1", 9});

    // Real command sequences of a page.
    seed("catalog", command(selectorOf(16), ""));
    seed("csp", command(selectorOf(54), u32(80)) + command(selectorOf(52), ""));
    seed("card", command(selectorOf(142), str("k")) +
                     command(selectorOf(40), str("k") + u32(1) + u32(9) + str("Иванов")) +
                     command(selectorOf(40), str("k") + u32(1) + u32(4) + u32(5)) +
                     command(selectorOf(42), str("k") + u32(1) + u32(1) + str("scan.pdf") + str("%PDF")) +
                     command(selectorOf(140), str("k")));
    seed("certs", command(selectorOf(14), str("")) + command(selectorOf(18), u32(0)) +
                      command(selectorOf(20), "") + command(selectorOf(22), u32(0)));
    seed("packets", command(selectorOf(110), str(u32(0x32FF8D45) + u32(2) + str("") + str("") + str("")) +
                                                 str("payload")) +
                        command(selectorOf(112), str("tesel.message")) + command(selectorOf(108), str("x")));
    seed("pin", command(selectorOf(124), str("1234")) + command(selectorOf(120), str("env-1")));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 16)) return 0;
    std::size_t at = 0;
    for (int commands = 0; at + 3 <= size && commands < 16; ++commands) {
        const unsigned char selector = data[at];
        const std::size_t length = data[at + 1] | (static_cast<std::size_t>(data[at + 2]) << 8);
        at += 3;
        const std::size_t take = length < size - at ? length : size - at;
        // Selectors past the table stand for any code at all.
        const unsigned code = selector < kCodeCount ? kCodes[selector] : selector;
        tesel::CBlob request = envelope(code, data + at, take);
        tesel::CBlob reply;
        // The service's own look at the envelope, then the command; and the
        // look at the raw bytes, which need not be an envelope at all.
        (void)answeredAtOnce(request);
        processPacket(request, reply);
        tesel::CBlob raw;
        raw.add(data + at, static_cast<unsigned>(take));
        (void)answeredAtOnce(raw);
        at += take;
    }
    return 0;
}
