#include "crypto/CCertStores.h"

#include "core/TextConvert.h"

namespace tesel {

namespace {

struct StoreName {
    eCertStore store;
    const char* utf8;  // kept in the ANSI code page once converted
};

constexpr StoreName kNames[] = {
    {CERT_STORE_UNDEFINED, "Не определён"},
    {CERT_STORE_SYSTEM, "Хранилище личных сертификатов"},
    {CERT_STORE_JACARTA, "JaCarta GOST"},
    {CERT_STORE_RUTOKEN, "RuToken GOST"},
};

}  // namespace

CCertStores& CCertStores::instance() {
    // Built once, thread-safely, and then only read.
    static CCertStores* registry = [] {
        auto* r = new CCertStores();
        r->init();
        return r;
    }();
    return *registry;
}

void CCertStores::init() {
    if (!m_names.empty()) {
        return;
    }
    for (const StoreName& s : kNames) {
        m_names.emplace(convertFromUTF8(s.utf8), s.store);
    }
}

std::string CCertStores::getStoreString(eCertStore store) const {
    for (const auto& [name, value] : m_names) {
        if (value == store) {
            return name;
        }
    }
    return m_names.empty() ? std::string() : m_names.begin()->first;
}

eCertStore CCertStores::getStoreType(const std::string& name) const {
    auto it = m_names.find(name);
    return it == m_names.end() ? CERT_STORE_UNDEFINED : it->second;
}

}  // namespace tesel
