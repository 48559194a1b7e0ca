// Algorithm tables of the software GOST provider: the three key size
// classes, the curves behind the parameter-set OIDs, the hashes and the
// GOST 28147-89 parameter sets, and the few DER helpers for OIDs that the
// key blobs carry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace plcsp {

enum class KeyClass { None, G2001, G2012_256, G2012_512 };

struct KeyClassInfo {
    KeyClass cls;
    unsigned pubKeyAlg;       // aiKeyAlg of the public key blob
    unsigned agreeAlg;        // algorithm number of an agreed key
    unsigned hashAlg;         // the hash that goes with the key
    unsigned bits;            // public key length in bits (512 or 1024)
    const char* curveOid;     // signature parameter set of new keys
    const char* hashParamOid; // hash parameter set written into public key blobs
    const char* cipherOid;    // GOST 28147-89 parameter set of session keys
};

// Class of a CryptoAPI provider type (2, 75 → 2001; 77, 80 → 2012/256;
// 78, 81 → 2012/512); nullptr for any other type.
const KeyClassInfo* classOfProvType(unsigned provType);
const KeyClassInfo* classInfo(KeyClass cls);
// Class of a public key algorithm number (0x2E23, 0x2E49, 0x2E3D).
const KeyClassInfo* classOfPubKeyAlg(unsigned alg);

struct CurveInfo {
    const char* gcryName;   // libgcrypt curve name
    unsigned coordBytes;    // 32 or 64
    unsigned cofactor;
};

// Curve of a signature parameter-set OID, nullptr when unknown.
const CurveInfo* curveOfOid(const std::string& oid);

// Hashes: CryptoAPI algorithm number → libgcrypt algorithm and size.
struct HashInfo {
    unsigned algId;
    int gcryAlgo;
    unsigned size;
};
const HashInfo* hashOfAlgId(unsigned algId);

// GOST 28147-89 parameter sets that libgcrypt knows (S-box OIDs).
bool isKnownSboxOid(const std::string& oid);

// DER of an OBJECT IDENTIFIER (06 len content) from its dotted text; empty
// for malformed text.
std::vector<unsigned char> derOid(const std::string& dotted);
// Dotted text of the OBJECT IDENTIFIER content bytes; empty when malformed.
std::string oidText(const unsigned char* content, std::size_t n);

// A bounded reader of DER TLVs (definite lengths only).
struct DerTlv {
    unsigned char tag = 0;
    const unsigned char* content = nullptr;
    std::size_t length = 0;
    std::size_t headerLength = 0;
};
// Reads one TLV at p (at most `avail` bytes); false when it does not fit.
bool readTlv(const unsigned char* p, std::size_t avail, DerTlv& out);

// SEQUENCE { OID, OID, ... } of the given dotted OIDs.
std::vector<unsigned char> derOidSequence(const std::vector<std::string>& oids);
// The OIDs of a SEQUENCE that holds only OIDs; false when malformed.
bool parseOidSequence(const unsigned char* p, std::size_t n, std::vector<std::string>& oids);

}  // namespace plcsp
