#include "webpackets/CardSelector.h"

#include <algorithm>

#include "webpackets/ControllerWebPackets.h"
#include "webpackets/ModulePartnerCard.h"

bool editSelectedCard(const std::string& key, tesel::PackageType type,
                      std::initializer_list<tesel::PackageType> accepted,
                      const std::function<void(tesel::CClient& card, CPacket_PKCS10_Client_Base* packet)>& edit) {
    if (std::find(accepted.begin(), accepted.end(), type) == accepted.end()) return false;
    switch (type) {
        case tesel::PT_CLIENT_CARD:
        case tesel::PT_KA_CARD:
            return ModulePartnerCard::instance().withPartnerCard(
                key, [&](CPacketClientCard& card) { edit(card.getClient(), nullptr); });
        case tesel::PT_PROLONG:
            return ControllerWebPackets::instance().withCurrentClientPacket(
                [&](CPacket_PKCS10_Client_Base& packet) { edit(packet.getClient(), &packet); });
        default:
            return false;
    }
}
