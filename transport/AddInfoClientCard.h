// What a partner's client card packet carries, as read back from its
// payload: the client card.
#pragma once

#include "client/CClient.h"

struct AddInfoClientCard {
    tesel::CClient client;

    tesel::CClient& getClient() { return client; }
};
