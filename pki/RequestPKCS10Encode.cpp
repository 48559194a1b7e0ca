// DER encoding of the request: subject name, extension request, subject
// public key and the request frame with its placeholder signature.
#include "core/TextConvert.h"
#include "crypto/C_ASN1.h"
#include "crypto/CspAlgorithms.h"
#include "errors/eErrCodes.h"
#include "pki/COids.h"
#include "pki/RequestPKCS10.h"

namespace tesel {

namespace {

// The public key blob: 16 fixed bytes, a SEQUENCE of the two parameter set
// OIDs from offset 16 (its TLVs from offset 18, each with a one-byte
// length), then the raw key value to the end.
constexpr unsigned kParamsOffset = 16;
constexpr unsigned kFirstParamOffset = 18;

struct KeyBlobParts {
    CBlob params[2];  // public-key parameter set, hash parameter set (whole TLVs)
    CBlob rawKey;
};

// Reads the parts of a public key blob whose key value has keyBytes bytes;
// false when the blob does not hold them whole. Nothing outside the blob's
// bytes is read.
bool splitKeyBlob(const BLOB& blob, unsigned keyBytes, KeyBlobParts& parts) {
    const unsigned size = blob.cbData;
    const unsigned char* p = blob.pbData;
    if (p == nullptr || size < kFirstParamOffset) {
        return false;
    }
    unsigned at = kFirstParamOffset;
    for (CBlob& param : parts.params) {
        if (size - at < 2) {
            return false;
        }
        const unsigned len = p[at + 1];
        if (len >= 0x80 || size - at - 2 < len) {
            return false;
        }
        param.init(p + at, 2 + len);
        at += 2 + len;
    }
    // The SEQUENCE at offset 16 must hold exactly these two TLVs: a blob
    // whose parameters are laid out otherwise would put parameter bytes
    // into the key value.
    if (p[kParamsOffset] != 0x30 || p[kParamsOffset + 1] != at - kFirstParamOffset || size - at != keyBytes) {
        return false;
    }
    parts.rawKey.init(p + at, size - at);
    return true;
}

// The string type of a subject attribute's value.
int stringKindOf(eOID oid) {
    switch (oid) {
        case OID_INN:
        case OID_OGRN:
        case OID_SNILS:
            return C_ASN1::NUMERIC_STRING;
        case OID_COUNTRY:
            return C_ASN1::PRINTABLE_STRING;
        case OID_EMAIL:
            return C_ASN1::IA5_STRING;
        default:
            return C_ASN1::UTF8_STRING;
    }
}

// Extension ::= SEQUENCE { OID, critical BOOLEAN DEFAULT FALSE, OCTET STRING }
CBlob extension(eOID oid, bool critical, const CBlob& value) {
    std::vector<CBlob> fields{C_ASN1::encode_ObjId(eOIDString[oid])};
    if (critical) {
        fields.push_back(C_ASN1::encodeBoolean(true));
    }
    fields.push_back(C_ASN1::encodeOctetString(value));
    return C_ASN1::encodeSequence(fields);
}

// SEQUENCE OF OBJECT IDENTIFIER, each optionally wrapped in its own
// SEQUENCE; false when a text is not an OID.
bool oidList(const std::vector<std::string>& oids, bool wrapEach, CBlob& out) {
    std::vector<CBlob> items;
    for (const std::string& text : oids) {
        CBlob oid = C_ASN1::encode_ObjId(text);
        if (oid.isEmpty()) {
            return false;
        }
        items.push_back(wrapEach ? C_ASN1::encodeSequence(&oid, 1) : std::move(oid));
    }
    out = C_ASN1::encodeSequence(items);
    return true;
}

}  // namespace

int RequestPKCS10::encodeDistinguishedName(CBlob* out) const {
    if (out == nullptr || m_attribs.empty()) {
        return 1;
    }
    std::vector<CBlob> rdns;
    for (const Map& attr : m_attribs) {
        const eOID oid = COids::getOID(attr.oid);
        if (oid == OID_UNKNOWN) {
            return -1;
        }
        const int kind = stringKindOf(oid);
        CBlob pair[2] = {C_ASN1::encode_ObjId(attr.oid), CBlob()};
        C_ASN1::encodeString(kind == C_ASN1::UTF8_STRING ? convertToUTF8(attr.value) : attr.value, kind,
                             pair[1]);
        const CBlob typeAndValue = C_ASN1::encodeSequence(pair, 2);
        rdns.push_back(C_ASN1::encodeSet(&typeAndValue, 1));
    }
    *out = C_ASN1::encodeSequence(rdns);
    return 0;
}

int RequestPKCS10::encodeAttributes(qn::crypto::eSupportCP csp, CBlob* out) const {
    if (out == nullptr) {
        return ERR_BUILD_CERT_REQUEST;
    }
    CBlob policies;
    CBlob purposes;
    const CBlob cipher = C_ASN1::encode_ObjId(qn::crypto::get_ENCRYPT_ALG_OID(csp));
    if (!oidList(m_policies, true, policies) || !oidList(m_purposes, false, purposes) || cipher.isEmpty()) {
        return ERR_BUILD_CERT_REQUEST;
    }
    CBlob signTool;
    C_ASN1::encodeString(convertToUTF8(m_signTool), C_ASN1::UTF8_STRING, signTool);
    // digitalSignature, nonRepudiation, keyEncipherment, dataEncipherment
    const unsigned char keyUsageBits[] = {0x04, 0xF0};
    const CBlob keyUsage = C_ASN1::encodeTLV(0x03, keyUsageBits, sizeof keyUsageBits);
    const CBlob cipherSeq = C_ASN1::encodeSequence(&cipher, 1);
    const CBlob capabilities = C_ASN1::encodeSequence(&cipherSeq, 1);

    const CBlob extensions = C_ASN1::encodeSequence({
        extension(OID_CERT_POLICIES, false, policies),
        extension(OID_SIGN_TOOL, false, signTool),
        extension(OID_ENH_KEY_USAGE, false, purposes),
        extension(OID_KEY_USAGE, true, keyUsage),
        extension(OID_SMIME_CAPABILITIES, false, capabilities),
    });
    const CBlob attribute = C_ASN1::encodeSequence({
        C_ASN1::encode_ObjId(eOIDString[OID_EXTENSION_REQUEST]),
        C_ASN1::encodeSet(&extensions, 1),
    });
    *out = C_ASN1::encodeOptional(attribute);
    return 0;
}

int RequestPKCS10::encodeSignInfo(qn::crypto::eSupportCP csp, const BLOB& publicKeyExport, CBlob* out) const {
    const CBlob algorithm = C_ASN1::encode_ObjId(qn::crypto::get_PUBKEY_ALG_OID(csp));
    KeyBlobParts parts;
    const unsigned keyBytes = qn::crypto::getPubKeySize(csp) / 8;
    if (out == nullptr || algorithm.isEmpty() || keyBytes == 0 || !splitKeyBlob(publicKeyExport, keyBytes, parts)) {
        return ERR_BUILD_CERT_REQUEST;
    }
    const CBlob algorithmId = C_ASN1::encodeSequence({algorithm, C_ASN1::encodeSequence(parts.params, 2)});
    const CBlob key = C_ASN1::encodeBitString(C_ASN1::encodeOctetString(parts.rawKey));
    *out = C_ASN1::encodeSequence({algorithmId, key});
    return 0;
}

int RequestPKCS10::createCSR(qn::crypto::eSupportCP csp, const BLOB& publicKeyExport, CBlob& request,
                             CBlob& toBeSigned) const {
    request.clear();
    toBeSigned.clear();
    CBlob name;
    int r = encodeDistinguishedName(&name);
    if (r != 0) {
        return r;
    }
    CBlob publicKey;
    CBlob attributes;
    if ((r = encodeSignInfo(csp, publicKeyExport, &publicKey)) != 0 ||
        (r = encodeAttributes(csp, &attributes)) != 0) {
        return r;
    }
    const unsigned sigSize = qn::crypto::getSignSize(csp);
    const CBlob sigAlgorithm = C_ASN1::encode_ObjId(qn::crypto::get_SIGN_ALG_OID(csp));
    if (sigSize == 0 || sigAlgorithm.isEmpty() || publicKeyExport.cbData < sigSize) {
        return ERR_BUILD_CERT_REQUEST;
    }
    CBlob info = C_ASN1::encodeSequence({C_ASN1::encodeInteger(0), name, publicKey, attributes});
    // The signer writes the signature over this placeholder of the same size.
    const CBlob placeholder = C_ASN1::encodeBitString(
        publicKeyExport.pbData + publicKeyExport.cbData - sigSize, sigSize);
    request = C_ASN1::encodeSequence({info, C_ASN1::encodeSequence({sigAlgorithm, C_ASN1::encodeNULL()}),
                                      placeholder});
    toBeSigned = std::move(info);
    return 0;
}

}  // namespace tesel
