#include "transport/RegistryServices.h"

#include <cstdio>
#include <cstdlib>

#if !defined(PELLAMO_REGISTRY_ADDRESS) || !defined(PELLAMO_CLASSIFIER_ADDRESS) || \
    !defined(PELLAMO_CLASSIFIER_TOKEN)
#error "the build defines PELLAMO_REGISTRY_ADDRESS, PELLAMO_CLASSIFIER_ADDRESS and PELLAMO_CLASSIFIER_TOKEN"
#endif

namespace qn::http_transport {

namespace {

struct ServiceAddress {
    std::string host;
    unsigned port = 0;
};

// The built-in address (checked when the build is configured), replaced by
// the environment variable when that holds a valid one.
ServiceAddress serviceAddress(const char* variable, const char* builtIn) {
    ServiceAddress address;
    parseServiceAddress(builtIn, address.host, address.port);
    if (const char* value = std::getenv(variable)) {
        if (!parseServiceAddress(value, address.host, address.port))
            std::fprintf(stderr, "%s=\"%s\" is not http://host:port or https://host:port; using %s\n", variable,
                         value, builtIn);
    }
    return address;
}

std::string classifierTokenFromEnvironment() {
    const char* value = std::getenv("PELLAMO_CLASSIFIER_TOKEN");
    if (value == nullptr) return PELLAMO_CLASSIFIER_TOKEN;
    if (isClassifierToken(value)) return value;
    std::fprintf(stderr, "PELLAMO_CLASSIFIER_TOKEN is not 24 lower-case hexadecimal digits; using the built-in token\n");
    return PELLAMO_CLASSIFIER_TOKEN;
}

// Made during static initialisation, so the environment is read at start-up
// and only then.
const bool g_registryServices = [] {
    getRegistryServer();
    getClassifierServer();
    getClassifierToken();
    return true;
}();

bool isDigits(const std::string& s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

}  // namespace

// The connections and the token are never destroyed: service threads may
// still be asking the services while the process exits.
CHttpConnection& getRegistryServer() {
    static CHttpConnection* const connection = [] {
        const ServiceAddress a = serviceAddress("PELLAMO_REGISTRY_ADDRESS", PELLAMO_REGISTRY_ADDRESS);
        return new CHttpConnection(a.host, a.port);
    }();
    (void)g_registryServices;
    return *connection;
}

CHttpConnection& getClassifierServer() {
    static CHttpConnection* const connection = [] {
        const ServiceAddress a = serviceAddress("PELLAMO_CLASSIFIER_ADDRESS", PELLAMO_CLASSIFIER_ADDRESS);
        return new CHttpConnection(a.host, a.port);
    }();
    return *connection;
}

const std::string& getClassifierToken() {
    static const std::string* const token = new std::string(classifierTokenFromEnvironment());
    return *token;
}

bool parseServiceAddress(const std::string& address, std::string& host, unsigned& port) {
    std::size_t schemeEnd = 0;
    if (address.rfind("http://", 0) == 0) schemeEnd = 7;
    else if (address.rfind("https://", 0) == 0) schemeEnd = 8;
    else return false;

    const std::size_t colon = address.rfind(':');
    if (colon == std::string::npos || colon <= schemeEnd) return false;
    const std::string name = address.substr(schemeEnd, colon - schemeEnd);
    for (char c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u <= ' ' || u == 0x7F || c == '/' || c == '?' || c == '#' || c == '@' || c == '\\') return false;
    }
    const std::string digits = address.substr(colon + 1);
    if (!isDigits(digits) || digits.size() > 5) return false;
    const unsigned value = static_cast<unsigned>(std::stoul(digits));
    if (value == 0 || value > 65535) return false;

    host = address.substr(0, colon);
    port = value;
    return true;
}

bool isClassifierToken(const std::string& token) {
    if (token.size() != kClassifierTokenLength) return false;
    for (char c : token)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

std::string urlQueryText(const std::string& text) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u <= ' ' || u == 0x7F || c == '#' || c == '%' || c == '&' || c == '+') {
            out.push_back('%');
            out.push_back(digits[u >> 4]);
            out.push_back(digits[u & 15]);
        } else {
            out.push_back(c);
        }
    }
    return out;
}

}  // namespace qn::http_transport
