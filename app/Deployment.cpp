#include "app/Deployment.h"

#include <cstdlib>
#include <utility>

#if !defined(PELLAMO_DEFAULT_TRANSPORT_HOST) || !defined(PELLAMO_CABINET_URL) || \
    !defined(PELLAMO_ALLOWED_ORIGINS) || !defined(PELLAMO_LISTEN_ADDRESS) || !defined(PELLAMO_CA_CERT_SHA256)
#error "the build defines PELLAMO_DEFAULT_TRANSPORT_HOST, PELLAMO_CABINET_URL, PELLAMO_ALLOWED_ORIGINS, PELLAMO_LISTEN_ADDRESS and PELLAMO_CA_CERT_SHA256"
#endif

namespace deployment {

const char* defaultTransportHost() { return PELLAMO_DEFAULT_TRANSPORT_HOST; }

const char* cabinetWebAddress() { return PELLAMO_CABINET_URL; }

std::string allowedOrigins() {
    const char* fromEnvironment = std::getenv("PELLAMO_ALLOWED_ORIGINS");
    return fromEnvironment != nullptr ? fromEnvironment : PELLAMO_ALLOWED_ORIGINS;
}

std::string listenAddress() {
    const char* fromEnvironment = std::getenv("PELLAMO_LISTEN_ADDRESS");
    return fromEnvironment != nullptr && *fromEnvironment != '\0' ? fromEnvironment : PELLAMO_LISTEN_ADDRESS;
}

std::string caCertFingerprintsText() {
    const char* fromEnvironment = std::getenv("PELLAMO_CA_CERT_SHA256");
    return fromEnvironment != nullptr ? fromEnvironment : PELLAMO_CA_CERT_SHA256;
}

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool isSeparator(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == ','; }

}  // namespace

bool parseFingerprints(const std::string& text, std::vector<tesel::Sha256Digest>& out, std::string& message) {
    std::vector<tesel::Sha256Digest> read;
    std::size_t i = 0;
    while (i < text.size()) {
        if (isSeparator(text[i])) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < text.size() && !isSeparator(text[end])) ++end;
        const std::string item = text.substr(i, end - i);
        tesel::Sha256Digest digest{};
        bool ok = item.size() == 2 * digest.size();
        for (std::size_t k = 0; ok && k < digest.size(); ++k) {
            const int high = hexValue(item[2 * k]);
            const int low = hexValue(item[2 * k + 1]);
            ok = high >= 0 && low >= 0;
            digest[k] = static_cast<unsigned char>(high * 16 + low);
        }
        if (!ok) {
            message = "PELLAMO_CA_CERT_SHA256: \"" + item.substr(0, 80) +
                      "\" is not a SHA-256 fingerprint (64 hex digits; several are separated by blanks or commas)";
            return false;
        }
        read.push_back(digest);
        i = end;
    }
    out = std::move(read);
    return true;
}

bool trustedCAFingerprints(std::vector<tesel::Sha256Digest>& out, std::string& message) {
    message.clear();
    if (!parseFingerprints(caCertFingerprintsText(), out, message)) return false;
    if (out.empty()) {
        message = "warning: PELLAMO_CA_CERT_SHA256 is empty: any CA certificate the transport server sends is trusted";
    }
    return true;
}

}  // namespace deployment
