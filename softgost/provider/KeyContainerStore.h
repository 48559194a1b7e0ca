// Key containers of the software GOST provider, kept as folders of files.
//
// Location: $PELLAMO_CSP_DIR if set, else on Windows %APPDATA%\Pellamo\csp,
// elsewhere $XDG_DATA_HOME/pellamo/csp or $HOME/.local/share/pellamo/csp
// (the file-system calls are ContainerFiles.h's). Inside it:
//
//   containers/<encoded name>/key              the key pair (mode 0600)
//   containers/<encoded name>/certificate.der  certificate set with KP_CERTIFICATE
//
// Folders are created with mode 0700 (on Windows they inherit the per-user
// folder's access). <encoded name> is the container name
// (narrow, any code page, 1 to 85 bytes) with every byte outside A-Z a-z
// 0-9 '_' '-' written as '%' and two upper-case hex digits, so any name maps
// to one safe folder name and back.
//
// Names: the short name is what CryptAcquireContextA was given; the fully
// qualified name (PP_ENUMCONTAINERS with CRYPT_FQCN, PP_UNIQUE_CONTAINER) is
// "\\.\FILES\" followed by the short name; both open the same container.
//
// The key file, integers 32-bit little-endian, strings and byte strings
// preceded by their 32-bit length:
//   "PLK1", version 1, provider type at creation, public key algorithm
//   (0x2E23, 0x2E49, 0x2E3D), signature parameter-set OID (dotted text), hash
//   parameter-set OID (dotted text), public key LE(x)||LE(y), private scalar
//   big-endian padded to the coordinate size.
// Every file is written to a temporary file in the same folder, flushed and
// renamed over the old one, so a reader sees either the old or the new file.
#pragma once

#include <string>
#include <vector>

#include "softgost/gost/GcryptSupport.h"
#include "platform/win32.h"

namespace plcsp {

struct StoredKey {
    unsigned provType = 0;
    unsigned pubKeyAlg = 0;
    std::string curveOid;
    std::string hashOid;
    std::vector<unsigned char> pub;
    SecureBytes d;  // empty when read without the private part
};

// The prefix of fully qualified container names.
extern const char* const kFqcnPrefix;

// Short name from a name given to CryptAcquireContextA (strips the fully
// qualified prefix); false when the name is empty, too long or names
// another reader.
bool shortContainerName(const char* given, std::string& shortName);
std::string fullyQualifiedName(const std::string& shortName);

// All operations return 0 or a CryptoAPI error number.
namespace containers {
std::string rootDir();
DWORD create(const std::string& name);   // NTE_EXISTS when it exists
bool exists(const std::string& name);
DWORD remove(const std::string& name);   // NTE_BAD_KEYSET when missing
std::vector<std::string> list();         // short names, byte order
DWORD writeKey(const std::string& name, const StoredKey& key);
DWORD readKey(const std::string& name, bool withPrivate, StoredKey& key);  // NTE_NO_KEY
DWORD writeCertificate(const std::string& name, const unsigned char* der, std::size_t n);
DWORD readCertificate(const std::string& name, std::vector<unsigned char>& der);
}  // namespace containers

}  // namespace plcsp
