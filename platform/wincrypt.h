// The CryptoAPI (advapi32) and crypt32 calls, types and constants that the
// crypto code uses. On Windows this is the real <wincrypt.h> plus the GOST
// algorithm numbers it lacks; elsewhere the same names are served by the
// software GOST provider of softgost/ with the same signatures, handle
// sizes, constant values and failure conventions (FALSE + GetLastError()).
#pragma once

#include "platform/win32.h"

#ifdef _WIN32
#include <wincrypt.h>
// The system's CertVerifyRevocation, and where it cannot decide for a
// certificate, the CRLs of its issuer in the user's stores, each trusted
// only when its signature verifies and it is current
// (platform/crypt32_win/LocalRevocation.h).
BOOL plCertVerifyRevocation(DWORD dwEncodingType, DWORD dwRevType, DWORD cContext, void* rgpvContext[],
                            DWORD dwFlags, PCERT_REVOCATION_PARA pRevPara, PCERT_REVOCATION_STATUS pRevStatus);
#define CertVerifyRevocation plCertVerifyRevocation
#else
#include <cstdint>

using ULONG_PTR = std::uintptr_t;
using ALG_ID = unsigned int;
using HCRYPTPROV = ULONG_PTR;
using HCRYPTKEY = ULONG_PTR;
using HCRYPTHASH = ULONG_PTR;
using HCRYPTPROV_LEGACY = ULONG_PTR;
using HCRYPTPROV_OR_NCRYPT_KEY_HANDLE = ULONG_PTR;
using HCERTSTORE = void*;
using HCRYPTMSG = void*;
using LPBYTE = BYTE*;
using PBYTE = BYTE*;
using LPCVOID = const void*;

// Provider types, flags of CryptAcquireContextA
#define PROV_RSA_FULL 1
#define CRYPT_VERIFYCONTEXT 0xF0000000u
#define CRYPT_NEWKEYSET 0x00000008u
#define CRYPT_DELETEKEYSET 0x00000010u
#define CRYPT_MACHINE_KEYSET 0x00000020u
#define CRYPT_SILENT 0x00000040u

// Key specs and key generation flags
#define AT_KEYEXCHANGE 1
#define AT_SIGNATURE 2
#define CRYPT_EXPORTABLE 0x00000001u
#define CRYPT_USER_PROTECTED 0x00000002u

// Key blob types and the blob header
#define SIMPLEBLOB 0x1
#define PUBLICKEYBLOB 0x6
#define PRIVATEKEYBLOB 0x7
#define CUR_BLOB_VERSION 2

struct BLOBHEADER {
    BYTE bType;
    BYTE bVersion;
    WORD reserved;
    ALG_ID aiKeyAlg;
};
using PUBLICKEYSTRUC = BLOBHEADER;

// Key parameters
#define KP_IV 1
#define KP_SALT 2
#define KP_PADDING 3
#define KP_MODE 4
#define KP_PERMISSIONS 6
#define KP_ALGID 7
#define KP_BLOCKLEN 8
#define KP_KEYLEN 9
#define KP_CERTIFICATE 26

// Provider parameters and enumeration flags
#define PP_ENUMCONTAINERS 2
#define PP_NAME 4
#define PP_VERSION 5
#define PP_CONTAINER 6
#define PP_PROVTYPE 16
#define PP_UNIQUE_CONTAINER 36
#define CRYPT_FIRST 1
#define CRYPT_NEXT 2

// Hash parameters
#define HP_ALGID 0x0001
#define HP_HASHVAL 0x0002
#define HP_HASHSIZE 0x0004

// Errors reported through GetLastError()
#ifndef ERROR_MORE_DATA
#define ERROR_MORE_DATA 234L
#endif
#ifndef ERROR_NO_MORE_ITEMS
#define ERROR_NO_MORE_ITEMS 259L
#endif
#define NTE_BAD_UID 0x80090001u
#define NTE_BAD_HASH 0x80090002u
#define NTE_BAD_KEY 0x80090003u
#define NTE_BAD_LEN 0x80090004u
#define NTE_BAD_DATA 0x80090005u
#define NTE_BAD_SIGNATURE 0x80090006u
#define NTE_BAD_VER 0x80090007u
#define NTE_BAD_ALGID 0x80090008u
#define NTE_BAD_FLAGS 0x80090009u
#define NTE_BAD_TYPE 0x8009000Au
#define NTE_BAD_KEY_STATE 0x8009000Bu
#define NTE_BAD_HASH_STATE 0x8009000Cu
#define NTE_NO_KEY 0x8009000Du
#define NTE_NO_MEMORY 0x8009000Eu
#define NTE_EXISTS 0x8009000Fu
#define NTE_PERM 0x80090010u
#define NTE_NOT_FOUND 0x80090011u
#define NTE_BAD_PROV_TYPE 0x80090014u
#define NTE_BAD_PUBLIC_KEY 0x80090015u
#define NTE_BAD_KEYSET 0x80090016u
#define NTE_PROV_TYPE_NOT_DEF 0x80090017u
#define NTE_KEYSET_NOT_DEF 0x80090019u
#define NTE_KEYSET_ENTRY_BAD 0x8009001Au
#define NTE_BAD_KEYSET_PARAM 0x8009001Fu
#define NTE_FAIL 0x80090020u
#define CRYPT_E_BAD_ENCODE 0x80092002u
#define CRYPT_E_NOT_FOUND 0x80092004u
#define CRYPT_E_EXISTS 0x80092005u
#define CRYPT_E_NO_MATCH 0x80092009u
#define CRYPT_E_NO_KEY_PROPERTY 0x8009200Bu
#define CRYPT_E_NO_MATCH_ENCODING 0x8009200Eu

// ---- advapi32: providers, keys, hashes
BOOL CryptAcquireContextA(HCRYPTPROV* phProv, LPCSTR szContainer, LPCSTR szProvider,
                          DWORD dwProvType, DWORD dwFlags);
BOOL CryptReleaseContext(HCRYPTPROV hProv, DWORD dwFlags);
BOOL CryptGetProvParam(HCRYPTPROV hProv, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                       DWORD dwFlags);
BOOL CryptGenKey(HCRYPTPROV hProv, ALG_ID Algid, DWORD dwFlags, HCRYPTKEY* phKey);
BOOL CryptGetUserKey(HCRYPTPROV hProv, DWORD dwKeySpec, HCRYPTKEY* phUserKey);
BOOL CryptExportKey(HCRYPTKEY hKey, HCRYPTKEY hExpKey, DWORD dwBlobType, DWORD dwFlags,
                    BYTE* pbData, DWORD* pdwDataLen);
BOOL CryptImportKey(HCRYPTPROV hProv, const BYTE* pbData, DWORD dwDataLen, HCRYPTKEY hPubKey,
                    DWORD dwFlags, HCRYPTKEY* phKey);
BOOL CryptSetKeyParam(HCRYPTKEY hKey, DWORD dwParam, const BYTE* pbData, DWORD dwFlags);
BOOL CryptGetKeyParam(HCRYPTKEY hKey, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                      DWORD dwFlags);
BOOL CryptDestroyKey(HCRYPTKEY hKey);
BOOL CryptEncrypt(HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL Final, DWORD dwFlags, BYTE* pbData,
                  DWORD* pdwDataLen, DWORD dwBufLen);
BOOL CryptDecrypt(HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL Final, DWORD dwFlags, BYTE* pbData,
                  DWORD* pdwDataLen);
BOOL CryptCreateHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD dwFlags,
                     HCRYPTHASH* phHash);
BOOL CryptHashData(HCRYPTHASH hHash, const BYTE* pbData, DWORD dwDataLen, DWORD dwFlags);
BOOL CryptGetHashParam(HCRYPTHASH hHash, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                       DWORD dwFlags);
BOOL CryptSignHashA(HCRYPTHASH hHash, DWORD dwKeySpec, LPCSTR szDescription, DWORD dwFlags,
                    BYTE* pbSignature, DWORD* pdwSigLen);
BOOL CryptVerifySignatureA(HCRYPTHASH hHash, const BYTE* pbSignature, DWORD dwSigLen,
                           HCRYPTKEY hPubKey, LPCSTR szDescription, DWORD dwFlags);
BOOL CryptDestroyHash(HCRYPTHASH hHash);

// ---- crypt32: certificates
#define X509_ASN_ENCODING 0x00000001u
#define PKCS_7_ASN_ENCODING 0x00010000u

struct CRYPT_INTEGER_BLOB {
    DWORD cbData;
    BYTE* pbData;
};
using CRYPT_DATA_BLOB = CRYPT_INTEGER_BLOB;
using CRYPT_OBJID_BLOB = CRYPT_INTEGER_BLOB;
using CERT_NAME_BLOB = CRYPT_INTEGER_BLOB;
using CRYPT_HASH_BLOB = CRYPT_INTEGER_BLOB;
using DATA_BLOB = CRYPT_INTEGER_BLOB;
using PCRYPT_DATA_BLOB = CRYPT_INTEGER_BLOB*;

struct CRYPT_BIT_BLOB {
    DWORD cbData;
    BYTE* pbData;
    DWORD cUnusedBits;
};

struct CRYPT_ALGORITHM_IDENTIFIER {
    LPSTR pszObjId;
    CRYPT_OBJID_BLOB Parameters;
};

struct CERT_PUBLIC_KEY_INFO {
    CRYPT_ALGORITHM_IDENTIFIER Algorithm;
    CRYPT_BIT_BLOB PublicKey;
};

struct CERT_EXTENSION {
    LPSTR pszObjId;
    BOOL fCritical;
    CRYPT_OBJID_BLOB Value;
};
using PCERT_EXTENSION = CERT_EXTENSION*;

struct CERT_INFO {
    DWORD dwVersion;
    CRYPT_INTEGER_BLOB SerialNumber;  // least significant byte first
    CRYPT_ALGORITHM_IDENTIFIER SignatureAlgorithm;
    CERT_NAME_BLOB Issuer;
    FILETIME NotBefore;
    FILETIME NotAfter;
    CERT_NAME_BLOB Subject;
    CERT_PUBLIC_KEY_INFO SubjectPublicKeyInfo;
    CRYPT_BIT_BLOB IssuerUniqueId;
    CRYPT_BIT_BLOB SubjectUniqueId;
    DWORD cExtension;
    PCERT_EXTENSION rgExtension;
};
using PCERT_INFO = CERT_INFO*;

struct CERT_CONTEXT {
    DWORD dwCertEncodingType;
    BYTE* pbCertEncoded;
    DWORD cbCertEncoded;
    PCERT_INFO pCertInfo;
    HCERTSTORE hCertStore;
};
using PCERT_CONTEXT = CERT_CONTEXT*;
using PCCERT_CONTEXT = const CERT_CONTEXT*;

struct CRL_ENTRY {
    CRYPT_INTEGER_BLOB SerialNumber;  // least significant byte first
    FILETIME RevocationDate;
    DWORD cExtension;
    PCERT_EXTENSION rgExtension;
};
using PCRL_ENTRY = CRL_ENTRY*;

struct CRL_INFO {
    DWORD dwVersion;
    CRYPT_ALGORITHM_IDENTIFIER SignatureAlgorithm;
    CERT_NAME_BLOB Issuer;
    FILETIME ThisUpdate;
    FILETIME NextUpdate;  // zero when the list names none
    DWORD cCRLEntry;
    PCRL_ENTRY rgCRLEntry;
    DWORD cExtension;
    PCERT_EXTENSION rgExtension;
};
using PCRL_INFO = CRL_INFO*;

struct CRL_CONTEXT {
    DWORD dwCertEncodingType;
    BYTE* pbCrlEncoded;
    DWORD cbCrlEncoded;
    PCRL_INFO pCrlInfo;
    HCERTSTORE hCertStore;
};
using PCRL_CONTEXT = CRL_CONTEXT*;
using PCCRL_CONTEXT = const CRL_CONTEXT*;

// CryptQueryObject. What comes back depends on the content found: a
// certificate gives a certificate context in ppvContext, a CRL a CRL
// context; a PKCS#7 message gives no context but a store holding its
// certificates (phCertStore) and the message (phMsg). The caller frees
// whatever it asked for and was given.
#define CERT_QUERY_OBJECT_FILE 0x00000001u
#define CERT_QUERY_OBJECT_BLOB 0x00000002u
#define CERT_QUERY_CONTENT_CERT 1
#define CERT_QUERY_CONTENT_CTL 2
#define CERT_QUERY_CONTENT_CRL 3
#define CERT_QUERY_CONTENT_SERIALIZED_STORE 4
#define CERT_QUERY_CONTENT_SERIALIZED_CERT 5
#define CERT_QUERY_CONTENT_SERIALIZED_CTL 6
#define CERT_QUERY_CONTENT_SERIALIZED_CRL 7
#define CERT_QUERY_CONTENT_PKCS7_SIGNED 8
#define CERT_QUERY_CONTENT_PKCS7_UNSIGNED 9
#define CERT_QUERY_CONTENT_PKCS7_SIGNED_EMBED 10
#define CERT_QUERY_CONTENT_PKCS10 11
#define CERT_QUERY_CONTENT_PFX 12
#define CERT_QUERY_CONTENT_CERT_PAIR 13
#define CERT_QUERY_CONTENT_FLAG_CERT (1u << CERT_QUERY_CONTENT_CERT)
#define CERT_QUERY_CONTENT_FLAG_CTL (1u << CERT_QUERY_CONTENT_CTL)
#define CERT_QUERY_CONTENT_FLAG_CRL (1u << CERT_QUERY_CONTENT_CRL)
#define CERT_QUERY_CONTENT_FLAG_SERIALIZED_STORE (1u << CERT_QUERY_CONTENT_SERIALIZED_STORE)
#define CERT_QUERY_CONTENT_FLAG_SERIALIZED_CERT (1u << CERT_QUERY_CONTENT_SERIALIZED_CERT)
#define CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED (1u << CERT_QUERY_CONTENT_PKCS7_SIGNED)
#define CERT_QUERY_CONTENT_FLAG_PKCS7_UNSIGNED (1u << CERT_QUERY_CONTENT_PKCS7_UNSIGNED)
#define CERT_QUERY_CONTENT_FLAG_ALL 0x00003FFEu
#define CERT_QUERY_FORMAT_BINARY 1
#define CERT_QUERY_FORMAT_BASE64_ENCODED 2
#define CERT_QUERY_FORMAT_ASN_ASCII_HEX_ENCODED 3
#define CERT_QUERY_FORMAT_FLAG_BINARY (1u << CERT_QUERY_FORMAT_BINARY)
#define CERT_QUERY_FORMAT_FLAG_BASE64_ENCODED (1u << CERT_QUERY_FORMAT_BASE64_ENCODED)
#define CERT_QUERY_FORMAT_FLAG_ALL 0x0000000Eu

BOOL CryptQueryObject(DWORD dwObjectType, const void* pvObject, DWORD dwExpectedContentTypeFlags,
                      DWORD dwExpectedFormatTypeFlags, DWORD dwFlags,
                      DWORD* pdwMsgAndCertEncodingType, DWORD* pdwContentType,
                      DWORD* pdwFormatType, HCERTSTORE* phCertStore, HCRYPTMSG* phMsg,
                      const void** ppvContext);
PCCERT_CONTEXT CertCreateCertificateContext(DWORD dwCertEncodingType, const BYTE* pbCertEncoded,
                                            DWORD cbCertEncoded);
PCCERT_CONTEXT CertDuplicateCertificateContext(PCCERT_CONTEXT pCertContext);
BOOL CertFreeCertificateContext(PCCERT_CONTEXT pCertContext);
BOOL CertFreeCRLContext(PCCRL_CONTEXT pCrlContext);
BOOL CryptMsgClose(HCRYPTMSG hCryptMsg);

// The key container of a certificate (CERT_KEY_PROV_INFO_PROP_ID), laid out
// as on Windows. A null provider name means the default provider of the
// type. The Linux stand-in keeps no provider parameters (cProvParam must
// be 0).
struct CRYPT_KEY_PROV_PARAM {
    DWORD dwParam;
    BYTE* pbData;
    DWORD cbData;
    DWORD dwFlags;
};
using PCRYPT_KEY_PROV_PARAM = CRYPT_KEY_PROV_PARAM*;

struct CRYPT_KEY_PROV_INFO {
    LPWSTR pwszContainerName;
    LPWSTR pwszProvName;
    DWORD dwProvType;
    DWORD dwFlags;
    DWORD cProvParam;
    PCRYPT_KEY_PROV_PARAM rgProvParam;
    DWORD dwKeySpec;
};
using PCRYPT_KEY_PROV_INFO = CRYPT_KEY_PROV_INFO*;

#define CERT_KEY_PROV_INFO_PROP_ID 2

// Properties travel with the context: CertAddCertificateContextToStore
// stores them with the certificate. A null pvData removes the property.
// Getting one uses the two-call size query; an absent property fails with
// CRYPT_E_NOT_FOUND. On Linux only CERT_KEY_PROV_INFO_PROP_ID is kept.
BOOL CertSetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId, DWORD dwFlags,
                                       const void* pvData);
BOOL CertGetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId, void* pvData,
                                       DWORD* pcbData);

// The key of a certificate: the container named by its
// CERT_KEY_PROV_INFO_PROP_ID property. The Linux stand-in falls back, for
// certificates without the property only, to the container whose public
// key equals the certificate's.
BOOL CryptAcquireCertificatePrivateKey(PCCERT_CONTEXT pCert, DWORD dwFlags, void* pvParameters,
                                       HCRYPTPROV_OR_NCRYPT_KEY_HANDLE* phCryptProvOrNCryptKey,
                                       DWORD* pdwKeySpec, BOOL* pfCallerFreeProvOrNCryptKey);

// System certificate stores
#define CERT_STORE_PROV_SYSTEM_W (reinterpret_cast<LPCSTR>(10))
#define CERT_STORE_PROV_SYSTEM CERT_STORE_PROV_SYSTEM_W
#define CERT_SYSTEM_STORE_CURRENT_USER 0x00010000u
#define CERT_STORE_ADD_NEW 1
#define CERT_STORE_ADD_USE_EXISTING 2
#define CERT_STORE_ADD_REPLACE_EXISTING 3
#define CERT_STORE_ADD_ALWAYS 4

// pvPara of CERT_STORE_PROV_SYSTEM_W is the store name as UTF-16 (LPCWSTR).
HCERTSTORE CertOpenStore(LPCSTR lpszStoreProvider, DWORD dwEncodingType, HCRYPTPROV_LEGACY hCryptProv,
                         DWORD dwFlags, const void* pvPara);
PCCERT_CONTEXT CertEnumCertificatesInStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pPrevCertContext);
BOOL CertAddCertificateContextToStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pCertContext,
                                      DWORD dwAddDisposition, PCCERT_CONTEXT* ppStoreContext);
BOOL CertCloseStore(HCERTSTORE hCertStore, DWORD dwFlags);

// ---- crypt32: decoding certificate structures (CryptDecodeObject)
// Two-call size query: with pvStructInfo null the size is returned; a
// buffer that is too small fails with ERROR_MORE_DATA. The structure and
// everything it points to are laid out inside the caller's buffer.
#define X509_NAME (reinterpret_cast<LPCSTR>(7))
#define X509_AUTHORITY_KEY_ID2 (reinterpret_cast<LPCSTR>(31))
#define X509_ENHANCED_KEY_USAGE (reinterpret_cast<LPCSTR>(36))
#define szOID_AUTHORITY_KEY_IDENTIFIER2 "2.5.29.35"
#define szOID_ENHANCED_KEY_USAGE "2.5.29.37"

// Value types of a name attribute. BMP and UTF-8 strings are given as
// UTF-16 (WCHAR) text, universal strings as 32-bit characters, the other
// string kinds as their bytes; every string value is followed by a zero
// character that cbData does not count. A value that is no string is given
// encoded (CERT_RDN_ENCODED_BLOB, its whole DER).
#define CERT_RDN_ANY_TYPE 0
#define CERT_RDN_ENCODED_BLOB 1
#define CERT_RDN_OCTET_STRING 2
#define CERT_RDN_NUMERIC_STRING 3
#define CERT_RDN_PRINTABLE_STRING 4
#define CERT_RDN_TELETEX_STRING 5
#define CERT_RDN_T61_STRING 5
#define CERT_RDN_VIDEOTEX_STRING 6
#define CERT_RDN_IA5_STRING 7
#define CERT_RDN_GRAPHIC_STRING 8
#define CERT_RDN_VISIBLE_STRING 9
#define CERT_RDN_ISO646_STRING 9
#define CERT_RDN_GENERAL_STRING 10
#define CERT_RDN_UNIVERSAL_STRING 11
#define CERT_RDN_INT4_STRING 11
#define CERT_RDN_BMP_STRING 12
#define CERT_RDN_UNICODE_STRING 12
#define CERT_RDN_UTF8_STRING 13

using CERT_RDN_VALUE_BLOB = CRYPT_INTEGER_BLOB;

struct CERT_RDN_ATTR {
    LPSTR pszObjId;
    DWORD dwValueType;
    CERT_RDN_VALUE_BLOB Value;
};
using PCERT_RDN_ATTR = CERT_RDN_ATTR*;

struct CERT_RDN {
    DWORD cRDNAttr;
    PCERT_RDN_ATTR rgRDNAttr;
};
using PCERT_RDN = CERT_RDN*;

struct CERT_NAME_INFO {
    DWORD cRDN;
    PCERT_RDN rgRDN;
};
using PCERT_NAME_INFO = CERT_NAME_INFO*;

struct CTL_USAGE {
    DWORD cUsageIdentifier;
    LPSTR* rgpszUsageIdentifier;
};
using CERT_ENHKEY_USAGE = CTL_USAGE;
using PCERT_ENHKEY_USAGE = CTL_USAGE*;

struct CERT_OTHER_NAME {
    LPSTR pszObjId;
    CRYPT_OBJID_BLOB Value;
};
using PCERT_OTHER_NAME = CERT_OTHER_NAME*;

#define CERT_ALT_NAME_OTHER_NAME 1
#define CERT_ALT_NAME_RFC822_NAME 2
#define CERT_ALT_NAME_DNS_NAME 3
#define CERT_ALT_NAME_X400_ADDRESS 4
#define CERT_ALT_NAME_DIRECTORY_NAME 5
#define CERT_ALT_NAME_EDI_PARTY_NAME 6
#define CERT_ALT_NAME_URL 7
#define CERT_ALT_NAME_IP_ADDRESS 8
#define CERT_ALT_NAME_REGISTERED_ID 9

struct CERT_ALT_NAME_ENTRY {
    DWORD dwAltNameChoice;
    union {
        PCERT_OTHER_NAME pOtherName;
        LPWSTR pwszRfc822Name;
        LPWSTR pwszDNSName;
        CERT_NAME_BLOB DirectoryName;
        LPWSTR pwszURL;
        CRYPT_DATA_BLOB IPAddress;
        LPSTR pszRegisteredID;
    };
};
using PCERT_ALT_NAME_ENTRY = CERT_ALT_NAME_ENTRY*;

struct CERT_ALT_NAME_INFO {
    DWORD cAltEntry;
    PCERT_ALT_NAME_ENTRY rgAltEntry;
};

// KeyId as encoded; AuthorityCertSerialNumber least significant byte first.
struct CERT_AUTHORITY_KEY_ID2_INFO {
    CRYPT_DATA_BLOB KeyId;
    CERT_ALT_NAME_INFO AuthorityCertIssuer;
    CRYPT_INTEGER_BLOB AuthorityCertSerialNumber;
};
using PCERT_AUTHORITY_KEY_ID2_INFO = CERT_AUTHORITY_KEY_ID2_INFO*;

#define CRYPT_E_REVOKED 0x80092010u
#define CRYPT_E_NO_REVOCATION_CHECK 0x80092012u
#define CRYPT_E_REVOCATION_OFFLINE 0x80092013u
#define CRYPT_E_ASN1_EOD 0x80093102u
#define CRYPT_E_ASN1_CORRUPT 0x80093106u

BOOL CryptDecodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType, const BYTE* pbEncoded,
                       DWORD cbEncoded, DWORD dwFlags, void* pvStructInfo, DWORD* pcbStructInfo);
// The first extension with the OID, or null.
PCERT_EXTENSION CertFindExtension(LPCSTR pszObjId, DWORD cExtensions, CERT_EXTENSION rgExtensions[]);

// ---- crypt32: revocation
// On Linux the answer comes from the certificate revocation lists kept in
// the folder crls/ beside the certificate stores (see the README).
#define CERT_CONTEXT_REVOCATION_TYPE 1
#define CERT_VERIFY_REV_CHAIN_FLAG 0x00000001u

#define CRL_REASON_UNSPECIFIED 0
#define CRL_REASON_KEY_COMPROMISE 1
#define CRL_REASON_CA_COMPROMISE 2
#define CRL_REASON_AFFILIATION_CHANGED 3
#define CRL_REASON_SUPERSEDED 4
#define CRL_REASON_CESSATION_OF_OPERATION 5
#define CRL_REASON_CERTIFICATE_HOLD 6

struct CERT_REVOCATION_PARA {
    DWORD cbSize;
    PCCERT_CONTEXT pIssuerCert;
};
using PCERT_REVOCATION_PARA = CERT_REVOCATION_PARA*;

// 24 bytes, as on Windows.
struct CERT_REVOCATION_STATUS {
    DWORD cbSize;
    DWORD dwIndex;
    DWORD dwError;
    DWORD dwReason;
    BOOL fHasFreshnessTime;
    DWORD dwFreshnessTime;
};
using PCERT_REVOCATION_STATUS = CERT_REVOCATION_STATUS*;

BOOL CertVerifyRevocation(DWORD dwEncodingType, DWORD dwRevType, DWORD cContext, void* rgpvContext[],
                          DWORD dwFlags, PCERT_REVOCATION_PARA pRevPara, PCERT_REVOCATION_STATUS pRevStatus);
#endif  // _WIN32

// GOST algorithm numbers, provider types and parameters that the system
// headers of Windows do not carry.
#ifndef PROV_GOST_2001_DH
#define PROV_GOST_2001_DH 75
#endif
#ifndef PROV_GOST_2012_256
#define PROV_GOST_2012_256 80
#endif
#ifndef PROV_GOST_2012_512
#define PROV_GOST_2012_512 81
#endif
#ifndef CALG_G28147
#define CALG_G28147 0x661E
#endif
#ifndef CALG_PRO_EXPORT
#define CALG_PRO_EXPORT 0x661F
#endif
#ifndef CALG_PRO12_EXPORT
#define CALG_PRO12_EXPORT 0x6621
#endif
#ifndef CALG_GR3411
#define CALG_GR3411 0x801E
#endif
#ifndef CALG_GR3411_2012_256
#define CALG_GR3411_2012_256 0x8021
#endif
#ifndef CALG_GR3411_2012_512
#define CALG_GR3411_2012_512 0x8022
#endif
#ifndef CALG_GR3410EL
#define CALG_GR3410EL 0x2E23
#endif
#ifndef CALG_GR3410_12_256
#define CALG_GR3410_12_256 0x2E49
#endif
#ifndef CALG_GR3410_12_512
#define CALG_GR3410_12_512 0x2E3D
#endif
#ifndef CALG_DH_EL_SF
#define CALG_DH_EL_SF 0xAA24
#endif
#ifndef CALG_DH_GR3410_12_256_SF
#define CALG_DH_GR3410_12_256_SF 0xAA46
#endif
#ifndef CALG_DH_GR3410_12_512_SF
#define CALG_DH_GR3410_12_512_SF 0xAA42
#endif
// Magic of the GOST SIMPLEBLOB and PUBLICKEYBLOB bodies.
#ifndef G28147_MAGIC
#define G28147_MAGIC 0x374A51FD
#endif
#ifndef GR3410_1_MAGIC
#define GR3410_1_MAGIC 0x3147414D  // "MAG1"
#endif
// Second parameter number through which the export algorithm of an agreed
// key is chosen on the providers of type 2, 77 and 78.
#ifndef KP_EXPORT_ALGID2
#define KP_EXPORT_ALGID2 108
#endif
// Enumerate fully qualified container names (with PP_ENUMCONTAINERS).
#ifndef CRYPT_FQCN
#define CRYPT_FQCN 0x00000008
#endif
