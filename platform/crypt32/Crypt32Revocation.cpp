// CertVerifyRevocation of the crypt32 subset.
//
// Windows asks the revocation providers (CRL distribution points, OCSP).
// Here the answer comes from the certificate revocation lists that the user
// keeps in the folder <root>/crls/ beside the certificate stores (root as
// for key containers, see KeyContainerStore.h): every regular file there
// holding a DER or PEM list is read. The folder is the user's own (mode
// 0700), so the lists in it are taken as placed; their signatures are not
// checked. For each certificate, in order:
//   - a list of its issuer names its serial number: FALSE, CRYPT_E_REVOKED,
//     dwReason = the entry's reason code;
//   - no list of its issuer: FALSE, CRYPT_E_NO_REVOCATION_CHECK;
//   - its issuer's lists are all out of date: FALSE, CRYPT_E_REVOCATION_OFFLINE;
// dwIndex names the certificate the answer is about. When every
// certificate has a current list that does not name it: TRUE.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "platform/crypt32/CrlCheck.h"
#include "softgost/provider/CspObjects.h"
#include "softgost/provider/KeyContainerStore.h"

using namespace plcsp;

namespace {

constexpr std::size_t kMaxFiles = 1000;
constexpr long kMaxFileSize = 16L << 20;

bool readFile(const std::string& path, Bytes& out) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0 || st.st_size > kMaxFileSize) {
        return false;
    }
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        return false;
    }
    out.resize(static_cast<std::size_t>(st.st_size));
    const std::size_t n = std::fread(out.data(), 1, out.size(), f);
    std::fclose(f);
    out.resize(n);
    return n > 0;
}

std::vector<Bytes> loadCrlFiles() {
    const std::string dir = containers::rootDir() + "/crls";
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d)) {
            if (e->d_name[0] != '.' && names.size() < kMaxFiles) {
                names.emplace_back(e->d_name);
            }
        }
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    std::vector<Bytes> files;
    for (const std::string& name : names) {
        Bytes b;
        if (readFile(dir + "/" + name, b)) {
            files.push_back(std::move(b));
        }
    }
    return files;
}

}  // namespace

BOOL CertVerifyRevocation(DWORD /*dwEncodingType*/, DWORD dwRevType, DWORD cContext, void* rgpvContext[],
                          DWORD /*dwFlags*/, PCERT_REVOCATION_PARA /*pRevPara*/,
                          PCERT_REVOCATION_STATUS pRevStatus) {
    if (!pRevStatus || pRevStatus->cbSize < sizeof(CERT_REVOCATION_STATUS) ||
        dwRevType != CERT_CONTEXT_REVOCATION_TYPE || (cContext != 0 && !rgpvContext)) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    pRevStatus->dwIndex = 0;
    pRevStatus->dwError = 0;
    pRevStatus->dwReason = 0;
    pRevStatus->fHasFreshnessTime = FALSE;
    pRevStatus->dwFreshnessTime = 0;
    const std::vector<Bytes> files = cContext ? loadCrlFiles() : std::vector<Bytes>();
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    for (DWORD i = 0; i < cContext; ++i) {
        const auto* cert = static_cast<const CERT_CONTEXT*>(rgpvContext[i]);
        pRevStatus->dwIndex = i;
        if (!cert || !cert->pbCertEncoded || cert->cbCertEncoded == 0) {
            pRevStatus->dwError = static_cast<DWORD>(ERROR_INVALID_PARAMETER);
            return fail(ERROR_INVALID_PARAMETER);
        }
        unsigned reason = 0;
        const Bytes der(cert->pbCertEncoded, cert->pbCertEncoded + cert->cbCertEncoded);
        DWORD error = 0;
        switch (checkAgainstCrls(der, files, now, reason)) {
            case CrlVerdict::Good: continue;
            case CrlVerdict::Revoked: error = CRYPT_E_REVOKED; break;
            case CrlVerdict::Stale: error = CRYPT_E_REVOCATION_OFFLINE; break;
            case CrlVerdict::NoCrl: error = CRYPT_E_NO_REVOCATION_CHECK; break;
        }
        pRevStatus->dwError = error;
        pRevStatus->dwReason = reason;
        return fail(error);
    }
    return TRUE;
}
