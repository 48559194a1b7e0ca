// Display names of the certificate sources (eCertStore), ordered byte-wise
// by name, like the provider kind registry.
#pragma once

#include <map>
#include <string>

#include "crypto/eCertStore.h"

namespace tesel {

class CCertStores {
public:
    // The process-wide registry, filled on first use; never destroyed.
    static CCertStores& instance();

    // Fills the registry with the four sources; does nothing when filled.
    void init();
    // The source's display name (ANSI code page); for a value without a name
    // the first name in byte order, "JaCarta GOST".
    std::string getStoreString(eCertStore store) const;
    // The source whose display name equals name exactly; -1 otherwise.
    eCertStore getStoreType(const std::string& name) const;

private:
    CCertStores() = default;
    std::map<std::string, eCertStore> m_names;
};

}  // namespace tesel
