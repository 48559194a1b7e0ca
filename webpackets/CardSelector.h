// The card a card command addresses with a key and a packet type: the
// partner card under the key (types 1 and 9) or the card of the client
// controller's current packet (type 7, "Продление"). Each command names the
// types it accepts.
#pragma once

#include <functional>
#include <initializer_list>
#include <string>

#include "client/CClient.h"
#include "transport/CPacket_PKCS10_Client_Base.h"
#include "transport/common/PackageType.h"

// Runs edit on the addressed card under the lock of its owner; packet is the
// current packet for type 7 and null otherwise. Returns false (edit not run)
// for a type outside accepted or when no card is there.
bool editSelectedCard(const std::string& key, tesel::PackageType type,
                      std::initializer_list<tesel::PackageType> accepted,
                      const std::function<void(tesel::CClient& card, CPacket_PKCS10_Client_Base* packet)>& edit);
