// Registry that turns dotted OID text back into the fixed enumerations.
// Created and filled on first use (safe when several threads get there at
// once), never changed afterwards, so lookups need no lock.
#pragma once

#include <map>
#include <string>

#include "pki/eAlgorithmOID.h"
#include "pki/eEnhKeyOID.h"
#include "pki/eOID.h"

namespace tesel {

class COids {
public:
    static COids& instance();

    // Exact, case-sensitive lookups; -1 when the text is not registered.
    // A null pointer counts as the empty text.
    static eOID getOID(const char* oid);
    static eOID getOID(const std::string& oid) { return getOID(oid.c_str()); }
    static eEnhKeyOID getEnhKeyOID(const char* oid);
    static eEnhKeyOID getEnhKeyOID(const std::string& oid) { return getEnhKeyOID(oid.c_str()); }
    static qn::crypto::eAlgorithmOID getAlgorithmOID(const char* oid);
    static qn::crypto::eAlgorithmOID getAlgorithmOID(const std::string& oid) {
        return getAlgorithmOID(oid.c_str());
    }

    COids(const COids&) = delete;
    COids& operator=(const COids&) = delete;

private:
    COids();

    std::map<std::string, eOID> m_oids;
    std::map<std::string, eEnhKeyOID> m_enhKeyOids;
    std::map<std::string, qn::crypto::eAlgorithmOID> m_algorithmOids;
};

}  // namespace tesel
