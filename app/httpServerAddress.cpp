#include "app/httpServerAddress.h"

#include <cctype>
#include <cstdint>

#include "errors/eErrCodes.h"

namespace httpSrv {

namespace {

constexpr std::uint64_t kMaxPort = 65535;

// Reads a decimal port the way a decimal integer conversion does: leading
// blanks and an optional sign, then the digits, the rest ignored. A text
// without digits, a negative number or one above 65535 is no port (it would
// otherwise wrap into a meaningless unsigned value and be saved).
bool readPort(const std::string& text, unsigned& port) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    std::uint64_t value = 0;
    std::size_t digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
        if (value > kMaxPort) return false;
    }
    if (digits == 0 || (negative && value != 0)) return false;
    port = static_cast<unsigned>(value);
    return true;
}

}  // namespace

std::string getAddress(const httpServerAddress& address) {
    return address.host + ":" + std::to_string(address.port);
}

int parseAddress(const std::string& text, std::string& host, unsigned& port) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos) return ERR_INVALID_CA_ADDRESS;
    host = text.substr(0, colon);
    unsigned parsed = 0;
    if (readPort(text.substr(colon + 1), parsed)) port = parsed;
    return ERR_OK;
}

int parseAddress(const std::string& text, httpServerAddress& address) {
    return parseAddress(text, address.host, address.port);
}

}  // namespace httpSrv
