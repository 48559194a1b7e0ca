#include "pki/COids.h"

namespace tesel {

namespace {

template <typename E, typename Map>
E lookup(const Map& map, const char* oid) {
    const auto it = map.find(std::string(oid ? oid : ""));
    return it == map.end() ? static_cast<E>(-1) : it->second;
}

}  // namespace

COids::COids() {
    for (int i = 0; i < kOIDCount; ++i) m_oids.emplace(eOIDString[i], static_cast<eOID>(i));
    for (int i = 0; i < kEnhKeyCount; ++i)
        m_enhKeyOids.emplace(eEnhKeyString[i], static_cast<eEnhKeyOID>(i));
    for (int i = 0; i < qn::crypto::kAlgorithmOIDCount; ++i)
        m_algorithmOids.emplace(qn::crypto::eAlgorithmOIDString[i],
                                static_cast<qn::crypto::eAlgorithmOID>(i));
}

COids& COids::instance() {
    // A function-local static is initialised exactly once even when two
    // threads arrive first at the same time; it is never destroyed, so late
    // users during process exit still find it.
    static COids* const registry = new COids();
    return *registry;
}

eOID COids::getOID(const char* oid) { return lookup<eOID>(instance().m_oids, oid); }

eEnhKeyOID COids::getEnhKeyOID(const char* oid) {
    return lookup<eEnhKeyOID>(instance().m_enhKeyOids, oid);
}

qn::crypto::eAlgorithmOID COids::getAlgorithmOID(const char* oid) {
    return lookup<qn::crypto::eAlgorithmOID>(instance().m_algorithmOids, oid);
}

}  // namespace tesel
