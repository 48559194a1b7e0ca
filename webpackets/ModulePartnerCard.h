// The partner cards the web page keeps in memory: client cards of a partner
// organisation's own clients, each under a key the page chooses. Cards live
// until the program ends. Several connections use the map at once: the map
// and the cards' contents are guarded by the module's lock, and cards are
// handed out in shared ownership.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "transport/CPacketClientCard.h"

class ModulePartnerCard {
public:
    static ModulePartnerCard& instance();

    ModulePartnerCard() = default;
    ModulePartnerCard(const ModulePartnerCard&) = delete;
    ModulePartnerCard& operator=(const ModulePartnerCard&) = delete;

    void init() {}

    // Inserts a new default card under key unless the key exists (then
    // nothing changes). Returns 0 in both cases.
    int createPartnerCard(const std::string& key);
    // The card under key, or null.
    std::shared_ptr<CPacketClientCard> getPartnerCard(const std::string& key) const;
    // Runs use with the card under key under the module's lock; false (use
    // not run) when there is no card under key.
    bool withPartnerCard(const std::string& key, const std::function<void(CPacketClientCard&)>& use);

private:
    mutable std::mutex m_mutex;      // the map
    mutable std::mutex m_cardMutex;  // the cards' contents
    std::map<std::string, std::shared_ptr<CPacketClientCard>> m_cards;
};
